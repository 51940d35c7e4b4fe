#pragma once

#include "Cms.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class QTimer;

namespace folvane {

class HelperProcess;

// The application's record of one site: title, control-panel URL as typed and cleaned, user name, the
// password (in memory only; stored in the Secret Service), an optional icon, and the run-time state of
// its connection.
class BaseWebsite {
public:
    enum class InternetProtocol { http, https };
    enum class AuthenticationType { httpBasic };

    explicit BaseWebsite(const QString& url = {}, const QString& login = {}, const QString& password = {},
                         const QString& cleanName = {}, const QString& dirtyURL = {},
                         std::optional<QByteArray> favIcon = std::nullopt);

    // Prefix rules, first match wins: "http://www." or "https://www." stay; "www." gets "http://";
    // "http://" and "https://" become "http://www."; anything else gets "http://www.". Empty stays empty.
    static QString cleanedURL(const QString& text);
    // As cleanedURL, except that empty text gives the record's current url.
    QString cleanURL(const QString& text) const;

    // Each value given replaces the field; a new URL replaces both URL fields and the attributes below.
    void setNewValues(const std::optional<QString>& newTitle, const std::optional<QString>& newURL,
                      const std::optional<QString>& newUsername, const std::optional<QString>& newPassword);

    bool isSet() const;
    // Same typed URL, login, password and title (exact text); url, icon and run-time state do not count.
    bool isEqual(const BaseWebsite* other) const;
    bool isTitleInList(const BaseWebsite* other) const;
    bool isURLInList(const BaseWebsite* other) const;
    // True when the two records conflict: same title, or same typed URL.
    bool canAddToList(const BaseWebsite* other) const;

    // Stored fields.
    QString dirtyURL;
    QString url;
    QString login;
    QString password;
    QString cleanName;
    CMS cms = CMS::default_;
    std::optional<QByteArray> favIcon; // PNG bytes

    // Derived from url: what older versions keyed the password item on (see SecretAttributes).
    QString server;
    int port = 80;
    InternetProtocol internetProtocol = InternetProtocol::http;
    AuthenticationType authenticationType = AuthenticationType::httpBasic;
    const QString& account() const { return login; }

    // Run-time state of the connection; never stored.
    std::shared_ptr<HelperProcess> siteConnection;
    std::shared_ptr<QTimer> siteConnectionRefresher;
    bool finishedConnecting = false;
    bool connectingError = false;
    // Uploads the helper reports as not yet confirmed by the site.
    int pendingUploads = 0;
    // Which entry of the site list this record is, or is a copy of (a copy made for an edit keeps it);
    // 0 for none. An edit finds its entry by it even when another program's change moved it.
    quint64 listEntry = 0;

private:
    void deriveSecretAttributes();
};

} // namespace folvane
