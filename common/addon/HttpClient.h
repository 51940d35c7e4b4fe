#pragma once

#include "FormEncoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace folvane {

// How long a request may take before it is given up.
struct TimeLimit {
    enum class Measure {
        silence,      // no byte moved, either way, for this long: a slow transfer that still moves goes on
        wholeExchange // from the request until the answer is complete, however busy the transfer
    };
    Measure measure;
    std::chrono::milliseconds duration;
};

// The helper's requests: a site that accepts the connection and never answers would otherwise hold a
// wait forever, while a long template list that keeps arriving must not be cut off. 60 s of silence is
// the usual request time-out of desktop HTTP clients.
inline constexpr TimeLimit helperRequestLimit{TimeLimit::Measure::silence, std::chrono::seconds(60)};
// The application's: the user waits for every answer (the check before connecting, the site editor's
// test), so the whole exchange gets a few seconds and is then reported as timed out.
inline constexpr TimeLimit applicationRequestLimit{TimeLimit::Measure::wholeExchange,
                                                   std::chrono::seconds(5)};

// What one answer may cost, on top of the time limit: its size, and the whole exchange's duration however
// busy the transfer. A site sending without end, or a byte a minute, would otherwise fill the memory or
// hold a wait for ever.
struct AnswerBounds {
    qint64 maxBytes;
    std::chrono::milliseconds deadline;
};

// The template list of a big site runs to hundreds of megabytes; every other answer is a small JSON object.
enum class AnswerKind { templateList, action };

struct AnswerLimits {
    AnswerBounds templateList{qint64(512) << 20, std::chrono::minutes(30)};
    AnswerBounds action{qint64(8) << 20, std::chrono::minutes(5)};

    const AnswerBounds& of(AnswerKind kind) const {
        return kind == AnswerKind::templateList ? templateList : action;
    }
    // The defaults, with $FOLVANE_ANSWER_MAX_BYTES and $FOLVANE_ANSWER_DEADLINE_MS (positive integers; each
    // replaces the value of every kind) when set. Anything else in them is ignored, with a log line.
    static AnswerLimits fromEnvironment();
};

struct HttpAnswer {
    QByteArray body;                  // empty when the exchange failed
    QString error;                    // why it failed; empty when an HTTP answer came, whatever its status
    bool timedOut = false;            // it failed because the time limit or the deadline ran out
    bool certificateRejected = false; // it failed because the site's TLS certificate was not accepted
    bool failed() const { return !error.isEmpty(); }
    // How the outcome is logged: the body on success, the error otherwise.
    QString describe() const;
};

// True when both addresses have the same scheme, host and port (a missing port is the scheme's own).
bool sameOrigin(const QUrl& a, const QUrl& b);

// The add-on client's transport: GET and form-encoded POST to http and https addresses only (a typed or
// deep-linked file: address must never read local files). HTTP status codes are not judged: a 404 page
// with a JSON body is still an answer. Redirects are followed only within the site's origin: a 307 would
// otherwise post the login form, password included, wherever it points. Cookies live as long as the
// client. Requests may be started from any thread; answers are delivered on the thread that owns the
// client, never before the call returns.
class HttpClient : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const HttpAnswer&)>;
    // Takes an answer's body piece by piece as it arrives, on the client's thread, before the completion
    // runs; the answer handed to the completion then has no body. For answers too large to hold at once.
    using BodySink = std::function<void(QByteArrayView)>;

    explicit HttpClient(TimeLimit limit, AnswerLimits answerLimits = {}, QObject* parent = nullptr);

    void get(const QString& url, Completion done, AnswerKind kind = AnswerKind::action, BodySink sink = {});
    // Resend::never: the request changes the site, so the network stack may not send it a second time on
    // its own when the connection closes before the answer (the site may have carried it out): the caller
    // learns that no answer came. Such a post is not redirected either.
    enum class Resend { allowed, never };
    void postForm(const QString& url, const FormFields& fields, Completion done,
                  AnswerKind kind = AnswerKind::action, Resend resend = Resend::allowed);

private:
    struct Request {
        QByteArray method;
        QString url;
        QByteArray body;
        AnswerKind kind;
        BodySink sink;
        Resend resend = Resend::allowed;
    };
    void send(Request request, Completion done);
    void watch(QNetworkReply* reply, const QUrl& target, AnswerKind kind, BodySink sink, Completion done);

    TimeLimit limit_;
    AnswerLimits answerLimits_;
    QNetworkAccessManager* manager_;
};

} // namespace folvane
