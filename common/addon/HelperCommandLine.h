#pragma once

#include "Cms.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace folvane {

// The helper's command line: sixteen values after the program path, each taken by its position. The
// application builds it with arguments(), the helper reads it with parse(). Positions 1, 2, 4 and 6 are
// markers and never read.
struct HelperCommandLine {
    static constexpr int count = 16;
    // "-" here means the password is the first line of standard input, so it never shows in the process
    // list; any other text is the password itself.
    static constexpr int passwordPosition = 7;
    // The helper's exit status when another helper already serves a site of the same title.
    static constexpr int exitAlreadyConnected = 3;

    QString typedUrl;               // 3: the add-on's base address as the user typed it; requests start here
    QString login;                  // 5
    QString password;               // 7: as parse() resolved it; arguments() always writes "-"
    QString baseFolder;             // 8: the support folder, which holds the mirror folders
    QString title;                  // 9: names the volume and every bus notification
    bool notifications = false;     // 10
    bool openFolder = false;        // 11: show the volume in the file browser once mounted
    bool defaultGroupAlert = false; // 12
    bool caching = false;           // 13
    bool usageData = false;         // 14
    QString cleanUrl;               // 15: the typed address with its scheme and "www." made explicit
    CMS cms = CMS::default_;        // 16: as its tag, "ExpressionEngine" or "Wordpress"

    // The sixteen values for starting the helper; the caller writes the password to its standard input.
    // Switches are "1" or "0".
    QStringList arguments() const;

    // Reads the argument list, program path first; `readPasswordLine` is called only when position 7 is
    // "-". Switches read "1", "yes", "true" (and the like) as on, anything else as off. Returns nothing,
    // with `error` set, when fewer than sixteen values were given.
    static std::optional<HelperCommandLine>
    parse(const QStringList& args, const std::function<QString()>& readPasswordLine, QString* error);

    static QString usage(const QString& program);
};

} // namespace folvane
