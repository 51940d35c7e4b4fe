#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace folvane::ui {

// Finds a site's small icon: the icon its page names (or the site's /favicon.ico), else the favicon service's
// image for the site's domain. Icons are stored as 52×52 PNG (26×26 points at double density).
class IconFetcher : public QObject {
    Q_OBJECT
public:
    // What a finished fetch gives: the icon, or nothing when none was found or the address cannot be asked
    // (the site then shows its initial, see icons::siteFace, and the next save asks again).
    using Completion = std::function<void(std::optional<QByteArray> icon)>;

    // The favicon service's base address: $FOLVANE_FAVICON_SERVICE when set (empty: no service), else
    // https://www.google.com.
    static QString standardServiceBase();

    explicit IconFetcher(QString serviceBase = standardServiceBase(), QObject* parent = nullptr);

    void fetch(const QString& pageURL, const QString& cleanedURL, Completion done);

    // The icons a page names in its <link rel="… icon …"> elements, smallest declared size first, then the
    // site's /favicon.ico; relative addresses are resolved against the page.
    static QList<QUrl> pageIconCandidates(const QByteArray& html, const QUrl& page);
    // <base>/s2/favicons?domain=<scheme>://<host> of the cleaned URL; an invalid URL when it names no host.
    static QUrl faviconServiceURL(const QString& serviceBase, const QString& cleanedURL);
    // The data as a stored icon; nothing when it is not an image.
    static std::optional<QByteArray> iconPNG(const QByteArray& data);

private:
    void tryCandidates(QList<QUrl> candidates, QString cleanedURL, Completion done);
    void askService(const QString& cleanedURL, Completion done);
    QNetworkReply* get(const QUrl& url);

    QString serviceBase_;
    QNetworkAccessManager* manager_;
};

} // namespace folvane::ui
