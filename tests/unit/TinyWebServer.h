#pragma once

// A web server on the loopback interface for the tests that fetch pages, icons or feeds.
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>

namespace folvane::testsupport {

// Answers GET requests from a table of paths (query included); everything else is a 404. Records each path.
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
    QStringList requested;

private:
    void serve(QTcpSocket* socket) {
        const QByteArray request = socket->readAll();
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        requested << path;
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
