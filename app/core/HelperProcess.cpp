#include "HelperProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <utility>

namespace folvane {

HelperProcess::HelperProcess(QObject* parent) : QObject(parent), process_(new QProcess(this)) {
    process_->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    connect(process_, &QProcess::readyReadStandardError, this, &HelperProcess::readLog);
    connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        readLog();
        if (!unfinishedLine_.isEmpty())
            emit said(QString::fromUtf8(std::exchange(unfinishedLine_, {})));
        emit ended(status == QProcess::NormalExit ? std::optional(exitCode) : std::nullopt);
    });
}

HelperProcess::~HelperProcess() {
    if (!isRunning())
        return;
    // Destroying a running QProcess kills it outright, which would leave its volume behind.
    process_->disconnect(this);
    process_->setParent(QCoreApplication::instance());
    // Its log is still taken in, so that the helper never waits for a reader; nobody shows it any more.
    connect(process_, &QProcess::readyReadStandardError, process_,
            [process = process_] { process->readAllStandardError(); });
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

void HelperProcess::readLog() {
    unfinishedLine_ += process_->readAllStandardError();
    qsizetype start = 0;
    for (qsizetype end = unfinishedLine_.indexOf('\n'); end >= 0;
         start = end + 1, end = unfinishedLine_.indexOf('\n', start))
        emit said(QString::fromUtf8(unfinishedLine_.constData() + start, end - start));
    unfinishedLine_.remove(0, start);
}

bool HelperProcess::isRunning() const {
    return process_->state() != QProcess::NotRunning;
}

void HelperProcess::terminate() {
    if (isRunning())
        process_->terminate();
}

} // namespace folvane
