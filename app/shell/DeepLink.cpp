#include "shell/DeepLink.h"

#include <QUrl>
#include <QUrlQuery>

namespace folvane::shell {

namespace {

const QString scheme = QStringLiteral("folvane");
const QString addSiteHost = QStringLiteral("add_site");

// The value of the first item with this name, still encoded; empty when there is none.
QString firstItem(const QUrlQuery& query, const QString& name) {
    for (const auto& [key, value] : query.queryItems(QUrl::FullyEncoded)) {
        if (QUrl::fromPercentEncoding(key.toUtf8()) == name)
            return value;
    }
    return {};
}

QString decoded(const QString& encoded) {
    return QUrl::fromPercentEncoding(encoded.toUtf8());
}

} // namespace

std::optional<DeepLinkRequest> parseDeepLink(const QString& url) {
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().compare(scheme, Qt::CaseInsensitive) != 0 ||
        parsed.host() != addSiteHost)
        return std::nullopt;
    const QUrlQuery query(parsed);
    DeepLinkRequest request;
    // The blank is restored before decoding, so a title with a real plus sent as %2B keeps it.
    request.title = decoded(firstItem(query, QStringLiteral("title")).replace(u'+', u' '));
    request.url = decoded(firstItem(query, QStringLiteral("url")));
    request.username = decoded(firstItem(query, QStringLiteral("username")));
    return request;
}

} // namespace folvane::shell
