#pragma once

#include "BaseWebsite.h"
#include "PropertyListFile.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace folvane {

class SecretStore;
class SiteListManager;

class SiteListManagerDelegate {
public:
    virtual ~SiteListManagerDelegate() = default;
    virtual void didFinishTask(SiteListManager& manager) = 0;
};

// The user's ordered list of sites and its file "sites.plist" (a binary property list: an array with,
// per site, its title, both URLs, login and icon; never a password). Passwords live in the Secret
// Service. Every change writes the whole file; a change that cannot be saved is undone in memory.
class SiteListManager {
public:
    // Asked before a site is removed, with a title and an explanation; true means "Delete".
    using Confirmer = std::function<bool(const QString& title, const QString& text)>;

    // Loads the list from `folder`, or on a first start creates the folder and an empty list file.
    SiteListManager(SecretStore& secrets, const QString& folder);

    const std::vector<std::shared_ptr<BaseWebsite>>& siteList() const { return siteList_; }

    QString getAppSupportFolderPath() const { return file_.folder(); }
    QString getSiteListFilePath() const { return file_.path(); }
    bool siteListFileExists() const { return file_.exists(); }
    bool createListFile();
    bool saveToFile();
    // Reads the list and then each site's password. An unreadable file leaves the list as it was.
    bool loadFromFile();
    // The sites a list file's root node holds; nothing unless it is a list of whole site records.
    static std::optional<std::vector<std::shared_ptr<BaseWebsite>>> sitesFrom(plist_t root);
    // The root node the list file is saved with: what sitesFrom() reads back.
    static Plist archive(const std::vector<std::shared_ptr<BaseWebsite>>& sites);

    // With a position, the site replaces the one there (a position equal to the list's length appends);
    // without one it is appended. Then the list is saved and a non-empty password stored.
    bool addNewSite(std::shared_ptr<BaseWebsite> site, std::optional<int> position = std::nullopt);
    bool finishedEditingSite(std::shared_ptr<BaseWebsite> site, int position);
    // Asks the confirmer, ends the site's helper, removes the site. Its password stays stored.
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
    void tellDelegate();

    SecretStore& secrets_;
    PropertyListFile file_;
    std::vector<std::shared_ptr<BaseWebsite>> siteList_;
    QString lastError_;
};

} // namespace folvane
