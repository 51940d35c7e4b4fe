#include "SiteListManager.h"

#include "ConsoleLog.h"
#include "HelperProcess.h"
#include "SecretStore.h"

#include <cstdlib>

namespace folvane {

namespace {

const char* const archivedTextKeys[] = {"url", "login", "cleanName", "dirtyURL"};
const char* const favIconKey = "favIcon";

std::optional<QString> textAt(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

// A record needs its four texts; an icon, when present, must be data.
std::shared_ptr<BaseWebsite> siteFrom(plist_t dict) {
    if (plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    std::optional<QString> texts[4];
    for (int i = 0; i < 4; ++i)
        if (!(texts[i] = textAt(dict, archivedTextKeys[i])))
            return nullptr;
    std::optional<QByteArray> icon;
    if (plist_t node = plist_dict_get_item(dict, favIconKey)) {
        if (plist_get_node_type(node) != PLIST_DATA)
            return nullptr;
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        icon = QByteArray(bytes, static_cast<qsizetype>(length));
        std::free(bytes);
    }
    return std::make_shared<BaseWebsite>(*texts[0], *texts[1], QString(), *texts[2], *texts[3], icon);
}

plist_t archiveOf(const BaseWebsite& site) {
    plist_t dict = plist_new_dict();
    const QString* texts[] = {&site.url, &site.login, &site.cleanName, &site.dirtyURL};
    for (int i = 0; i < 4; ++i)
        plist_dict_set_item(dict, archivedTextKeys[i], plist_new_string(texts[i]->toUtf8().constData()));
    if (site.favIcon)
        plist_dict_set_item(
            dict, favIconKey,
            plist_new_data(site.favIcon->constData(), static_cast<uint64_t>(site.favIcon->size())));
    return dict;
}

} // namespace

SiteListManager::SiteListManager(SecretStore& secrets, const QString& folder)
    : secrets_(secrets), file_(folder, QStringLiteral("sites.plist")) {
    // On a first start saving creates the folder and an archive of the empty list.
    if (siteListFileExists())
        loadFromFile();
    else
        saveToFile();
}

bool SiteListManager::createListFile() {
    return file_.prepareFirstSave(QStringLiteral("SiteListManager: Creating Folvane files"));
}

bool SiteListManager::saveToFile() {
    if (!createListFile()) {
        lastError_ = file_.lastError();
        return false;
    }
    if (!file_.save(archive(siteList_).get())) {
        lastError_ = file_.lastError();
        return false;
    }
    return true;
}

bool SiteListManager::loadFromFile() {
    const Plist root = file_.load();
    if (!root)
        return false;
    auto loaded = sitesFrom(root.get());
    if (!loaded) {
        file_.keepAside();
        return false;
    }
    siteList_ = std::move(*loaded);
    for (const auto& site : siteList_) {
        // One unreadable item must not cost the later sites their passwords: log it and go on.
        const SecretLookup found = secrets_.read(SecretAttributes::of(*site));
        if (found.password)
            site->password = *found.password;
        else if (!found.error.isEmpty())
            logLine(QStringLiteral("Password for site ") + site->cleanName +
                    QStringLiteral(" could not be retrieved: ") + found.error);
    }
    return true;
}

std::optional<std::vector<std::shared_ptr<BaseWebsite>>> SiteListManager::sitesFrom(plist_t root) {
    if (plist_get_node_type(root) != PLIST_ARRAY)
        return std::nullopt;
    std::vector<std::shared_ptr<BaseWebsite>> sites;
    const uint32_t count = plist_array_get_size(root);
    for (uint32_t i = 0; i < count; ++i) {
        auto site = siteFrom(plist_array_get_item(root, i));
        if (!site)
            return std::nullopt;
        sites.push_back(std::move(site));
    }
    return sites;
}

Plist SiteListManager::archive(const std::vector<std::shared_ptr<BaseWebsite>>& sites) {
    Plist root(plist_new_array());
    for (const auto& site : sites)
        plist_array_append_item(root.get(), archiveOf(*site));
    return root;
}

bool SiteListManager::addNewSite(std::shared_ptr<BaseWebsite> site, std::optional<int> position) {
    const int size = static_cast<int>(siteList_.size());
    if (position && (*position < 0 || *position > size)) {
        lastError_ = QStringLiteral("no site at position %1").arg(*position);
        return false;
    }
    const auto before = siteList_;
    if (position && *position < size)
        siteList_[static_cast<size_t>(*position)] = site;
    else
        siteList_.push_back(site);
    if (!saveToFile()) {
        siteList_ = before;
        return false;
    }
    if (!site->password.isEmpty()) {
        if (const auto error = secrets_.store(SecretAttributes::of(*site), site->password)) {
            // The file already holds the change; it is undone there as well as in memory.
            siteList_ = before;
            if (!saveToFile())
                logLine(QStringLiteral("SiteListManager: the list file could not be restored: ") +
                        lastError_);
            lastError_ = QStringLiteral("the password could not be stored in the Secret Service: ") + *error;
            logLine(lastError_);
            return false;
        }
    }
    tellDelegate();
    return true;
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
    const auto index = siteList_.begin() + position;
    const std::shared_ptr<BaseWebsite> removed = *index;
    if (removed->siteConnection)
        removed->siteConnection->terminate();
    siteList_.erase(index);
    if (!saveToFile()) {
        siteList_.insert(siteList_.begin() + position, removed);
        return false;
    }
    tellDelegate();
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
