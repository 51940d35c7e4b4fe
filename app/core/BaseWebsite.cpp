#include "BaseWebsite.h"

#include "ConsoleLog.h"

#include <QUrl>

namespace folvane {

BaseWebsite::BaseWebsite(const QString& url, const QString& login, const QString& password,
                         const QString& cleanName, const QString& dirtyURL, std::optional<QByteArray> favIcon)
    : dirtyURL(dirtyURL), url(cleanedURL(url)), login(login), password(password), cleanName(cleanName),
      favIcon(std::move(favIcon)) {
    deriveSecretAttributes();
    logLine(QStringLiteral("Create Website: url %1 login %2 port %3 server %4")
                .arg(this->url, this->login)
                .arg(port)
                .arg(server));
}

QString BaseWebsite::cleanedURL(const QString& text) {
    if (text.isEmpty() || text.startsWith(QLatin1String("http://www.")) ||
        text.startsWith(QLatin1String("https://www.")))
        return text;
    if (text.startsWith(QLatin1String("www.")))
        return QStringLiteral("http://") + text;
    if (text.startsWith(QLatin1String("http://")))
        return QStringLiteral("http://www.") + text.mid(7);
    if (text.startsWith(QLatin1String("https://")))
        return QStringLiteral("http://www.") + text.mid(8);
    return QStringLiteral("http://www.") + text;
}

QString BaseWebsite::cleanURL(const QString& text) const {
    return text.isEmpty() ? url : cleanedURL(text);
}

void BaseWebsite::deriveSecretAttributes() {
    const QUrl parsed(url, QUrl::StrictMode);
    const bool parses = parsed.isValid() && !url.isEmpty();
    port = parses ? parsed.port(80) : 80;
    server = parses ? parsed.host() : QString();
    internetProtocol = parses && parsed.scheme() == QLatin1String("https") ? InternetProtocol::https
                                                                           : InternetProtocol::http;
    authenticationType = AuthenticationType::httpBasic;
}

void BaseWebsite::setNewValues(const std::optional<QString>& newTitle, const std::optional<QString>& newURL,
                               const std::optional<QString>& newUsername,
                               const std::optional<QString>& newPassword) {
    if (newTitle)
        cleanName = *newTitle;
    if (newUsername)
        login = *newUsername;
    if (newPassword)
        password = *newPassword;
    if (newURL) {
        dirtyURL = *newURL;
        url = cleanURL(*newURL);
        deriveSecretAttributes();
    }
}

bool BaseWebsite::isSet() const {
    return !url.isEmpty() && !login.isEmpty() && !password.isEmpty() && !cleanName.isEmpty();
}

bool BaseWebsite::isEqual(const BaseWebsite* other) const {
    return other && dirtyURL == other->dirtyURL && login == other->login && password == other->password &&
           cleanName == other->cleanName;
}

bool BaseWebsite::isTitleInList(const BaseWebsite* other) const {
    return other && cleanName == other->cleanName;
}

bool BaseWebsite::isURLInList(const BaseWebsite* other) const {
    return other && dirtyURL == other->dirtyURL;
}

bool BaseWebsite::canAddToList(const BaseWebsite* other) const {
    return isTitleInList(other) || isURLInList(other);
}

} // namespace folvane
