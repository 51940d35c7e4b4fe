#include "HttpClient.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QUrl>

namespace folvane {

namespace {
// A site that accepts the connection and never answers would otherwise hold a wait forever; this is
// the usual default request time-out of desktop HTTP clients.
constexpr int transferTimeoutMs = 60000;
} // namespace

QString HttpAnswer::describe() const {
    return failed() ? QStringLiteral("failure: ") + error
                    : QStringLiteral("success: ") + QString::fromUtf8(body);
}

HttpClient::HttpClient(QObject* parent) : QObject(parent), manager_(new QNetworkAccessManager(this)) {}

void HttpClient::get(const QString& url, Completion done) {
    send("GET", url, {}, std::move(done));
}

void HttpClient::postForm(const QString& url, const FormFields& fields, Completion done) {
    send("POST", url, formEncode(fields), std::move(done));
}

void HttpClient::send(const QByteArray& method, const QString& url, const QByteArray& body, Completion done) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this, method, url, body, done = std::move(done)]() mutable {
                send(method, url, body, std::move(done));
            },
            Qt::QueuedConnection);
        return;
    }
    const QUrl target(url, QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) ||
        target.host().isEmpty()) {
        // An address that cannot be requested fails like a transport error, later, as answers do.
        QMetaObject::invokeMethod(
            this,
            [done = std::move(done), url]() {
                done(HttpAnswer{{}, QStringLiteral("invalid URL: ") + url});
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(target);
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply* reply;
    if (method == "POST") {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
        reply = manager_->post(request, body);
    } else {
        reply = manager_->get(request);
    }
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)]() {
        reply->deleteLater();
        HttpAnswer answer;
        answer.body = reply->readAll();
        // HTTP status codes are not judged: a 404 page with a JSON body is still an answer.
        if (reply->error() != QNetworkReply::NoError &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
            answer.error = reply->errorString();
            answer.body.clear();
        }
        done(answer);
    });
}

} // namespace folvane
