#include "HttpClient.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace folvane {

QString HttpAnswer::describe() const {
    // The log is for people: a long body (a template, a whole list) is cut, and says how long it was.
    constexpr qsizetype shown = 2000;
    if (failed())
        return QStringLiteral("failure: ") + error;
    if (body.size() <= shown)
        return QStringLiteral("success: ") + QString::fromUtf8(body);
    return QStringLiteral("success: ") + QString::fromUtf8(body.left(shown)) +
           QStringLiteral("… (%1 bytes)").arg(body.size());
}

HttpClient::HttpClient(TimeLimit limit, QObject* parent)
    : QObject(parent), limit_(limit), manager_(new QNetworkAccessManager(this)) {}

void HttpClient::get(const QString& url, Completion done, BodySink sink) {
    send("GET", url, {}, std::move(done), std::move(sink));
}

void HttpClient::postForm(const QString& url, const FormFields& fields, Completion done) {
    send("POST", url, formEncode(fields), std::move(done));
}

void HttpClient::send(const QByteArray& method, const QString& url, const QByteArray& body, Completion done,
                      BodySink sink) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this, method, url, body, done = std::move(done), sink = std::move(sink)]() mutable {
                send(method, url, body, std::move(done), std::move(sink));
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
    if (method == "POST") {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
        watch(manager_->post(request, body), std::move(done), std::move(sink));
    } else {
        watch(manager_->get(request), std::move(done), std::move(sink));
    }
}

void HttpClient::watch(QNetworkReply* reply, Completion done, BodySink sink) {
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setInterval(limit_.duration);
    connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    if (limit_.measure == TimeLimit::Measure::silence) {
        const auto restart = [timer] { timer->start(); };
        connect(reply, &QNetworkReply::uploadProgress, timer, restart);
        connect(reply, &QNetworkReply::downloadProgress, timer, restart);
    }
    timer->start();
    if (sink) {
        // Bounded: while the sink is busy the transfer waits rather than piling up in memory.
        reply->setReadBufferSize(qint64(1) << 20);
        connect(reply, &QNetworkReply::readyRead, this, [reply, sink] { sink(reply->readAll()); });
    }
    connect(reply, &QNetworkReply::finished, this,
            [reply, timer, timedOut, limit = limit_, done = std::move(done), sink]() {
                timer->stop();
                reply->deleteLater();
                HttpAnswer answer;
                if (*timedOut) {
                    answer.timedOut = true;
                    answer.error = (limit.measure == TimeLimit::Measure::silence
                                        ? QStringLiteral("nothing arrived for %1 ms")
                                        : QStringLiteral("no complete answer within %1 ms"))
                                       .arg(limit.duration.count());
                } else if (reply->error() != QNetworkReply::NoError &&
                           reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
                    answer.error = reply->errorString();
                } else if (sink) {
                    sink(reply->readAll());
                } else {
                    answer.body = reply->readAll();
                }
                done(answer);
            });
}

} // namespace folvane
