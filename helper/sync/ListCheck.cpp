#include "ListCheck.h"

#include "ConsoleLog.h"
#include "addon/AddonClient.h"

#include <QFile>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>
#include <fstream>

namespace folvane {

ListCheck::ListCheck(AddonClient& client, QString spoolFolder, QObject* parent)
    : QObject(parent), client_(client), spoolFolder_(std::move(spoolFolder)), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &ListCheck::fetch);
}

void ListCheck::whenListed(Reader read) {
    waiting_.push_back(std::move(read));
    schedule();
}

void ListCheck::schedule() {
    if (fetching_ || timer_->isActive() || waiting_.empty())
        return;
    const qint64 since = lastFetch_.isValid() ? lastFetch_.elapsed() : minIntervalMs;
    timer_->start(static_cast<int>(std::max<qint64>(0, minIntervalMs - since)));
}

void ListCheck::fetch() {
    fetching_ = true;
    lastFetch_.start();
    std::vector<Reader> readers = std::move(waiting_);
    waiting_.clear();
    logLine(QStringLiteral("Fetching the template list to learn which unanswered requests took effect"));
    // Kept on disk, not in memory; shared with the transfer, which may outlive a wait given up.
    auto spool = std::make_shared<QTemporaryFile>(spoolFolder_ + QStringLiteral("/.list-check-XXXXXX"));
    std::optional<SiteIndex> index;
    if (spool->open()) {
        auto repair = std::make_shared<Utf8Repair>(InvalidText::mark);
        const AddonClient::ListTransfer transfer = client_.streamTemplateList(
            [spool, repair](QByteArrayView piece) { spool->write(repair->push(piece)); });
        spool->write(repair->finish());
        if (transfer == AddonClient::ListTransfer::arrived && spool->flush()) {
            std::ifstream text(QFile::encodeName(spool->fileName()).toStdString(), std::ios::binary);
            index = SiteIndex::read(text);
        }
    }
    if (!index)
        logLine(QStringLiteral("The template list could not be had; asking again later"));
    fetching_ = false;
    for (const Reader& read : readers)
        read(index ? &*index : nullptr);
    schedule();
}

} // namespace folvane
