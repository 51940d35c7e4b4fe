#include "shell/Appcast.h"

#include "VersionCompare.h"

#include <QXmlStreamReader>

namespace folvane::shell {

namespace {

const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// An item's facts as they are read; the enclosure's stand in for what the item lacks.
struct ItemReading {
    AppcastItem item;
    QString shortVersion, version, enclosureUrl, enclosureShortVersion, enclosureVersion;

    std::optional<AppcastItem> finished() const {
        AppcastItem result = item;
        for (const QString& candidate : {shortVersion, enclosureShortVersion, version, enclosureVersion}) {
            if (!candidate.trimmed().isEmpty()) {
                result.version = candidate.trimmed();
                break;
            }
        }
        if (!result.downloadPage.isValid() || result.downloadPage.isEmpty())
            result.downloadPage = QUrl(enclosureUrl.trimmed());
        const QString scheme = result.downloadPage.scheme();
        // Only web addresses are opened from a feed.
        if (result.version.isEmpty() ||
            (scheme != QStringLiteral("https") && scheme != QStringLiteral("http")))
            return std::nullopt;
        return result;
    }
};

ItemReading readItem(QXmlStreamReader& xml) {
    ItemReading reading;
    while (xml.readNextStartElement()) {
        const bool sparkle = xml.namespaceUri() == sparkleNamespace;
        const auto name = xml.name();
        if (name == QStringLiteral("enclosure")) {
            const auto attributes = xml.attributes();
            reading.enclosureUrl = attributes.value(QStringLiteral("url")).toString();
            reading.enclosureShortVersion =
                attributes.value(sparkleNamespace, QStringLiteral("shortVersionString")).toString();
            reading.enclosureVersion =
                attributes.value(sparkleNamespace, QStringLiteral("version")).toString();
            xml.skipCurrentElement();
        } else if (!sparkle && name == QStringLiteral("title")) {
            reading.item.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (!sparkle && name == QStringLiteral("link")) {
            reading.item.downloadPage =
                QUrl(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
        } else if (sparkle && name == QStringLiteral("shortVersionString")) {
            reading.shortVersion = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (sparkle && name == QStringLiteral("version")) {
            reading.version = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else {
            xml.skipCurrentElement();
        }
    }
    return reading;
}

} // namespace

std::optional<AppcastItem> newestRelease(const QByteArray& feed) {
    QXmlStreamReader xml(feed);
    if (!xml.readNextStartElement() || xml.name() != QStringLiteral("rss"))
        return std::nullopt;
    std::optional<AppcastItem> newest;
    while (xml.readNextStartElement()) {
        if (xml.name() != QStringLiteral("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() != QStringLiteral("item")) {
                xml.skipCurrentElement();
                continue;
            }
            const auto item = readItem(xml).finished();
            if (item && (!newest || compareVersions(item->version, newest->version) > 0))
                newest = item;
        }
    }
    // A feed cut off halfway may name an old release as the newest: trust only a whole one.
    if (xml.hasError())
        return std::nullopt;
    return newest;
}

bool isNewerRelease(const AppcastItem& release, const QString& runningVersion) {
    return compareVersions(release.version, runningVersion) > 0;
}

bool updateCheckDue(const QDateTime& lastCheck, const QDateTime& now) {
    return !lastCheck.isValid() || lastCheck > now || lastCheck.secsTo(now) >= 24 * 60 * 60;
}

} // namespace folvane::shell
