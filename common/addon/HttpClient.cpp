#include "HttpClient.h"

#include "ConsoleLog.h"
#include "EnvironmentSetting.h"

#include <QIODevice>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <memory>
#include <optional>

namespace folvane {

namespace {

// A request body that can be read only once. The network stack sends a request again on its own when the
// connection closes before any answer, and a request the site carried out before closing would then be
// made twice; with a body it cannot read again, that resend fails and the caller learns that no answer
// came (and decides, knowing what the request was).
class BodyReadOnce : public QIODevice {
public:
    BodyReadOnce(QByteArray body, QObject* parent) : QIODevice(parent), body_(std::move(body)) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return body_.size() - at_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 max) override {
        if (at_ == body_.size())
            return -1;
        const qint64 count = std::min<qint64>(max, body_.size() - at_);
        std::memcpy(data, body_.constData() + at_, static_cast<size_t>(count));
        at_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray body_;
    qint64 at_ = 0;
};

// What the watch of one reply saw beyond what the reply itself reports.
struct Watch {
    QString abortedBecause; // the first reason the watch ended the exchange
    bool timedOut = false;
    QStringList certificateErrors;
    qint64 received = 0; // bytes handed to a body sink so far
};

void giveUp(QNetworkReply* reply, Watch& watch, const QString& reason, bool timedOut = false) {
    if (!watch.abortedBecause.isEmpty())
        return;
    watch.abortedBecause = reason;
    watch.timedOut = timedOut;
    reply->abort();
}

// The exchange broke off: no answer came, or less of it than its announced length (the connection closed
// early). An HTTP error status with its page is still an answer.
bool endedInTransport(const QNetworkReply& reply, qint64 received) {
    if (reply.error() == QNetworkReply::NoError)
        return false;
    if (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull())
        return true;
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() && received < length.toLongLong();
}

int portOf(const QUrl& url) {
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

QString hostAndPort(const QUrl& url) {
    return url.host() + u':' + QString::number(portOf(url));
}

} // namespace

AnswerLimits AnswerLimits::fromEnvironment() {
    AnswerLimits limits;
    for (AnswerBounds* bounds : {&limits.templateList, &limits.action}) {
        if (const auto bytes = positiveSetting("FOLVANE_ANSWER_MAX_BYTES"))
            bounds->maxBytes = *bytes;
        if (const auto ms = positiveSetting("FOLVANE_ANSWER_DEADLINE_MS"))
            bounds->deadline = std::chrono::milliseconds(*ms);
    }
    return limits;
}

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && portOf(a) == portOf(b);
}

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

HttpClient::HttpClient(TimeLimit limit, AnswerLimits answerLimits, QObject* parent)
    : QObject(parent), limit_(limit), answerLimits_(answerLimits), manager_(new QNetworkAccessManager(this)) {
}

void HttpClient::get(const QString& url, Completion done, AnswerKind kind, BodySink sink) {
    send({"GET", url, {}, kind, std::move(sink), Resend::allowed}, std::move(done));
}

void HttpClient::postForm(const QString& url, const FormFields& fields, Completion done, AnswerKind kind,
                          Resend resend) {
    send({"POST", url, formEncode(fields), kind, {}, resend}, std::move(done));
}

void HttpClient::send(Request request, Completion done) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this, request = std::move(request), done = std::move(done)]() mutable {
                send(std::move(request), std::move(done));
            },
            Qt::QueuedConnection);
        return;
    }
    const QUrl target(request.url, QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) ||
        target.host().isEmpty()) {
        // An address that cannot be requested fails like a transport error, later, as answers do.
        QMetaObject::invokeMethod(
            this,
            [done = std::move(done), url = request.url]() {
                done(HttpAnswer{{}, QStringLiteral("invalid URL: ") + url});
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest networkRequest(target);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::UserVerifiedRedirectPolicy);
    if (request.method == "POST") {
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader,
                                 QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
        if (request.resend == Resend::allowed) {
            watch(manager_->post(networkRequest, request.body), target, request.kind, std::move(request.sink),
                  std::move(done));
            return;
        }
        networkRequest.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
        networkRequest.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto* body = new BodyReadOnce(request.body, this);
        QNetworkReply* reply = manager_->post(networkRequest, body);
        connect(reply, &QObject::destroyed, body, &QObject::deleteLater);
        watch(reply, target, request.kind, std::move(request.sink), std::move(done));
    } else {
        watch(manager_->get(networkRequest), target, request.kind, std::move(request.sink), std::move(done));
    }
}

void HttpClient::watch(QNetworkReply* reply, const QUrl& target, AnswerKind kind, BodySink sink,
                       Completion done) {
    auto seen = std::make_shared<Watch>();
    const AnswerBounds bounds = answerLimits_.of(kind);

    auto* limitTimer = new QTimer(reply);
    limitTimer->setSingleShot(true);
    limitTimer->setInterval(limit_.duration);
    const QString limitReason =
        (limit_.measure == TimeLimit::Measure::silence ? QStringLiteral("nothing arrived for %1 ms")
                                                       : QStringLiteral("no complete answer within %1 ms"))
            .arg(limit_.duration.count());
    connect(limitTimer, &QTimer::timeout, reply,
            [reply, seen, limitReason] { giveUp(reply, *seen, limitReason, true); });
    if (limit_.measure == TimeLimit::Measure::silence) {
        const auto restart = [limitTimer] { limitTimer->start(); };
        connect(reply, &QNetworkReply::uploadProgress, limitTimer, restart);
        connect(reply, &QNetworkReply::downloadProgress, limitTimer, restart);
    }
    limitTimer->start();
    QTimer::singleShot(bounds.deadline, reply, [reply, seen, deadline = bounds.deadline] {
        giveUp(reply, *seen, QStringLiteral("no complete answer within %1 ms").arg(deadline.count()), true);
    });

    // The size is judged from the announced length before any of the body arrives, then from what
    // arrived, so an oversized answer is never held whole.
    const QString tooLarge = QStringLiteral("answer too large: more than %1 bytes from %2")
                                 .arg(bounds.maxBytes)
                                 .arg(target.host());
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, seen, tooLarge, max = bounds.maxBytes] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > max)
            giveUp(reply, *seen, tooLarge);
    });
    if (sink) {
        // While the sink is busy the transfer waits rather than piling up in memory.
        reply->setReadBufferSize(qint64(1) << 20);
    }
    connect(reply, &QNetworkReply::readyRead, reply, [reply, seen, tooLarge, max = bounds.maxBytes, sink] {
        if (!seen->abortedBecause.isEmpty())
            return;
        if (!sink) {
            if (reply->bytesAvailable() > max)
                giveUp(reply, *seen, tooLarge);
            return;
        }
        const QByteArray piece = reply->readAll();
        seen->received += piece.size();
        if (seen->received > max)
            giveUp(reply, *seen, tooLarge);
        else
            sink(piece);
    });

    connect(reply, &QNetworkReply::redirected, reply, [reply, seen, target](const QUrl& to) {
        const QUrl next = reply->url().resolved(to);
        if (sameOrigin(target, next))
            emit reply->redirectAllowed();
        else
            giveUp(reply, *seen,
                   QStringLiteral("redirected to another host (%1); nothing was sent there")
                       .arg(hostAndPort(next)));
    });
    connect(reply, &QNetworkReply::sslErrors, reply, [seen](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            seen->certificateErrors << error.errorString();
    });

    connect(reply, &QNetworkReply::finished, this,
            [reply, limitTimer, seen, target, sink, done = std::move(done)]() {
                limitTimer->stop();
                reply->deleteLater();
                HttpAnswer answer;
                if (!seen->abortedBecause.isEmpty()) {
                    answer.error = seen->abortedBecause;
                    answer.timedOut = seen->timedOut;
                } else if (!seen->certificateErrors.isEmpty()) {
                    answer.certificateRejected = true;
                    answer.error =
                        QStringLiteral("the certificate of %1 was not accepted: %2")
                            .arg(target.host(), seen->certificateErrors.join(QStringLiteral("; ")));
                } else if (endedInTransport(*reply, sink ? seen->received : reply->bytesAvailable())) {
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
