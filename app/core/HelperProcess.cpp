#include "HelperProcess.h"

#include <QCoreApplication>
#include <QProcess>

namespace folvane {

HelperProcess::HelperProcess(QObject* parent) : QObject(parent), process_(new QProcess(this)) {
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        emit ended(status == QProcess::NormalExit ? std::optional(exitCode) : std::nullopt);
    });
}

HelperProcess::~HelperProcess() {
    if (!isRunning())
        return;
    // Destroying a running QProcess kills it outright, which would leave its volume behind.
    process_->disconnect(this);
    process_->setParent(QCoreApplication::instance());
    connect(process_, &QProcess::finished, process_, &QObject::deleteLater);
}

bool HelperProcess::start(const QString& program, const QStringList& arguments, const QString& password,
                          const QProcessEnvironment& environment, QString* error) {
    process_->setProgram(program);
    process_->setArguments(arguments);
    process_->setProcessEnvironment(environment);
    process_->start();
    if (!process_->waitForStarted()) {
        if (error)
            *error = process_->errorString();
        return false;
    }
    process_->write(password.toUtf8() + '\n');
    process_->closeWriteChannel();
    return true;
}

bool HelperProcess::isRunning() const {
    return process_->state() != QProcess::NotRunning;
}

void HelperProcess::terminate() {
    if (isRunning())
        process_->terminate();
}

} // namespace folvane
