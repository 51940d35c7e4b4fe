#pragma once

#include <QString>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QWidget;

namespace folvane::ui {

class SiteListView;

// The main window's widgets, laid out: the bar (search field, add button, menu button), the site list and
// the prompt shown while there is no site (one stack), the notice below them, and the row menu.
struct SiteListLayout {
    static inline const QString searchPlaceholder = QStringLiteral("Search              ");

    QLineEdit* searchField;
    QToolButton* addWebsiteButton;
    QToolButton* menuButton;
    QStackedWidget* stack;
    SiteListView* listView;
    QWidget* addNewSitePrompt;
    QPushButton* promptButton;
    QLabel* notice;
    QMenu* rowMenu;
    QAction* menuConnectButton;
    QAction* menuEditButton;
    QAction* menuDuplicateButton;
    QAction* menuPendingButton;
    QAction* menuDeleteButton;

    // Builds them as children of `window`, which takes the layout.
    static SiteListLayout build(QWidget& window);
};

} // namespace folvane::ui
