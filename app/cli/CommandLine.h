#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <set>

namespace folvane::cli {

// folvane3's exit statuses.
enum ExitCode : int {
    exitOk = 0,
    exitFailed = 1,   // the operation was tried and failed
    exitUsage = 2,    // the command line is wrong
    exitRejected = 3, // the input was refused: unknown site, duplicate, unusable title, not confirmed
    exitNoAnswer = 4, // a connected site's helper did not answer in time
};

// A command line split into words (command, sub-command, positional values) and options.
struct CommandLine {
    QStringList words;
    std::map<QString, QString> values; // "--name VALUE" or "--name=VALUE"
    std::set<QString> flags;           // "--name"

    bool has(const QString& flag) const { return flags.count(flag) > 0; }
    std::optional<QString> value(const QString& name) const;
    // The options given that are not in `allowed`, as one text ("--url, --user"); empty when none.
    QString unexpectedOptions(const std::set<QString>& allowed) const;
};

// `valueOptions` take a value, `flagOptions` do not; "-h" is "--help", "-v" is "--verbose". Everything after
// "--" is a word. Returns nothing, with `error` set, for an unknown option or a missing value.
std::optional<CommandLine> parseCommandLine(const QStringList& arguments,
                                            const std::set<QString>& valueOptions,
                                            const std::set<QString>& flagOptions, QString* error);

} // namespace folvane::cli
