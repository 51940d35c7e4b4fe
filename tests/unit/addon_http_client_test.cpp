// The add-on HTTP client against a local server that answers as each case scripts it: what reaches the
// server, how answers and failures come back, and the two kinds of time limit.
#include "HttpClient.h"

#include "QtPrinters.h"
#include "TinyWebServer.h"
#include "testkit/Wait.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace folvane;
using namespace std::chrono_literals;

namespace {

// A local server whose answers `respond` writes.
struct LocalServer : testsupport::TinyWebServer {
    explicit LocalServer(std::function<void(QTcpSocket*, const QByteArray& request)> answer) {
        respond = std::move(answer);
    }
    QString url(const QString& path) const { return base() + path; }
};

void reply(QTcpSocket* socket, const QByteArray& status, const QByteArray& body,
           const QByteArray& extraHeaders = {}) {
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

// Headers at once, then the body one byte every 100 ms.
void trickle(QTcpSocket* socket, const QByteArray& body) {
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, body, sent] {
        socket->write(body.mid((*sent)++, 1));
        if (*sent == body.size())
            timer->stop();
    });
    timer->start(100);
}

HttpAnswer await(const std::function<void(HttpClient::Completion)>& request) {
    std::optional<HttpAnswer> answer;
    request([&](const HttpAnswer& a) { answer = a; });
    EXPECT_TRUE(testkit::waitUntil([&] { return answer.has_value(); })) << "no answer";
    return answer.value_or(HttpAnswer{});
}

constexpr TimeLimit silence(std::chrono::milliseconds duration) {
    return {TimeLimit::Measure::silence, duration};
}
constexpr TimeLimit wholeExchange(std::chrono::milliseconds duration) {
    return {TimeLimit::Measure::wholeExchange, duration};
}

} // namespace

TEST(HttpClient, AnyHttpStatusIsAnAnswerWithItsBody) {
    LocalServer server([](QTcpSocket* socket, const QByteArray&) {
        reply(socket, "404 Not Found", R"({"success":false})");
    });
    HttpClient http(applicationRequestLimit);
    const HttpAnswer answer = await([&](auto done) { http.get(server.url("/x?a=1&m=status"), done); });
    EXPECT_FALSE(answer.failed()) << answer.error.toStdString();
    EXPECT_FALSE(answer.timedOut);
    EXPECT_EQ(answer.body, R"({"success":false})");
    EXPECT_EQ(answer.describe(), R"(success: {"success":false})");
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_TRUE(server.requests.front().startsWith("GET /x?a=1&m=status HTTP/1.1\r\n"));
}

TEST(HttpClient, OnlyWebAddressesAreAskedAndTheRefusalComesLater) {
    HttpClient http(applicationRequestLimit);
    for (const QString& url :
         {QStringLiteral("file:///etc/passwd"), QStringLiteral("ftp://h/x"),
          QStringLiteral("http:///no-host"), QStringLiteral("http://h/a b"), QString()}) {
        bool returned = false;
        bool answeredAtOnce = false;
        const HttpAnswer answer = await([&](auto done) {
            http.get(url, [&, done](const HttpAnswer& a) {
                answeredAtOnce = !returned;
                done(a);
            });
            returned = true;
        });
        EXPECT_FALSE(answeredAtOnce) << url.toStdString();
        EXPECT_TRUE(answer.failed()) << url.toStdString();
        EXPECT_EQ(answer.error, "invalid URL: " + url);
        EXPECT_TRUE(answer.body.isEmpty());
        EXPECT_FALSE(answer.timedOut);
    }
}

TEST(HttpClientTimeLimit, ASilentSiteIsGivenUpAfterTheLimit) {
    LocalServer silent([](QTcpSocket*, const QByteArray&) {});
    for (const TimeLimit limit : {silence(300ms), wholeExchange(300ms)}) {
        HttpClient http(limit);
        const HttpAnswer answer = await([&](auto done) { http.get(silent.url("/status"), done); });
        EXPECT_TRUE(answer.timedOut);
        EXPECT_TRUE(answer.failed());
        EXPECT_TRUE(answer.error.contains("300 ms")) << answer.error.toStdString();
        EXPECT_TRUE(answer.body.isEmpty());
    }
}

TEST(HttpClientTimeLimit, ATransferThatKeepsMovingOutlastsASilenceLimitOnly) {
    const QByteArray body = R"({"ok":1})"; // 8 bytes: 800 ms in all, never 100 ms quiet
    LocalServer slow([&](QTcpSocket* socket, const QByteArray&) { trickle(socket, body); });

    HttpClient patient(silence(400ms));
    const HttpAnswer whole = await([&](auto done) { patient.get(slow.url("/list_all"), done); });
    EXPECT_FALSE(whole.failed()) << whole.error.toStdString();
    EXPECT_EQ(whole.body, body); // (a limit on the whole exchange cuts it: the helper's start-up case)
}

