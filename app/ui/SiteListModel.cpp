#include "SiteListModel.h"

#include "core/SiteListManager.h"

#include <algorithm>

namespace folvane::ui {

SiteRecords filteredSites(const SiteRecords& allItems, const QString& searchText) {
    if (searchText.isEmpty())
        return allItems;
    const QString needle = searchText.toLower();
    SiteRecords shown;
    for (const auto& site : allItems)
        if (site->cleanName.toLower().contains(needle) || site->url.toLower().contains(needle))
            shown.push_back(site);
    return shown;
}

std::shared_ptr<BaseWebsite> duplicateSite(const BaseWebsite& site, const SiteRecords& allItems) {
    const auto taken = [&](const QString& title) {
        return std::any_of(allItems.begin(), allItems.end(),
                           [&](const auto& listed) { return listed->cleanName == title; });
    };
    const QString base = site.cleanName + QStringLiteral(" Copy");
    QString title = base;
    for (int number = 2; taken(title); ++number)
        title = base + QStringLiteral(" %1").arg(number);
    return std::make_shared<BaseWebsite>(site.dirtyURL, site.login, site.password, title, site.dirtyURL,
                                         site.favIcon);
}

SiteListModel::SiteListModel(SiteListManager& manager, QObject* parent)
    : QAbstractListModel(parent), manager_(manager) {
    refreshSiteList();
}

int SiteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(filteredItems_.size());
}

QVariant SiteListModel::data(const QModelIndex& index, int role) const {
    const std::shared_ptr<BaseWebsite> site = siteAt(index.row());
    if (!site || index.parent().isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return site->cleanName;
    case TypedURLRole:
        return site->dirtyURL;
    case StateRole:
        return static_cast<int>(states_[static_cast<size_t>(index.row())]);
    case PendingUploadsRole:
        return site->pendingUploads;
    default:
        return {};
    }
}

void SiteListModel::refreshSiteList() {
    allItems_ = manager_.siteList();
    redraw();
}

void SiteListModel::setSearchText(const QString& text) {
    searchText_ = text;
    redraw();
}

void SiteListModel::redraw() {
    beginResetModel();
    filteredItems_ = filteredSites(allItems_, searchText_);
    states_.clear();
    for (const auto& site : filteredItems_) {
        states_.push_back(connectionState(*site));
        // A failed check is shown by this redraw only.
        site->connectingError = false;
    }
    endResetModel();
}

void SiteListModel::showTerminated(const QString& title) {
    const int row = filteredPositionOfSite(title);
    if (row < 0)
        return;
    states_[static_cast<size_t>(row)] = ConnectionState::error;
    emit dataChanged(index(row), index(row), {StateRole});
}

void SiteListModel::siteChanged(const QString& title) {
    const int row = filteredPositionOfSite(title);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {PendingUploadsRole});
}

std::shared_ptr<BaseWebsite> SiteListModel::siteAt(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return filteredItems_[static_cast<size_t>(row)];
}

int SiteListModel::filteredPositionOfSite(const QString& title) const {
    for (size_t row = 0; row < filteredItems_.size(); ++row)
        if (filteredItems_[row]->cleanName == title)
            return static_cast<int>(row);
    return -1;
}

int SiteListModel::listPositionOfRow(int row) const {
    const std::shared_ptr<BaseWebsite> site = siteAt(row);
    const auto& list = manager_.siteList();
    for (size_t position = 0; position < list.size(); ++position)
        if (list[position] == site)
            return static_cast<int>(position);
    return -1;
}

ConnectionState SiteListModel::stateAt(int row) const {
    if (row < 0 || row >= rowCount())
        return ConnectionState::idle;
    return states_[static_cast<size_t>(row)];
}

} // namespace folvane::ui
