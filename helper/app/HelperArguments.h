#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace folvane {

// The helper's command line: sixteen values after the program path, each taken by its position.
// Positions 1, 2, 4 and 6 are markers and never read. Position 7 "-" means the password is the first
// line of standard input, so it never shows in the process list.
struct HelperArguments {
    static constexpr int count = 16;

    QStringList all;                // the whole argument list, program path first, password position masked
    QString url;                    // 3
    QString login;                  // 5
    QString password;               // 7
    QString baseFolder;             // 8
    QString title;                  // 9
    bool notifications = false;     // 10
    bool openFinder = false;        // 11
    bool defaultGroupAlert = false; // 12
    bool caching = false;           // 13
    bool usageData = false;         // 14
    QString dirtyURL;               // 15
    QString cmsTag;                 // 16
};

// Reads the argument list; `readPasswordLine` is called only when position 7 is "-". Returns nothing,
// with `error` set, when fewer than sixteen values were given.
std::optional<HelperArguments> parseHelperArguments(const QStringList& args,
                                                    const std::function<QString()>& readPasswordLine,
                                                    QString* error);

QString helperUsage(const QString& program);

} // namespace folvane