TEST(HttpClient, CookiesBelongToTheClientThatReceivedThem) {
    LocalServer server([](QTcpSocket* socket, const QByteArray& request) {
        reply(socket, "200 OK", "{}",
              request.startsWith("GET /login") ? "Set-Cookie: session=s1; Path=/\r\n" : "");
    });
    HttpClient first(helperRequestLimit);
    HttpClient second(helperRequestLimit);
    await([&](auto done) { first.get(server.url("/login"), done); });
    await([&](auto done) { first.get(server.url("/list_all"), done); });
    await([&](auto done) { second.get(server.url("/list_all"), done); });
    ASSERT_EQ(server.requests.size(), 3);
    EXPECT_TRUE(server.requests.at(1).contains("\r\nCookie: session=s1\r\n"));
    EXPECT_FALSE(server.requests.at(2).contains("Cookie:"));
}

namespace {

AnswerLimits smallAnswers(qint64 maxBytes, std::chrono::milliseconds deadline) {
    AnswerLimits limits;
    limits.action = {maxBytes, deadline};
    return limits;
}

// Headers, then chunks of `piece` every 20 ms for as long as the connection lasts; no length is announced.
void endlessChunks(QTcpSocket* socket, const QByteArray& piece) {
    socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    auto* timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, piece] {
        socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
    });
    timer->start(20);
}

} // namespace

TEST(HttpClientBounds, AnAnswerWithoutALengthIsCutOncePastItsCap) {
    // (Refused on an announced length, and the template list's cap of its own, are checked end to end.)
    HttpClient http(helperRequestLimit, smallAnswers(4096, std::chrono::minutes(5)));
    // Not announced: counted as it arrives, and cut once past the cap.
    LocalServer endless(
        [](QTcpSocket* socket, const QByteArray&) { endlessChunks(socket, QByteArray(1000, ' ')); });
    const HttpAnswer answer = await([&](auto done) { http.get(endless.url("/status"), done); });
    EXPECT_TRUE(answer.error.startsWith("answer too large")) << answer.error.toStdString();
}

TEST(HttpClientRedirects, SameOriginMeansSchemeHostAndPort) {
    EXPECT_TRUE(sameOrigin(QUrl("http://Site.test/a?x"), QUrl("http://site.test:80/b")));
    EXPECT_TRUE(sameOrigin(QUrl("https://site.test/a"), QUrl("https://site.test:443/b")));
    EXPECT_FALSE(sameOrigin(QUrl("https://site.test/a"), QUrl("http://site.test/a")));
    EXPECT_FALSE(sameOrigin(QUrl("http://site.test/a"), QUrl("http://site.test:8080/a")));
    EXPECT_FALSE(sameOrigin(QUrl("http://site.test/a"), QUrl("http://evil.test/a")));
    EXPECT_FALSE(sameOrigin(QUrl("http://site.test/a"), QUrl("http://site.test.evil.test/a")));
}

// A sink takes a large body as it arrives, in order and in bounded pieces; the answer then carries none. A
// transfer that breaks off has handed over what came and is a failure, and the cap counts what the sink took.
TEST(HttpClientBodySink, TakesALargeBodyPieceByPieceAndKeepsNoneOfIt) {
    QByteArray body(16 << 20, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 23);
    LocalServer server([&](QTcpSocket* socket, const QByteArray&) { reply(socket, "200 OK", body); });
    HttpClient http(silence(10s));
    QByteArray received;
    qsizetype pieces = 0, largest = 0;
    const HttpAnswer answer = await([&](auto done) {
        http.get(server.url("/list_all"), done, AnswerKind::templateList, [&](QByteArrayView piece) {
            received += piece;
            ++pieces;
            largest = std::max(largest, piece.size());
        });
    });
    EXPECT_FALSE(answer.failed()) << answer.error.toStdString();
    EXPECT_TRUE(answer.body.isEmpty());
    EXPECT_TRUE(received == body) << received.size() << " of " << body.size() << " bytes, or out of order";
    EXPECT_GT(pieces, 1);
    EXPECT_LE(largest, 4 << 20) << "the transfer waits for the sink instead of piling up";

    LocalServer cut([](QTcpSocket* socket, const QByteArray&) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"folders\":[");
        socket->flush();
        socket->disconnectFromHost();
    });
    QByteArray partial;
    const HttpAnswer broken = await([&](auto done) {
        http.get(cut.url("/list_all"), done, AnswerKind::templateList,
                 [&](QByteArrayView piece) { partial += piece; });
    });
    EXPECT_TRUE(broken.failed()) << "an answer cut short is no answer";
    EXPECT_TRUE(broken.body.isEmpty());
    EXPECT_EQ(partial, "{\"folders\":[");

    AnswerLimits small;
    small.templateList = {qint64(1) << 20, std::chrono::minutes(5)};
    HttpClient capped(silence(10s), small);
    qsizetype taken = 0;
    const HttpAnswer tooLarge = await([&](auto done) {
        capped.get(server.url("/list_all"), done, AnswerKind::templateList,
                   [&](QByteArrayView piece) { taken += piece.size(); });
    });
    EXPECT_TRUE(tooLarge.error.startsWith("answer too large")) << tooLarge.error.toStdString();
    EXPECT_LE(taken, qsizetype(1) << 20);
}
