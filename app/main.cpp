#include "cli/Cli.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return folvane::cli::run(QCoreApplication::arguments());
}
