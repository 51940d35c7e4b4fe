#include "SafeName.h"

namespace folvane {

bool isSafeComponent(const QString& name) {
    constexpr qsizetype nameMax = 255;
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(QChar(0)) && name.toUtf8().size() <= nameMax;
}

QString shownName(const QString& name) {
    const auto isHex = [](QChar c) { return c.isDigit() || (c >= u'a' && c <= u'f'); };
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c == QChar(0) && i + 2 < name.size() && isHex(name.at(i + 1)) && isHex(name.at(i + 2))) {
            shown += QStringLiteral("\\x") + name.mid(i + 1, 2);
            i += 2;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace folvane
