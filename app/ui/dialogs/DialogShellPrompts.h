#pragma once

#include "shell/ShellPrompts.h"

#include <QPointer>

class QProgressDialog;
class QWidget;

namespace folvane::shell {

// The shell's prompts as dialogs: alerts are modal message boxes with the application icon, the FUSE
// installation shows a progress dialog without a cancel button (PackageKit cannot be stopped halfway).
class DialogShellPrompts : public ShellPrompts {
public:
    // Alerts and progress are shown over `window` when there is one.
    explicit DialogShellPrompts(QWidget* window = nullptr);
    ~DialogShellPrompts() override;
    void setWindow(QWidget* window) { window_ = window; }

    int runAlert(const Alert& alert) override;
    void showProgress(const QString& text) override;
    void setProgress(int percent) override;
    void hideProgress() override;
    void openUrl(const QUrl& url) override;

private:
    QPointer<QWidget> window_;
    QPointer<QProgressDialog> progress_;
};

} // namespace folvane::shell
