#include "ConsoleLog.h"
#include "HelperCommandLine.h"
#include "PrivateMemory.h"
#include "SignalWatcher.h"
#include "app/HelperApp.h"
#include "tree/WebsiteInUse.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

using namespace folvane;

namespace {
QString readPasswordLine() {
    std::string line;
    std::getline(std::cin, line);
    const QString password = QString::fromStdString(line);
    // The text read stays nowhere but in the QString the helper needs.
    std::fill(line.begin(), line.end(), '\0');
    return password;
}
} // namespace

int main(int argc, char* argv[]) {
    // The helper must not outlive the application that started it. A parent that died before this took
    // effect left the helper to init already: end as that death would have ended it.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return 0;
    // The helper holds the site's password for its whole life.
    keepMemoryPrivate();
    // A closed standard error (or a reader that went away) must not end the helper and take the volume down.
    ::signal(SIGPIPE, SIG_IGN);

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
                         helper.terminate(0, QStringLiteral("signal %1").arg(signalNumber));
                     });
    QTimer::singleShot(0, &helper, &HelperApp::start);
    return app.exec();
}
