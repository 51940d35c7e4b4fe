#include "AddonUrls.h"

#include <QUrl>

namespace folvane {

QString queryDividerFor(CMS cms) {
    switch (cms) {
    case CMS::expressionEngine:
        return QStringLiteral("&m=");
    case CMS::wordPress:
        return QStringLiteral("/");
    case CMS::default_:
        break;
    }
    return {};
}

ActionUrls actionUrlsFor(const QString& base, const QString& divider) {
    const auto action = [&](const char* name) { return actionUrl(base, divider, QLatin1String(name)); };
    return {action("status"),
            action("login"),
            action("list_all"),
            action("get_template"),
            action("update_template_data"),
            action("create_template"),
            action("rename_template"),
            action("delete_template"),
            action("delete_template_group"),
            action("create_template_group"),
            action("rename_template_group"),
            action("move_template_group"),
            action("move_template")};
}

std::optional<QString> sessionRewrittenUrl(const QString& url, const QString& sessionId) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty() || parsed.host().isEmpty() || !parsed.hasQuery())
        return std::nullopt;
    // The query is carried over exactly as typed, not as the URL parser would re-encode it.
    const qsizetype queryStart = url.indexOf(u'?') + 1;
    qsizetype queryEnd = url.indexOf(u'#', queryStart);
    if (queryEnd < 0)
        queryEnd = url.size();
    const QString query = url.mid(queryStart, queryEnd - queryStart);

    QString host = parsed.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    QString rewritten = parsed.scheme() + QStringLiteral("://") + host;
    if (parsed.port() != -1)
        rewritten += u':' + QString::number(parsed.port());
    return rewritten + QStringLiteral("/S=") + sessionId + QStringLiteral("/?") + query;
}

} // namespace folvane
