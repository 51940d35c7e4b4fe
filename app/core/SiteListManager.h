#pragma once

#include "BaseWebsite.h"
#include "PropertyListFile.h"
#include "SecretStore.h"
#include "SiteListCodec.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace folvane {

class SiteListManager;

// Whether two records are one entry of the list file: same title, typed URL and user name.
bool sameEntry(const BaseWebsite& a, const BaseWebsite& b);

// One change to the list, applied to the list as it is on disk when the change is saved (another program
// may have changed it since this one read it).
struct SiteListChange {
    enum class Kind { add, replace, remove };
    Kind kind = Kind::add;
    std::shared_ptr<BaseWebsite> site;     // the new record (add, replace)
    std::shared_ptr<BaseWebsite> original; // the record as this program knew it (replace, remove)
    int position = -1;                     // where this program had `original`
};

struct MergedSiteList {
    SiteRecords sites;
    QString refusal; // why the change cannot be made on this list; empty when it was made
};

// Applies `change` to `current` (what the file holds now). `known` is the list this program had when the
// change was asked for: a site that conflicts with the change and that this program never saw was added by
// another one meanwhile, and refuses the change. A site removed meanwhile cannot be replaced; removing it
// again changes nothing.
MergedSiteList mergedSiteList(SiteRecords current, const SiteListChange& change, const SiteRecords& known);

class SiteListManagerDelegate {
public:
    virtual ~SiteListManagerDelegate() = default;
    virtual void didFinishTask(SiteListManager& manager) = 0;
};

// The user's ordered list of sites and its file "sites.plist" (a binary property list, see SiteListCodec).
// Passwords live in the Secret Service. The command line changes the same file: each change is applied, under
// the file's lock, to what the file holds at that moment, and a change another program saved is read back
// when the folder watch reports it (the delegate is then told). A change that cannot be saved leaves the list
// as it was.
class SiteListManager {
public:
    // Asked before a site is removed, with a title and an explanation; true means "Delete".
    using Confirmer = std::function<bool(const QString& title, const QString& text)>;

    // Loads the list from `folder`, or on a first start creates the folder and an empty list file.
    SiteListManager(SecretStore& secrets, const QString& folder);
    ~SiteListManager();

    const SiteRecords& siteList() const { return siteList_; }

    QString getAppSupportFolderPath() const { return file_.folder(); }
    QString getSiteListFilePath() const { return file_.path(); }
    bool siteListFileExists() const { return file_.exists(); }
    bool createListFile();
    bool saveToFile();
    // Reads the list; records that stay in the list keep their run-time state. Passwords are read when
    // they are needed (loadPassword). An unreadable file leaves the list as it was.
    bool loadFromFile();
    // Reads the file again when another program replaced it since this one last read or wrote it, and
    // tells the delegate. Returns whether the list was read again.
    bool reloadIfChanged();

    // With a position, the site replaces the one there (a position equal to the list's length appends);
    // a copy of a listed record replaces that record wherever it is now. Without a position the site is
    // appended. Then the list is saved and a non-empty password stored (and dropped from the record); an
    // edit that changes the site's address, user or title moves its password item with it.
    bool addNewSite(std::shared_ptr<BaseWebsite> site, std::optional<int> position = std::nullopt);
    bool finishedEditingSite(std::shared_ptr<BaseWebsite> site, int position);
    // Reads the site's password from the Secret Service unless it has one; an item an older version stored
    // for exactly this address and user becomes the site's own when no other site of the list shares that
    // key. Returns whether the site has a password now.
    bool loadPassword(BaseWebsite& site);
    // Asks the confirmer, ends the site's helper, removes the site and its own password item.
    bool removeSite(const BaseWebsite& site);

    // Whether `site` conflicts (same title or same typed URL) with any site but the one at `position`.
    bool isSiteInList(const BaseWebsite& site, std::optional<int> position = std::nullopt) const;
    // Index of the first site with exactly this title; -1 when there is none.
    int positionOfSite(const QString& title) const;
    std::shared_ptr<BaseWebsite> siteWithTitle(const QString& title) const;

    // Why the last change failed.
    QString lastError() const { return lastError_; }
    // Where an unreadable list file was moved at start; empty when none was.
    QString keptAsidePath() const { return file_.keptAsidePath(); }

    SiteListManagerDelegate* delegate = nullptr;
    Confirmer dialogDelete;

private:
    // What the file holds now; nothing when it is missing, empty or unreadable.
    std::optional<SiteRecords> readFile();
    bool writeFile(const SiteRecords& sites);
    // Reads, changes and saves the list file under its lock, then stores the changed site's password.
    bool commit(const SiteListChange& change);
    // `read` with this program's records in place of equal ones (they keep their run-time state). A running
    // helper of a site that is gone is ended.
    SiteRecords adopted(const SiteRecords& read);
    // The keys of older items this site alone may take over, the one with its path first.
    std::vector<SecretAttributes> olderKeysOf(const BaseWebsite& site) const;
    SecretLookup takeOverOlderItem(const BaseWebsite& site);
    // Stores the changed site's password, moving its item when the key changed. Returns an error text, or
    // nothing.
    std::optional<QString> storePassword(const SiteListChange& change);
    void tellDelegate();

    SecretStore& secrets_;
    PropertyListFile file_;
    SiteRecords siteList_;
    PropertyListFile::Stamp knownStamp_;
    quint64 nextListEntry_ = 1;
    std::unique_ptr<PropertyListWatch> watch_;
    QString lastError_;
};

} // namespace folvane
