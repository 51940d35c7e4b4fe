#include "PrivateMemory.h"
#include "cli/Cli.h"
#include "ui/GuiLaunch.h"

#include <QCoreApplication>

// With no arguments (or only a folvane:// link) on a desktop, the windows; otherwise the command line.
int main(int argc, char* argv[]) {
    // Both read site passwords from the Secret Service.
    folvane::keepMemoryPrivate();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (folvane::ui::wantsGui(arguments, QProcessEnvironment::systemEnvironment()))
        return folvane::ui::runGui(argc, argv);
    QCoreApplication app(argc, argv);
    return folvane::cli::run(QCoreApplication::arguments());
}
