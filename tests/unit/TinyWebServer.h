#pragma once

// A web server on the loopback interface for the tests that fetch pages, icons, feeds or add-on answers.
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <map>

namespace folvane::testsupport {

// Answers GET requests from a table of paths (query included), everything else with a 404; or, when
// `respond` is set, lets it answer each request as it likes (or not at all). Records each request, whole
// and by its path.
class TinyWebServer : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray contentType = "text/html";
        QByteArray body;
    };

    TinyWebServer() {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

    std::map<QString, Answer> answers;
    std::function<void(QTcpSocket*, const QByteArray& request)> respond;
    QStringList requested;
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket* socket) {
        const QByteArray request = socket->readAll();
        requests << request;
        requested << QString::fromLatin1(request.split(' ').value(1));
        if (respond)
            return respond(socket, request);
        const QString path = requested.last();
        const auto it = answers.find(path);
        const Answer answer = it == answers.end() ? Answer{404, "text/plain", "not found"} : it->second;
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " X\r\nContent-Type: " +
                      answer.contentType + "\r\nContent-Length: " + QByteArray::number(answer.body.size()) +
                      "\r\nConnection: close\r\n\r\n" + answer.body);
        socket->disconnectFromHost();
    }
    QTcpServer server_;
};

} // namespace folvane::testsupport
