#include "GuiLaunch.h"

#include "Application.h"
#include "ConsoleLog.h"
#include "Icons.h"
#include "shell/Autostart.h"
#include "shell/SingleInstance.h"

#include <QApplication>

namespace folvane::ui {

namespace {
// "-v" or "--verbose" first: the helpers' logs are shown on standard error too.
QStringList withoutVerbose(QStringList arguments, bool* verbose = nullptr) {
    const bool given = !arguments.isEmpty() && (arguments.first() == QLatin1String("-v") ||
                                                arguments.first() == QLatin1String("--verbose"));
    if (given)
        arguments.removeFirst();
    if (verbose)
        *verbose = given;
    return arguments;
}
} // namespace

bool wantsGui(const QStringList& givenArguments, const QProcessEnvironment& environment) {
    const QStringList arguments = withoutVerbose(givenArguments);
    const bool onDesktop = !environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
                           !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
                           !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty();
    const bool onlyALink = arguments.size() == 1 &&
                           arguments.first().startsWith(QStringLiteral("folvane:"), Qt::CaseInsensitive);
    const bool atLogin = arguments == QStringList{shell::autostart::atLoginArgument};
    return onDesktop && (arguments.isEmpty() || onlyALink || atLogin);
}

int runGui(int& argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Folvane 3"));
    QApplication::setDesktopFileName(QStringLiteral("folvane3"));
    QApplication::setWindowIcon(icons::application());
    openConsoleLogFileWhenWanted();

    bool verbose = false;
    const QStringList arguments = withoutVerbose(QApplication::arguments().mid(1), &verbose);
    const bool atLogin = arguments.value(0) == shell::autostart::atLoginArgument;
    const QString deepLink = atLogin ? QString() : arguments.value(0);
    shell::SingleInstance instance;
    // A second start hands its link (or just the wish to be seen) to the running application. Without a
    // session bus this one goes on alone.
    if (!instance.claim() && shell::SingleInstance::handOver(deepLink))
        return 0;
    Application folvane(instance);
    folvane.start(deepLink, atLogin, verbose);
    return QApplication::exec();
}

} // namespace folvane::ui
