#include "PendingFilesDialog.h"

#include "Counted.h"
#include "Paths.h"
#include "core/PendingFilesWatch.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace folvane::ui {

namespace {

QString stateText(const PendingFile& file) {
    switch (file.state) {
    case PendingFile::State::waiting:
        return PendingFilesDialog::tr("Waiting");
    case PendingFile::State::sending:
        return PendingFilesDialog::tr("Sending…");
    case PendingFile::State::retrying:
        return PendingFilesDialog::tr("No answer from the site; trying again");
    case PendingFile::State::refused:
        return file.message.isEmpty() ? PendingFilesDialog::tr("Refused by the site")
                                      : PendingFilesDialog::tr("Refused: %1").arg(file.message);
    case PendingFile::State::changedOnSite:
        return PendingFilesDialog::tr("Changed on the site too: your save replaced it there, and the site's "
                                      "version is kept in %1")
            .arg(file.copy);
    }
    return {};
}

QString stateColour(PendingFile::State state) {
    return state == PendingFile::State::refused ? QStringLiteral("#b3261e") : QStringLiteral("#6b7076");
}

} // namespace

PendingFilesDialog::PendingFilesDialog(PendingFilesWatch& watch, QWidget* parent)
    : QDialog(parent),
      openFolder([](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }),
      watch_(watch), heading_(new QLabel(this)), rows_(new QVBoxLayout) {
    heading_->setWordWrap(true);
    auto* list = new QWidget;
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(10);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->addLayout(rows_);
    listLayout->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);
    connect(&watch_, &PendingFilesWatch::filesChanged, this, [this](const QString& title) {
        if (title == title_)
            showFiles();
    });
    resize(460, 320);
}

void PendingFilesDialog::showSite(const QString& title) {
    title_ = title;
    setWindowTitle(tr("Unconfirmed Files – %1").arg(title));
    showFiles();
    watch_.watch(title);
}

QString PendingFilesDialog::copyFolder(const QString& title, const QString& path) {
    const QString recovered = paths::supportFolder() + QStringLiteral("/Recovered/") + title;
    if (QFileInfo(recovered).isDir())
        return recovered;
    return QFileInfo(QDir::cleanPath(paths::mountPointFor(title) + path)).path();
}

void PendingFilesDialog::showFiles() {
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<PendingFile> files = watch_.files(title_);
    // A file changed on the site too is listed for its copy, but its change is confirmed.
    const auto unconfirmed = std::count_if(files.begin(), files.end(), [](const PendingFile& file) {
        return file.state != PendingFile::State::changedOnSite;
    });
    heading_->setText(
        unconfirmed == 0
            ? tr("Every change to “%1” has been confirmed by the site.").arg(title_)
            : tr("%1 to “%2” the site has not confirmed yet:")
                  .arg(counted(static_cast<int>(unconfirmed), tr("change"), tr("changes")), title_));
    for (const PendingFile& file : files) {
        auto* row = new QWidget;
        row->setObjectName(file.path);
        auto* layout = new QGridLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* name = new QLabel(file.path, row);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        auto* state = new QLabel(stateText(file), row);
        state->setWordWrap(true);
        state->setStyleSheet(QStringLiteral("QLabel { color: %1; }").arg(stateColour(file.state)));
        layout->addWidget(name, 0, 0);
        layout->addWidget(state, 1, 0);
        if (file.state == PendingFile::State::changedOnSite) {
            auto* copy = new QPushButton(tr("Show copy"), row);
            connect(copy, &QPushButton::clicked, this,
                    [this, folder = QFileInfo(file.copy).path()] { openFolder(folder); });
            layout->addWidget(copy, 0, 2, 2, 1, Qt::AlignVCenter);
        }
        if (file.state == PendingFile::State::refused) {
            auto* again = new QPushButton(tr("Try again"), row);
            auto* copy = new QPushButton(tr("Show copy"), row);
            connect(again, &QPushButton::clicked, this,
                    [this, path = file.path] { watch_.tryAgain(title_, path); });
            connect(copy, &QPushButton::clicked, this,
                    [this, path = file.path] { openFolder(copyFolder(title_, path)); });
            layout->addWidget(again, 0, 1, 2, 1, Qt::AlignVCenter);
            layout->addWidget(copy, 0, 2, 2, 1, Qt::AlignVCenter);
        }
        layout->setColumnStretch(0, 1);
        rows_->addWidget(row);
        row->show(); // at once, not when the event loop next runs: the list may be drawn before that
    }
}

} // namespace folvane::ui
