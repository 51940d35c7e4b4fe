#include "SiteListManager.h"

#include "ConsoleLog.h"
#include "HelperProcess.h"
#include "SecretStore.h"
#include "SiteListCodec.h"

#include <algorithm>

namespace folvane {

bool sameEntry(const BaseWebsite& a, const BaseWebsite& b) {
    return a.cleanName == b.cleanName && a.dirtyURL == b.dirtyURL && a.login == b.login;
}

MergedSiteList mergedSiteList(SiteRecords current, const SiteListChange& change, const SiteRecords& known) {
    int at = -1;
    if (change.kind != SiteListChange::Kind::add) {
        // Where this program had it, unless the list moved; else the first equal entry.
        const bool stayed = change.position >= 0 && change.position < static_cast<int>(current.size()) &&
                            sameEntry(*current[static_cast<size_t>(change.position)], *change.original);
        at = stayed ? change.position : -1;
        for (size_t i = 0; at < 0 && i < current.size(); ++i)
            if (sameEntry(*current[i], *change.original))
                at = static_cast<int>(i);
        if (at < 0 && change.kind == SiteListChange::Kind::remove)
            return {std::move(current), {}};
        if (at < 0)
            return {std::move(current),
                    QStringLiteral("\"%1\" was changed or removed by another program meanwhile; nothing was "
                                   "saved")
                        .arg(change.original->cleanName)};
    }
    if (change.kind == SiteListChange::Kind::remove) {
        current.erase(current.begin() + at);
        return {std::move(current), {}};
    }
    for (size_t i = 0; i < current.size(); ++i) {
        const BaseWebsite& listed = *current[i];
        const bool seen = std::any_of(known.begin(), known.end(),
                                      [&](const auto& knownSite) { return sameEntry(*knownSite, listed); });
        if (static_cast<int>(i) != at && !seen && listed.canAddToList(change.site.get()))
            return {std::move(current),
                    QStringLiteral("another program added \"%1\" (%2) meanwhile; nothing was saved")
                        .arg(listed.cleanName, listed.dirtyURL)};
    }
    if (at < 0)
        current.push_back(change.site);
    else
        current[static_cast<size_t>(at)] = change.site;
    return {std::move(current), {}};
}

SiteListManager::SiteListManager(SecretStore& secrets, const QString& folder)
    : secrets_(secrets), file_(folder, QStringLiteral("sites.plist")) {
    if (siteListFileExists()) {
        loadFromFile();
    } else {
        // On a first start saving creates the folder and an archive of the empty list, unless a command
        // run at the same time made the file first.
        const auto lock = file_.lock();
        if (siteListFileExists())
            loadFromFile();
        else if (lock)
            writeFile(siteList_);
        else
            lastError_ = file_.lastError();
    }
    watch_ = std::make_unique<PropertyListWatch>(file_, [this] { reloadIfChanged(); });
}

SiteListManager::~SiteListManager() = default;

bool SiteListManager::createListFile() {
    return file_.prepareFirstSave(QStringLiteral("SiteListManager: Creating Folvane files"));
}

bool SiteListManager::saveToFile() {
    const auto lock = file_.lock();
    if (!lock) {
        lastError_ = file_.lastError();
        return false;
    }
    return writeFile(siteList_);
}

bool SiteListManager::writeFile(const SiteRecords& sites) {
    if (!createListFile()) {
        lastError_ = file_.lastError();
        return false;
    }
    const bool saved = file_.save(siteListCodec::archive(sites).get());
    if (!saved)
        lastError_ = file_.lastError();
    knownStamp_ = file_.stamp();
    return saved;
}

std::optional<SiteRecords> SiteListManager::readFile() {
    knownStamp_ = file_.stamp();
    const Plist root = file_.load();
    if (!root)
        return std::nullopt;
    std::optional<SiteRecords> sites = siteListCodec::sitesFrom(root.get());
    if (!sites)
        file_.keepAside();
    return sites;
}

bool SiteListManager::loadFromFile() {
    const std::optional<SiteRecords> read = readFile();
    if (!read)
        return false;
    siteList_ = adopted(*read);
    return true;
}

bool SiteListManager::reloadIfChanged() {
    if (file_.stamp() == knownStamp_)
        return false;
    {
        // The writer stores the password after the list: read once it is done with both.
        const auto lock = file_.lock();
        if (!lock || !loadFromFile())
            return false;
    }
    tellDelegate();
    return true;
}

SiteRecords SiteListManager::adopted(const SiteRecords& read) {
    SiteRecords sites;
    std::vector<bool> kept(siteList_.size(), false);
    for (const auto& record : read) {
        size_t i = 0;
        while (i < siteList_.size() && (kept[i] || !sameEntry(*siteList_[i], *record)))
            ++i;
        if (i == siteList_.size()) {
            record->listEntry = nextListEntry_++;
            sites.push_back(record);
            continue;
        }
        kept[i] = true;
        siteList_[i]->favIcon = record->favIcon;
        sites.push_back(siteList_[i]);
    }
    // A site another program removed is gone from this list too; its helper would run on unseen.
    for (size_t i = 0; i < siteList_.size(); ++i) {
        if (!kept[i] && siteList_[i]->siteConnection && siteList_[i]->siteConnection->isRunning()) {
            logLine(QStringLiteral("SiteListManager: \"%1\" was removed by another program; disconnecting it")
                        .arg(siteList_[i]->cleanName));
            siteList_[i]->siteConnection->terminate();
        }
    }
    return sites;
}

bool SiteListManager::loadPassword(BaseWebsite& site) {
    if (!site.password.isEmpty())
        return true;
    SecretLookup found = secrets_.read(SecretAttributes::of(site));
    if (!found.password && found.error.isEmpty())
        found = takeOverOlderItem(site);
    if (!found.error.isEmpty())
        logLine(QStringLiteral("Password for site ") + site.cleanName +
                QStringLiteral(" could not be retrieved: ") + found.error);
    site.password = found.password.value_or(QString());
    return !site.password.isEmpty();
}

std::vector<SecretAttributes> SiteListManager::olderKeysOf(const BaseWebsite& site) const {
    std::vector<SecretAttributes> keys;
    for (const bool withPath : {true, false}) {
        const std::optional<SecretAttributes> older = SecretAttributes::olderKeyOf(site, withPath);
        // Another site of the list under the same key may be the one that stored it.
        const bool shared =
            older && std::any_of(siteList_.begin(), siteList_.end(), [&](const auto& listed) {
                return !sameEntry(*listed, site) && SecretAttributes::olderKeyOf(*listed, withPath) == older;
            });
        if (!older || shared)
            break;
        keys.push_back(*older);
    }
    return keys;
}

SecretLookup SiteListManager::takeOverOlderItem(const BaseWebsite& site) {
    for (const SecretAttributes& older : olderKeysOf(site)) {
        const SecretLookup found = secrets_.read(older);
        if (!found.password)
            continue;
        if (const auto error = secrets_.store(SecretAttributes::of(site), *found.password)) {
            logLine(QStringLiteral("The password of site %1 could not be stored as its own: %2")
                        .arg(site.cleanName, *error));
            return found;
        }
        logLine(QStringLiteral("SiteListManager: the password of %1 is kept under its own key now")
                    .arg(site.cleanName));
        if (const auto error = secrets_.remove(older))
            logLine(QStringLiteral("SiteListManager: an old password item could not be removed: ") + *error);
        return found;
    }
    return {};
}

std::optional<QString> SiteListManager::storePassword(const SiteListChange& change) {
    if (!change.site)
        return std::nullopt;
    const SecretAttributes attributes = SecretAttributes::of(*change.site);
    // An edit of the address, user or title moves the item with the site.
    std::optional<SecretAttributes> movedFrom;
    QString password = change.site->password;
    if (change.original && SecretAttributes::of(*change.original) != attributes) {
        movedFrom = SecretAttributes::of(*change.original);
        if (password.isEmpty()) {
            BaseWebsite before = *change.original;
            loadPassword(before);
            password = before.password;
        }
    }
    if (password.isEmpty())
        return std::nullopt;
    if (const auto error = secrets_.store(attributes, password))
        return error;
    if (movedFrom)
        if (const auto error = secrets_.remove(*movedFrom))
            logLine(QStringLiteral("SiteListManager: the old password item of %1 could not be removed: %2")
                        .arg(change.site->cleanName, *error));
    return std::nullopt;
}

bool SiteListManager::commit(const SiteListChange& change) {
    bool listChanged = false;
    const bool done = [&] {
        const auto lock = file_.lock();
        if (!lock) {
            lastError_ = file_.lastError();
            return false;
        }
        // A file that cannot be read (now kept aside) or holds nothing: this program's list is all there is.
        const std::optional<SiteRecords> onDisk = readFile();
        const SiteRecords current = onDisk ? adopted(*onDisk) : siteList_;
        MergedSiteList merged = mergedSiteList(current, change, siteList_);
        if (!merged.refusal.isEmpty()) {
            // Shown as it is, so that the user sees why.
            listChanged = current != siteList_;
            siteList_ = current;
            lastError_ = merged.refusal;
            return false;
        }
        if (!writeFile(merged.sites))
            return false;
        if (const auto error = storePassword(change)) {
            if (!writeFile(current))
                logLine(QStringLiteral("SiteListManager: the list file could not be restored: ") +
                        lastError_);
            lastError_ = QStringLiteral("the password could not be stored in the Secret Service: ") + *error;
            logLine(lastError_);
            return false;
        }
        // Read again from the Secret Service when it is needed.
        if (change.site)
            change.site->password.clear();
        siteList_ = std::move(merged.sites);
        listChanged = true;
        return true;
    }();
    // Told once the lock is free: the delegate may turn the event loop, and with it the folder watch.
    if (listChanged)
        tellDelegate();
    return done;
}

bool SiteListManager::addNewSite(std::shared_ptr<BaseWebsite> site, std::optional<int> position) {
    const int size = static_cast<int>(siteList_.size());
    if (position && (*position < 0 || *position > size)) {
        lastError_ = QStringLiteral("no site at position %1").arg(*position);
        return false;
    }
    SiteListChange change{SiteListChange::Kind::add, site, nullptr, -1};
    if (position && *position < size) {
        // The list may have been read again since the copy was made: its entry is found by its mark.
        const auto entry = std::find_if(siteList_.begin(), siteList_.end(), [&](const auto& listed) {
            return site->listEntry != 0 && listed->listEntry == site->listEntry;
        });
        change.kind = SiteListChange::Kind::replace;
        change.position = entry == siteList_.end() ? *position : static_cast<int>(entry - siteList_.begin());
        change.original = siteList_[static_cast<size_t>(change.position)];
    }
    if (change.original)
        site->listEntry = change.original->listEntry;
    else
        site->listEntry = nextListEntry_++;
    return commit(change);
}

bool SiteListManager::finishedEditingSite(std::shared_ptr<BaseWebsite> site, int position) {
    return addNewSite(std::move(site), position);
}

bool SiteListManager::removeSite(const BaseWebsite& site) {
    const int position = positionOfSite(site.cleanName);
    if (position < 0) {
        lastError_ = QStringLiteral("there is no site titled \"%1\"").arg(site.cleanName);
        return false;
    }
    const QString text = QStringLiteral("This will remove \"%1\" from Folvane").arg(site.cleanName);
    if (!dialogDelete || !dialogDelete(QStringLiteral("Are you sure you wish to remove this site?"), text)) {
        lastError_ = QStringLiteral("the removal was not confirmed");
        return false;
    }
    const std::shared_ptr<BaseWebsite> removed = siteList_[static_cast<size_t>(position)];
    if (removed->siteConnection)
        removed->siteConnection->terminate();
    if (!commit({SiteListChange::Kind::remove, nullptr, removed, position}))
        return false;
    // Its own item, and an older one that no other site could take over.
    std::vector<SecretAttributes> items = olderKeysOf(*removed);
    items.push_back(SecretAttributes::of(*removed));
    for (const SecretAttributes& item : items)
        if (const auto error = secrets_.remove(item))
            logLine(QStringLiteral("SiteListManager: the password of %1 could not be removed: %2")
                        .arg(removed->cleanName, *error));
    return true;
}

bool SiteListManager::isSiteInList(const BaseWebsite& site, std::optional<int> position) const {
    bool conflict = false;
    for (size_t i = 0; i < siteList_.size(); ++i)
        if (!(position && static_cast<size_t>(*position) == i) && siteList_[i]->canAddToList(&site))
            conflict = true;
    return conflict;
}

int SiteListManager::positionOfSite(const QString& title) const {
    for (size_t i = 0; i < siteList_.size(); ++i)
        if (siteList_[i]->cleanName == title)
            return static_cast<int>(i);
    return -1;
}

std::shared_ptr<BaseWebsite> SiteListManager::siteWithTitle(const QString& title) const {
    const int position = positionOfSite(title);
    return position < 0 ? nullptr : siteList_[static_cast<size_t>(position)];
}

void SiteListManager::tellDelegate() {
    if (delegate)
        delegate->didFinishTask(*this);
}

} // namespace folvane
