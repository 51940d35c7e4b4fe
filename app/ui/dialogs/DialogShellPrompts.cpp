#include "ui/dialogs/DialogShellPrompts.h"

#include "ConsoleLog.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <algorithm>

namespace folvane::shell {

DialogShellPrompts::DialogShellPrompts(QWidget* window) : window_(window) {}

DialogShellPrompts::~DialogShellPrompts() {
    hideProgress();
}

int DialogShellPrompts::runAlert(const Alert& alert) {
    QMessageBox box(window_);
    box.setWindowTitle(QStringLiteral("Folvane 3"));
    box.setIconPixmap(QIcon(QStringLiteral(":/icons/folvane3.png")).pixmap(64, 64));
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    std::vector<QPushButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons.push_back(box.addButton(title, QMessageBox::ActionRole));
    if (buttons.empty())
        buttons.push_back(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return chosen == buttons.end() ? int(buttons.size()) - 1 : int(chosen - buttons.begin());
}

void DialogShellPrompts::showProgress(const QString& text) {
    if (!progress_) {
        progress_ = new QProgressDialog(window_);
        progress_->setWindowTitle(QStringLiteral("Folvane 3"));
        progress_->setCancelButton(nullptr);
        progress_->setWindowModality(Qt::ApplicationModal);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
    }
    progress_->setLabelText(text);
    progress_->show();
}

void DialogShellPrompts::setProgress(int percent) {
    if (!progress_)
        return;
    // A range of 0..0 shows a busy bar while the percentage is not known.
    progress_->setRange(0, percent < 0 ? 0 : 100);
    progress_->setValue(std::max(percent, 0));
}

void DialogShellPrompts::hideProgress() {
    if (progress_)
        progress_->deleteLater();
    progress_ = nullptr;
}

void DialogShellPrompts::openUrl(const QUrl& url) {
    if (!QDesktopServices::openUrl(url))
        logLine(QStringLiteral("Could not open ") + url.toString());
}

} // namespace folvane::shell
