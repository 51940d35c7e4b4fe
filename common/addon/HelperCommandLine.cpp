#include "HelperCommandLine.h"

#include "TextBool.h"

#include <algorithm>

namespace folvane {

namespace {
const QString passwordOnStandardInput = QStringLiteral("-");

QString switchText(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

QStringList HelperCommandLine::arguments() const {
    return {QStringLiteral("--args"),
            QStringLiteral("-admin_url"),
            typedUrl,
            QStringLiteral("-login"),
            login,
            QStringLiteral("-pass"),
            passwordOnStandardInput,
            baseFolder,
            title,
            switchText(notifications),
            switchText(openFolder),
            switchText(defaultGroupAlert),
            switchText(caching),
            switchText(usageData),
            cleanUrl,
            cmsTag(cms)};
}

std::optional<HelperCommandLine> HelperCommandLine::parse(const QStringList& args,
                                                          const std::function<QString()>& readPasswordLine,
                                                          QString* error) {
    if (args.size() < count + 1) {
        if (error)
            *error = QStringLiteral("expected %1 arguments, got %2")
                         .arg(count)
                         .arg(std::max<qsizetype>(args.size() - 1, 0));
        return std::nullopt;
    }
    HelperCommandLine parsed;
    parsed.typedUrl = args.at(3);
    parsed.login = args.at(5);
    parsed.password =
        args.at(passwordPosition) == passwordOnStandardInput ? readPasswordLine() : args.at(passwordPosition);
    parsed.baseFolder = args.at(8);
    parsed.title = args.at(9);
    parsed.notifications = textBoolValue(args.at(10));
    parsed.openFolder = textBoolValue(args.at(11));
    parsed.defaultGroupAlert = textBoolValue(args.at(12));
    parsed.caching = textBoolValue(args.at(13));
    parsed.usageData = textBoolValue(args.at(14));
    parsed.cleanUrl = args.at(15);
    parsed.cms = cmsFromTag(args.at(16));
    return parsed;
}

QString HelperCommandLine::usage(const QString& program) {
    return QStringLiteral(
               "usage: %1 --args -admin_url URL -login USER -pass PASSWORD BASE_FOLDER TITLE\n"
               "       NOTIFICATIONS OPEN_FILE_BROWSER DEFAULT_GROUP_ALERT CACHING USAGE_DATA SITE_URL CMS\n"
               "\n"
               "Mounts one site's templates as a volume. Started by Folvane 3, one process per connected "
               "site.\n"
               "  URL                 the add-on's base address; every request is built from it\n"
               "  PASSWORD            the password, or \"-\" to read it from the first line of standard "
               "input\n"
               "  BASE_FOLDER         folder that holds the mirror folders (.cache); created when missing\n"
               "  TITLE               the site title: names the volume and every bus notification\n"
               "  NOTIFICATIONS ... USAGE_DATA   switches: 1/yes/true is on, 0/no/false or empty is off\n"
               "  SITE_URL            the site's address as shown to the user\n"
               "  CMS                 \"ExpressionEngine\" or \"Wordpress\"\n"
               "Exit status: 0 after a normal end, 1 when the site could not be connected, 2 on bad "
               "arguments.\n")
        .arg(program);
}

} // namespace folvane
