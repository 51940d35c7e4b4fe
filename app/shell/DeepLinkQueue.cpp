#include "shell/DeepLinkQueue.h"

#include "ConsoleLog.h"

#include <QTimer>
#include <QUrl>
#include <utility>

namespace folvane::shell {

DeepLinkQueue::DeepLinkQueue(int delayMs, QObject* parent) : QObject(parent), delayMs_(delayMs) {}

void DeepLinkQueue::enqueue(const QString& url) {
    const auto request = parseDeepLink(url);
    if (!request) {
        // Without its query: a link is no place for secrets, but one may carry them anyway.
        logLine(QStringLiteral("Ignored a link that is not an add_site link: ") +
                QUrl(url).toDisplayString(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment));
        return;
    }
    QTimer::singleShot(delayMs_, this, [this, request = *request] {
        if (setupFinished_)
            emit addSiteRequested(request);
        else
            waiting_.push_back(request);
    });
}

void DeepLinkQueue::setupFinished() {
    if (setupFinished_)
        return;
    setupFinished_ = true;
    const auto due = std::exchange(waiting_, {});
    for (const auto& request : due)
        emit addSiteRequested(request);
}

} // namespace folvane::shell
