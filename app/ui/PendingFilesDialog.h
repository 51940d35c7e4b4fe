#pragma once

#include "PendingFiles.h"

#include <QDialog>
#include <functional>

class QLabel;
class QVBoxLayout;

namespace folvane {
class PendingFilesWatch;
}

namespace folvane::ui {

// The files of one connected site that the site has not confirmed yet, each with where its upload stands;
// a refused one offers "Try again" (its helper sends it once more) and "Show copy" (the folder that holds
// the unconfirmed copy). Follows the helper's reports while it is open.
class PendingFilesDialog : public QDialog {
    Q_OBJECT
public:
    PendingFilesDialog(PendingFilesWatch& watch, QWidget* parent = nullptr);

    // Shows the files of `title` (and asks its helper for the list now).
    void showSite(const QString& title);
    QString title() const { return title_; }

    // Opens a folder in the file manager; the window tests put a recorder here.
    std::function<void(const QString& folder)> openFolder;
    // The recovery folder of the site when it exists, else the volume's folder that holds the file.
    static QString copyFolder(const QString& title, const QString& path);

private:
    void showFiles();

    PendingFilesWatch& watch_;
    QString title_;
    QLabel* heading_;
    QVBoxLayout* rows_;
};

} // namespace folvane::ui
