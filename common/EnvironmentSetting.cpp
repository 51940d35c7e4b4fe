#include "EnvironmentSetting.h"

#include "ConsoleLog.h"

namespace folvane {

std::optional<qint64> positiveSetting(const char* name) {
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    bool ok = false;
    const qint64 value = qEnvironmentVariable(name).toLongLong(&ok);
    if (ok && value > 0)
        return value;
    logLine(QStringLiteral("Ignoring %1: not a positive integer").arg(QLatin1String(name)));
    return std::nullopt;
}

} // namespace folvane
