#pragma once

#include "addon/AddonClient.h"

#include <QByteArray>
#include <QString>

namespace folvane {

// Long contents are logged by their size only; the log is for people.
inline QString forLog(const QByteArray& data) {
    constexpr qsizetype limit = 120;
    return data.size() <= limit ? QString::fromUtf8(data) : QStringLiteral("<%1 bytes>").arg(data.size());
}

// What the add-on said when it did not carry a request out (or that it said nothing).
inline QString refusalOf(const AddonResult& result) {
    return result.transportFailed ? QStringLiteral("The site did not answer.")
                                  : result.message.value_or(QString());
}

} // namespace folvane
