#include "AddonHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace folvane {

namespace {
constexpr int timeoutMs = 5000;

// Only web addresses are asked: a typed (or deep-linked) file: address must not read local files.
bool isWebAddress(const QUrl& url) {
    return url.isValid() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}
} // namespace

AddonHttpClient::AddonHttpClient(QObject* parent)
    : QObject(parent), manager_(new QNetworkAccessManager(this)) {}

void AddonHttpClient::get(const QString& url, Completion done) {
    const QUrl target(url);
    if (!isWebAddress(target))
        return failLater(std::move(done));
    track(manager_->get(QNetworkRequest(target)), std::move(done));
}

void AddonHttpClient::postForm(const QString& url, const FormFields& fields, Completion done) {
    const QUrl target(url);
    if (!isWebAddress(target))
        return failLater(std::move(done));
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
    track(manager_->post(request, formEncode(fields)), std::move(done));
}

void AddonHttpClient::failLater(Completion done) {
    // Like a transport failure: an empty answer, delivered later as answers are.
    QTimer::singleShot(0, this, [done = std::move(done)] { done({}); });
}

void AddonHttpClient::track(QNetworkReply* reply, Completion done) {
    // The limit covers the whole exchange, not only silence between packets.
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(timeoutMs);
    connect(reply, &QNetworkReply::finished, this, [reply, timedOut, done = std::move(done)] {
        reply->deleteLater();
        AddonAnswer answer;
        answer.timedOut = *timedOut;
        if (!answer.timedOut && (reply->error() == QNetworkReply::NoError ||
                                 !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()))
            answer.body = reply->readAll();
        done(answer);
    });
}

} // namespace folvane
