#pragma once

#include "core/BaseWebsite.h"
#include "core/ConnectionControl.h"

#include <QAbstractListModel>
#include <QString>
#include <memory>
#include <vector>

namespace folvane {
class SiteListManager;
}

namespace folvane::ui {

using SiteRecords = std::vector<std::shared_ptr<BaseWebsite>>;

// The sites a search shows, in list order: those whose title or, failing that, cleaned URL contains the
// text, ignoring letter case. An empty text shows every site. The typed URL and the user name do not count.
SiteRecords filteredSites(const SiteRecords& allItems, const QString& searchText);

// A new record with the site's typed URL (as both URLs), login, password and icon, titled "<title> Copy";
// when a site already has that title, "<title> Copy 2", "<title> Copy 3" …, since titles must stay unique.
std::shared_ptr<BaseWebsite> duplicateSite(const BaseWebsite& site, const SiteRecords& allItems);

// The rows of the site list: the store's sites filtered by the search text. Row n is the n-th filtered site.
// Each row's connection state is taken when the rows are (re)built, the list's redraw: a failed check is
// shown as the error dot by that redraw only, and a helper's announced end shows it until the next one.
class SiteListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { TitleRole = Qt::UserRole + 1, TypedURLRole, StateRole, PendingUploadsRole };

    explicit SiteListModel(SiteListManager& manager, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The store's current list, filtered again.
    void refreshSiteList();
    // searchSites: the rows become the sites matching the text.
    void setSearchText(const QString& text);
    QString searchText() const { return searchText_; }
    // Rebuilds the rows from the same lists, taking each site's state anew.
    void redraw();
    // The row's dot shows the error state until the next redraw (a helper announced its end).
    void showTerminated(const QString& title);
    // The row of this site changed in place (its pending uploads).
    void siteChanged(const QString& title);

    const SiteRecords& allItems() const { return allItems_; }
    const SiteRecords& filteredItems() const { return filteredItems_; }
    std::shared_ptr<BaseWebsite> siteAt(int row) const;
    // The row of the first site with exactly this title; -1 when it is not shown.
    int filteredPositionOfSite(const QString& title) const;
    // The position in the store's list of the site shown in this row; -1 when there is none.
    int listPositionOfRow(int row) const;
    ConnectionState stateAt(int row) const;

private:
    SiteListManager& manager_;
    SiteRecords allItems_;
    SiteRecords filteredItems_;
    std::vector<ConnectionState> states_;
    QString searchText_;
};

} // namespace folvane::ui
