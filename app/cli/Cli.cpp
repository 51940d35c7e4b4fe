#include "Cli.h"

#include "BuildInfo.h"
#include "Commands.h"
#include "Console.h"

#include <functional>

namespace folvane::cli {

namespace {

struct CommandEntry {
    QStringList name; // one or two words
    std::set<QString> options;
    int positionals; // words after the name
    std::function<int(const CommandLine&)> run;
};

const std::vector<CommandEntry>& commands() {
    static const std::vector<CommandEntry> table = {
        {{QStringLiteral("sites"), QStringLiteral("list")}, {}, 0, sitesList},
        {{QStringLiteral("sites"), QStringLiteral("add")},
         {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user")},
         0,
         sitesAdd},
        {{QStringLiteral("sites"), QStringLiteral("edit")},
         {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user"), QStringLiteral("password")},
         1,
         sitesEdit},
        {{QStringLiteral("sites"), QStringLiteral("remove")}, {QStringLiteral("yes")}, 1, sitesRemove},
        {{QStringLiteral("check")}, {QStringLiteral("url"), QStringLiteral("user")}, -1, checkSite},
        {{QStringLiteral("connect")}, {}, 1, connectSite},
        {{QStringLiteral("refresh")}, {QStringLiteral("timeout")}, 1, refreshSite},
        {{QStringLiteral("status")}, {QStringLiteral("json")}, -1, showStatus},
        {{QStringLiteral("eject")}, {QStringLiteral("yes")}, 1, ejectSite},
        {{QStringLiteral("prefs"), QStringLiteral("get")}, {}, -1, prefsGet},
        {{QStringLiteral("prefs"), QStringLiteral("set")}, {}, 2, prefsSet},
    };
    return table;
}

int usageError(const QString& problem) {
    console::error(problem + QStringLiteral(" (see folvane3 --help)"));
    return exitUsage;
}

} // namespace

QString helpText() {
    return QStringLiteral(R"(usage: folvane3 [-v|--verbose] COMMAND [ARGUMENTS]

Folvane 3 mounts the templates of ExpressionEngine and WordPress sites as a folder of files.

Sites
  sites list                               the sites, in order: title, URL, user, whether a password is stored
  sites add --title T --url U --user N     add a site; the password is read from standard input (first line),
                                           or asked for without echo on a terminal
  sites edit TITLE [--title T] [--url U] [--user N] [--password]
                                           change a site; --password reads a new password as above
  sites remove TITLE [--yes]               remove a site (asks first; --yes does not ask); its stored
                                           password stays in the Secret Service

Connections
  check TITLE                              check a site's add-on and login as connecting would
  check --url U --user N                   test an address and user before adding them (password as above)
  connect TITLE                            check, mount the site and print the mount path; stays until Ctrl-C
                                           (or SIGTERM), then ejects the site
  refresh TITLE [--timeout SECONDS]        ask the site connected by another folvane3 to download its
                                           templates again, and wait for it (default 120 s)

Preferences
  prefs get [NAME]                         the preferences, or one
  prefs set NAME on|off                    change one
  NAME: notifications, open-file-browser, default-group-alert, caching, check-updates, usage-data

Options
  -v, --verbose      show the console log (the application's and the helper's) on standard error
  -h, --help         this text
  --version          the version

Exit status
  0  done
  1  the operation failed (the check refused the site, the helper could not connect or mount it,
     a file or the Secret Service could not be written)
  2  the command line is wrong
  3  the input was refused (no such site, a title or URL already in the list, a title that cannot name
     a folder, a removal not confirmed)
  4  no answer: the site's helper did not answer the refresh in time

Files: $XDG_DATA_HOME/Folvane 3/sites.plist and preferences.plist; sites are mounted at
$FOLVANE_MOUNT_ROOT/TITLE (default ~/Folvane/TITLE).)");
}

int run(const QStringList& arguments) {
    QString problem;
    const std::optional<CommandLine> parsed = parseCommandLine(
        arguments.mid(1),
        {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user"), QStringLiteral("timeout")},
        {QStringLiteral("help"), QStringLiteral("verbose"), QStringLiteral("version"),
         QStringLiteral("password"), QStringLiteral("yes"), QStringLiteral("json")},
        &problem);
    console::setUp(parsed && parsed->has(QStringLiteral("verbose")));
    if (!parsed)
        return usageError(problem);
    if (parsed->has(QStringLiteral("version"))) {
        console::out(QStringLiteral("folvane3 ") + QString::fromUtf8(build::appVersion));
        return exitOk;
    }
    if (parsed->has(QStringLiteral("help")) || parsed->words.isEmpty()) {
        console::out(helpText());
        return exitOk;
    }
    for (const CommandEntry& entry : commands()) {
        if (parsed->words.mid(0, entry.name.size()) != entry.name)
            continue;
        CommandLine command = *parsed;
        command.words = parsed->words.mid(entry.name.size());
        command.flags.erase(QStringLiteral("verbose"));
        const QString name = entry.name.join(u' ');
        if (const QString unexpected = command.unexpectedOptions(entry.options); !unexpected.isEmpty())
            return usageError(name + QStringLiteral(" does not take ") + unexpected);
        if (entry.positionals >= 0 && command.words.size() != entry.positionals)
            return usageError(name + (entry.positionals == 0
                                          ? QStringLiteral(" takes no arguments")
                                          : QStringLiteral(" takes %1 argument(s)").arg(entry.positionals)));
        return entry.run(command);
    }
    return usageError(QStringLiteral("unknown command \"%1\"").arg(parsed->words.join(u' ')));
}

} // namespace folvane::cli
