#include "IconFetcher.h"

#include "ConsoleLog.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>
#include <algorithm>
#include <limits>

namespace folvane::ui {

namespace {

constexpr int transferTimeoutMs = 5000;
// A page naming its icon, or an icon, is far smaller; a site sending without end is cut off here.
constexpr qint64 maxAnswerBytes = qint64(2) << 20;
constexpr int storedSide = 52;

QString attribute(const QString& tag, const QString& name) {
    const QRegularExpression pattern(
        QStringLiteral(R"re(\b%1\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(tag);
    if (!match.hasMatch())
        return {};
    for (int group = 1; group <= 3; ++group)
        if (match.capturedStart(group) >= 0)
            return match.captured(group).trimmed();
    return {};
}

// The smallest side a "sizes" attribute declares; "any" and missing sizes sort last.
int declaredSide(const QString& sizes) {
    const QRegularExpression size(QStringLiteral(R"((\d+)[xX](\d+))"));
    int smallest = std::numeric_limits<int>::max();
    for (auto it = size.globalMatch(sizes); it.hasNext();)
        smallest = std::min(smallest, it.next().captured(1).toInt());
    return smallest;
}

} // namespace

QString IconFetcher::standardServiceBase() {
    if (qEnvironmentVariableIsSet("FOLVANE_FAVICON_SERVICE"))
        return qEnvironmentVariable("FOLVANE_FAVICON_SERVICE");
    return QStringLiteral("https://www.google.com");
}

IconFetcher::IconFetcher(QString serviceBase, QObject* parent)
    : QObject(parent), serviceBase_(std::move(serviceBase)), manager_(new QNetworkAccessManager(this)) {}

QList<QUrl> IconFetcher::pageIconCandidates(const QByteArray& html, const QUrl& page) {
    struct Candidate {
        QUrl url;
        int side;
    };
    std::vector<Candidate> named;
    const QRegularExpression linkTag(QStringLiteral(R"(<link\b[^>]*>)"),
                                     QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromUtf8(html);
    for (auto it = linkTag.globalMatch(text); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const QStringList rel =
            attribute(tag, QStringLiteral("rel")).toLower().split(u' ', Qt::SkipEmptyParts);
        const QString href = attribute(tag, QStringLiteral("href"));
        const bool namesIcon = std::any_of(rel.begin(), rel.end(), [](const QString& token) {
            return token == QStringLiteral("icon") || token.startsWith(QStringLiteral("apple-touch-icon"));
        });
        if (!namesIcon || href.isEmpty())
            continue;
        const QUrl resolved = page.resolved(QUrl(href));
        if (resolved.scheme() == QStringLiteral("http") || resolved.scheme() == QStringLiteral("https"))
            named.push_back({resolved, declaredSide(attribute(tag, QStringLiteral("sizes")))});
    }
    std::stable_sort(named.begin(), named.end(),
                     [](const Candidate& a, const Candidate& b) { return a.side < b.side; });
    QList<QUrl> candidates;
    for (const Candidate& candidate : named)
        candidates.append(candidate.url);
    const QUrl siteIcon = page.resolved(QUrl(QStringLiteral("/favicon.ico")));
    if (!candidates.contains(siteIcon))
        candidates.append(siteIcon);
    return candidates;
}

QUrl IconFetcher::faviconServiceURL(const QString& serviceBase, const QString& cleanedURL) {
    // The service learns which site, nothing more: the control panel's path and query may hold a session id.
    const QUrl site(cleanedURL);
    if (site.host().isEmpty())
        return {};
    QUrl url(serviceBase + QStringLiteral("/s2/favicons"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("domain"), site.scheme() + QStringLiteral("://") + site.host());
    url.setQuery(query);
    return url;
}

std::optional<QByteArray> IconFetcher::iconPNG(const QByteArray& data) {
    const QImage image = QImage::fromData(data);
    if (image.isNull())
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.scaled(storedSide, storedSide, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(&buffer, "PNG");
    return png;
}

QNetworkReply* IconFetcher::get(const QUrl& url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply* reply = manager_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > maxAnswerBytes || total > maxAnswerBytes)
            reply->abort();
    });
    return reply;
}

void IconFetcher::fetch(const QString& pageURL, const QString& cleanedURL, Completion done) {
    QUrl page(pageURL);
    if (page.scheme().isEmpty())
        page = QUrl(cleanedURL);
    if (!page.isValid() ||
        (page.scheme() != QStringLiteral("http") && page.scheme() != QStringLiteral("https"))) {
        logLine(QStringLiteral("Favicon: cannot ask for the icon of ") + pageURL);
        done(std::nullopt);
        return;
    }
    QNetworkReply* reply = get(page);
    connect(reply, &QNetworkReply::finished, this, [this, reply, cleanedURL, done = std::move(done)] {
        reply->deleteLater();
        const QUrl answered = reply->url();
        tryCandidates(pageIconCandidates(reply->readAll(), answered), cleanedURL, done);
    });
}

void IconFetcher::tryCandidates(QList<QUrl> candidates, QString cleanedURL, Completion done) {
    if (candidates.isEmpty()) {
        askService(cleanedURL, std::move(done));
        return;
    }
    QNetworkReply* reply = get(candidates.takeFirst());
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, candidates = std::move(candidates), cleanedURL, done = std::move(done)] {
                reply->deleteLater();
                if (reply->error() == QNetworkReply::NoError)
                    if (std::optional<QByteArray> icon = iconPNG(reply->readAll())) {
                        done(std::move(icon));
                        return;
                    }
                tryCandidates(candidates, cleanedURL, done);
            });
}

void IconFetcher::askService(const QString& cleanedURL, Completion done) {
    const QUrl service = faviconServiceURL(serviceBase_, cleanedURL);
    if (serviceBase_.isEmpty() || cleanedURL.isEmpty() || !service.isValid()) {
        done(std::nullopt);
        return;
    }
    QNetworkReply* reply = get(service);
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        // An HTTP answer of any status counts as data (the service answers unknown domains with a 404 and
        // a generic image).
        if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            logLine(QStringLiteral("Favicon service: ") + reply->errorString());
        done(iconPNG(reply->readAll()));
    });
}

} // namespace folvane::ui
