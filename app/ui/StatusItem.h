#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace folvane::ui {

// Where the window goes when the status item is clicked at `anchor`: centred under it when the anchor is in
// the upper half of the screen (a top panel), above it otherwise, and always inside the screen's free area.
QPoint windowPlacement(const QRect& available, const QPoint& anchor, const QSize& window);

// The application's status item: a tray icon (StatusNotifierItem) whose click shows or hides the main window
// under it, with the application menu on its context menu. Closing the window then only hides it. Where the
// desktop has no tray, the main window is an ordinary window, and closing it quits.
class StatusItem : public QObject {
    Q_OBJECT
public:
    StatusItem(QWidget& window, QMenu* menu, QObject* parent = nullptr);
    ~StatusItem() override;

    bool usesTray() const { return tray_ != nullptr; }
    // Shows the window, or hides it when it is in front.
    void clickedStatusBar();
    void showWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QSystemTrayIcon* tray_ = nullptr;
};

} // namespace folvane::ui
