#pragma once

#include "core/ConnectionControl.h"

#include <QWidget>

class QLabel;
class QToolButton;

namespace folvane {
class BaseWebsite;
}

namespace folvane::ui {

class ElidedLabel;
class RefreshButton;

// The view of one site row: icon, title, typed URL, connection dot, the uploads still waiting for the site,
// and the edit, eject and refresh buttons.
class SiteRowWidget : public QWidget {
    Q_OBJECT
public:
    explicit SiteRowWidget(QWidget* parent = nullptr);

    // Shows the site as it is now, with the dot of `state`.
    void showSite(const BaseWebsite& site, ConnectionState state);
    void showState(ConnectionState state);
    void showPendingUploads(int count);
    // The edit button shows on the selected row of a site that is not connected.
    void setRowSelected(bool selected);

    RefreshButton* refreshButton() const { return refreshButton_; }
    QToolButton* editButton() const { return editButton_; }
    QToolButton* ejectButton() const { return ejectButton_; }
    QToolButton* pendingUploadsButton() const { return pendingUploads_; }
    // The site's icon, or its face when it has none.
    QPixmap icon() const;
    ConnectionState state() const { return state_; }
    QString title() const;
    QString typedURL() const;

signals:
    void editClicked();
    void ejectClicked();
    void refreshClicked();
    // The "↑ n" marker: which files those are.
    void pendingClicked();

private:
    QLabel* favIcon_;
    QLabel* websiteName_;
    ElidedLabel* websiteURL_;
    QToolButton* pendingUploads_;
    QToolButton* editButton_;
    RefreshButton* refreshButton_;
    QToolButton* ejectButton_;
    QLabel* connectionDotIcon_;
    ConnectionState state_ = ConnectionState::idle;
    bool connected_ = false;
    bool selected_ = false;
};

} // namespace folvane::ui
