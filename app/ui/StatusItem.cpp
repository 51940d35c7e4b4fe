#include "StatusItem.h"

#include "Icons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <algorithm>

namespace folvane::ui {

namespace {

constexpr int gapToAnchor = 8;

} // namespace

QPoint windowPlacement(const QRect& available, const QPoint& anchor, const QSize& window) {
    int x = anchor.x() - window.width() / 2;
    int y = anchor.y() < available.center().y() ? anchor.y() + gapToAnchor
                                                : anchor.y() - gapToAnchor - window.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - window.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - window.height()));
    return {x, y};
}

StatusItem::StatusItem(QWidget& window, QMenu* menu, QObject* parent) : QObject(parent), window_(window) {
    window_.setWindowIcon(icons::application());
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QApplication::setQuitOnLastWindowClosed(true);
        return;
    }
    tray_ = new QSystemTrayIcon(icons::application(), this);
    tray_->setToolTip(QStringLiteral("Folvane 3"));
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            clickedStatusBar();
    });
    QApplication::setQuitOnLastWindowClosed(false);
    window_.installEventFilter(this);
    tray_->show();
}

StatusItem::~StatusItem() {
    window_.removeEventFilter(this);
}

void StatusItem::clickedStatusBar() {
    if (window_.isVisible() && window_.isActiveWindow()) {
        window_.hide();
        return;
    }
    showWindow();
}

void StatusItem::showWindow() {
    if (tray_ && !window_.isVisible()) {
        // The tray tells where its icon is on some desktops; elsewhere the pointer that just clicked it is
        // close.
        const QRect iconArea = tray_->geometry();
        const QPoint anchor = iconArea.isValid() ? iconArea.center() : QCursor::pos();
        if (const QScreen* screen = QGuiApplication::screenAt(anchor))
            window_.move(
                windowPlacement(screen->availableGeometry(), anchor, window_.frameGeometry().size()));
    }
    window_.show();
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.raise();
    window_.activateWindow();
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    // With a tray the application lives on in it: closing the window hides it.
    if (watched == &window_ && event->type() == QEvent::Close && tray_) {
        event->ignore();
        window_.hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace folvane::ui
