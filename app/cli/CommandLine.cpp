#include "CommandLine.h"

namespace folvane::cli {

std::optional<QString> CommandLine::value(const QString& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional(it->second);
}

QString CommandLine::unexpectedOptions(const std::set<QString>& allowed) const {
    QStringList unexpected;
    for (const auto& [name, given] : values)
        if (!allowed.count(name))
            unexpected << QStringLiteral("--") + name;
    for (const QString& name : flags)
        if (!allowed.count(name))
            unexpected << QStringLiteral("--") + name;
    return unexpected.join(QStringLiteral(", "));
}

std::optional<CommandLine> parseCommandLine(const QStringList& arguments,
                                            const std::set<QString>& valueOptions,
                                            const std::set<QString>& flagOptions, QString* error) {
    CommandLine parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QStringLiteral("-")) {
            parsed.words << argument;
            continue;
        }
        if (argument == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = argument == QStringLiteral("-h")            ? QStringLiteral("help")
                       : argument == QStringLiteral("-v")          ? QStringLiteral("verbose")
                       : argument.startsWith(QStringLiteral("--")) ? argument.mid(2)
                                                                   : QString();
        std::optional<QString> inlineValue;
        if (const qsizetype equals = name.indexOf(u'='); equals >= 0) {
            inlineValue = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (valueOptions.count(name)) {
            if (!inlineValue && i + 1 >= arguments.size()) {
                *error = QStringLiteral("option --%1 needs a value").arg(name);
                return std::nullopt;
            }
            parsed.values[name] = inlineValue ? *inlineValue : arguments[++i];
        } else if (flagOptions.count(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else {
            *error = QStringLiteral("unknown option %1").arg(argument);
            return std::nullopt;
        }
    }
    return parsed;
}

} // namespace folvane::cli
