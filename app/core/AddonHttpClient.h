#pragma once

#include "FormEncoding.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace folvane {

struct AddonAnswer {
    QByteArray body; // empty when the transfer failed
    bool timedOut = false;
};

// The application's HTTP client for add-on requests (http and https only): every request is given up
// after a fixed time (5 s), which the answer reports as a time-out. Cookies live as long as the client.
// Answers arrive on the client's thread; HTTP status codes are not judged, only bodies.
class AddonHttpClient : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const AddonAnswer&)>;

    explicit AddonHttpClient(QObject* parent = nullptr);

    void get(const QString& url, Completion done);
    void postForm(const QString& url, const FormFields& fields, Completion done);

private:
    void track(QNetworkReply* reply, Completion done);
    void failLater(Completion done);

    QNetworkAccessManager* manager_;
};

} // namespace folvane
