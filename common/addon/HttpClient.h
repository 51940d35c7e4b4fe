#pragma once

#include "FormEncoding.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QNetworkAccessManager;

namespace folvane {

struct HttpAnswer {
    QByteArray body; // empty when the transfer failed
    QString error;   // empty on success
    bool failed() const { return !error.isEmpty(); }
    // How the outcome is logged: the body on success, the error otherwise.
    QString describe() const;
};

// The helper's HTTP client: one cookie store for the process, form-encoded POST bodies, answers
// delivered on the thread that owns the client (the main thread). Requests may be started from any thread.
class HttpClient : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const HttpAnswer&)>;

    explicit HttpClient(QObject* parent = nullptr);

    void get(const QString& url, Completion done);
    void postForm(const QString& url, const FormFields& fields, Completion done);

private:
    void send(const QByteArray& method, const QString& url, const QByteArray& body, Completion done);

    QNetworkAccessManager* manager_;
};

} // namespace folvane
