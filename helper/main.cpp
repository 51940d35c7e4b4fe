#include "ConsoleLog.h"
#include "HelperCommandLine.h"
#include "SignalWatcher.h"
#include "app/HelperApp.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/prctl.h>

using namespace folvane;

namespace {
QString readPasswordLine() {
    std::string line;
    std::getline(std::cin, line);
    return QString::fromStdString(line);
}
} // namespace

int main(int argc, char* argv[]) {
    // The helper must not outlive the application that started it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);

    QStringList rawArgs;
    for (int i = 0; i < argc; ++i)
        rawArgs << QString::fromLocal8Bit(argv[i]);
    QString error;
    std::optional<HelperCommandLine> args = HelperCommandLine::parse(rawArgs, readPasswordLine, &error);
    if (!args) {
        const QByteArray text = (QStringLiteral("folvane3-fuse-helper: ") + error + u'\n' +
                                 HelperCommandLine::usage(QStringLiteral("folvane3-fuse-helper")))
                                    .toLocal8Bit();
        std::fputs(text.constData(), stderr);
        return 2;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Folvane 3 Fuse Helper"));
    WebsiteInUse site;
    HelperApp helper(std::move(*args), site);
    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &helper,
                     [&helper](int signalNumber) {
                         logLine(QStringLiteral("Received signal %1; shutting down").arg(signalNumber));
                         helper.terminate(0);
                     });
    QTimer::singleShot(0, &helper, &HelperApp::start);
    return app.exec();
}
