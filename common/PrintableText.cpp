#include "PrintableText.h"

#include <algorithm>

namespace folvane {

namespace {

bool needsEscape(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString printableLine(const QString& text) {
    // Nearly every line has nothing to escape: it is returned without a copy.
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return needsEscape(c.unicode()); }))
        return text;
    QString line;
    line.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (!needsEscape(code))
            line += c;
        else if (code == u'\n')
            line += QStringLiteral("\\n");
        else if (code == u'\r')
            line += QStringLiteral("\\r");
        else if (code == u'\t')
            line += QStringLiteral("\\t");
        else if (code < 0x100)
            line += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            line += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
    }
    return line;
}

} // namespace folvane
