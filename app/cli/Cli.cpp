#include "Cli.h"

#include "BuildInfo.h"
#include "Commands.h"
#include "Console.h"
#include "Counted.h"

#include <functional>

namespace folvane::cli {

namespace {

struct CommandEntry {
    QStringList name; // one or two words
    std::set<QString> options;
    int positionals; // words after the name
    std::function<int(const CommandLine&)> run;
    QString group;    // the heading it is listed under in the help
    QString synopsis; // after "folvane3 "
    QString summary;  // lines of at most 60 characters
};

const std::vector<CommandEntry>& commands() {
    static const QString sites = QStringLiteral("Sites");
    static const QString connections = QStringLiteral("Connections");
    static const QString preferences = QStringLiteral("Preferences");
    static const std::vector<CommandEntry> table = {
        {{QStringLiteral("sites"), QStringLiteral("list")},
         {QStringLiteral("titles")},
         0,
         sitesList,
         sites,
         QStringLiteral("sites list [--titles]"),
         QStringLiteral("the sites, in order: title, URL, user, whether a password is stored;\n"
                        "--titles: only the titles, one a line")},
        {{QStringLiteral("sites"), QStringLiteral("add")},
         {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user")},
         0,
         sitesAdd,
         sites,
         QStringLiteral("sites add --title T --url U --user N"),
         QStringLiteral("add a site; the password is read from standard input (first line),\n"
                        "or asked for without echo on a terminal")},
        {{QStringLiteral("sites"), QStringLiteral("edit")},
         {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user"), QStringLiteral("password")},
         1,
         sitesEdit,
         sites,
         QStringLiteral("sites edit TITLE [--title T] [--url U] [--user N] [--password]"),
         QStringLiteral("change a site; --password reads a new password as above")},
        {{QStringLiteral("sites"), QStringLiteral("remove")},
         {QStringLiteral("yes")},
         1,
         sitesRemove,
         sites,
         QStringLiteral("sites remove TITLE [--yes]"),
         QStringLiteral("remove a site (asks first; --yes does not ask) and its\n"
                        "password from the Secret Service")},
        {{QStringLiteral("check")},
         {QStringLiteral("url"), QStringLiteral("user")},
         -1,
         checkSite,
         connections,
         QStringLiteral("check TITLE | check --url U --user N"),
         QStringLiteral("check a site's add-on and login as connecting would; with --url\n"
                        "and --user, test an address and user before adding them\n"
                        "(password as for sites add)")},
        {{QStringLiteral("connect")},
         {},
         1,
         connectSite,
         connections,
         QStringLiteral("connect TITLE"),
         QStringLiteral("check, mount the site and print the mount path; stays until\n"
                        "Ctrl-C (or SIGTERM), then ejects the site")},
        {{QStringLiteral("refresh")},
         {QStringLiteral("timeout")},
         1,
         refreshSite,
         connections,
         QStringLiteral("refresh TITLE [--timeout SECONDS]"),
         QStringLiteral("ask the helper of a connected site to download its templates\n"
                        "again, and wait for it (default 120 s)")},
        {{QStringLiteral("status")},
         {QStringLiteral("json")},
         -1,
         showStatus,
         connections,
         QStringLiteral("status [TITLE] [--json]"),
         QStringLiteral("the connected sites, their mount paths and the files each site\n"
                        "has not confirmed yet (waiting, sending, refused, retrying)")},
        {{QStringLiteral("eject")},
         {QStringLiteral("yes")},
         1,
         ejectSite,
         connections,
         QStringLiteral("eject TITLE [--yes]"),
         QStringLiteral("end the connection of a site, whoever started it; asks first\n"
                        "while files are unconfirmed (--yes does not ask)")},
        {{QStringLiteral("prefs"), QStringLiteral("get")},
         {},
         -1,
         prefsGet,
         preferences,
         QStringLiteral("prefs get [NAME]"),
         QStringLiteral("the preferences, or one")},
        {{QStringLiteral("prefs"), QStringLiteral("set")},
         {},
         2,
         prefsSet,
         preferences,
         QStringLiteral("prefs set NAME on|off"),
         QStringLiteral("change one; NAME: notifications, open-file-browser,\n"
                        "default-group-alert, caching, check-updates, usage-data")},
    };
    return table;
}

int usageError(const QString& problem) {
    console::error(problem + QStringLiteral(" (see folvane3 --help)"));
    return exitUsage;
}

// The synopsis in a column of its own, the summary beside it (or below it when the synopsis is long).
QString listed(const CommandEntry& entry) {
    constexpr int column = 43;
    const QString indent(column, u' ');
    QString text = QStringLiteral("  ") + entry.synopsis;
    text = text.size() < column - 1 ? text.leftJustified(column) : text + u'\n' + indent;
    return text + entry.summary.split(u'\n').join(u'\n' + indent) + u'\n';
}

QString commandHelp(const CommandEntry& entry) {
    return QStringLiteral("usage: folvane3 [-v|--verbose] ") + entry.synopsis + QStringLiteral("\n\n") +
           entry.summary + QStringLiteral("\n\nfolvane3 --help lists every command and the exit statuses.");
}

} // namespace

QString helpText() {
    QString text = QStringLiteral("usage: folvane3 [-v|--verbose] COMMAND [ARGUMENTS]\n\n"
                                  "Folvane 3 mounts the templates of ExpressionEngine and WordPress sites "
                                  "as a folder of files.\n");
    QString group;
    for (const CommandEntry& entry : commands()) {
        if (entry.group != group) {
            group = entry.group;
            text += u'\n' + group + u'\n';
        }
        text += listed(entry);
    }
    return text + QStringLiteral(R"(
Options
  -v, --verbose      show the console log (the application's and the helper's) on standard error
  -h, --help         this text; after a command, that command's
  --version          the version

Exit status
  0  done
  1  the operation failed (the check refused the site, the helper could not connect or mount it,
     a file or the Secret Service could not be written)
  2  the command line is wrong
  3  the input was refused (no such site, a title or URL already in the list, a title that cannot name
     a folder, a removal or eject not confirmed, a site not connected)
  4  no answer: the site's helper did not answer (the refresh or eject) in time

Files: $XDG_DATA_HOME/Folvane 3/sites.plist and preferences.plist; sites are mounted at
$FOLVANE_MOUNT_ROOT/TITLE (default ~/Folvane/TITLE).)");
}

int run(const QStringList& arguments) {
    QString problem;
    const std::optional<CommandLine> parsed = parseCommandLine(
        arguments.mid(1),
        {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("user"), QStringLiteral("timeout")},
        {QStringLiteral("help"), QStringLiteral("verbose"), QStringLiteral("version"),
         QStringLiteral("password"), QStringLiteral("yes"), QStringLiteral("json"), QStringLiteral("titles")},
        &problem);
    console::setUp(parsed && parsed->has(QStringLiteral("verbose")));
    if (!parsed)
        return usageError(problem);
    if (parsed->has(QStringLiteral("version"))) {
        console::out(QStringLiteral("folvane3 ") + QString::fromUtf8(build::appVersion));
        return exitOk;
    }
    if (parsed->words.isEmpty()) {
        console::out(helpText());
        return exitOk;
    }
    for (const CommandEntry& entry : commands()) {
        if (parsed->words.mid(0, entry.name.size()) != entry.name)
            continue;
        if (parsed->has(QStringLiteral("help"))) {
            console::out(commandHelp(entry));
            return exitOk;
        }
        CommandLine command = *parsed;
        command.words = parsed->words.mid(entry.name.size());
        command.flags.erase(QStringLiteral("verbose"));
        const QString name = entry.name.join(u' ');
        if (const QString unexpected = command.unexpectedOptions(entry.options); !unexpected.isEmpty())
            return usageError(name + QStringLiteral(" does not take ") + unexpected);
        if (entry.positionals >= 0 && command.words.size() != entry.positionals)
            return usageError(name + (entry.positionals == 0
                                          ? QStringLiteral(" takes no arguments")
                                          : QStringLiteral(" takes ") +
                                                counted(entry.positionals, QStringLiteral("argument"),
                                                        QStringLiteral("arguments"))));
        return entry.run(command);
    }
    if (parsed->has(QStringLiteral("help"))) {
        console::out(helpText());
        return exitOk;
    }
    return usageError(QStringLiteral("unknown command \"%1\"").arg(parsed->words.join(u' ')));
}

} // namespace folvane::cli
