#include "TextBool.h"

namespace folvane {

bool textBoolValue(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r'))
        ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    while (i < n && text[i] == u'0')
        ++i;
    if (i >= n)
        return false;
    const QChar c = text[i];
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

} // namespace folvane
