#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

class QProcess;

namespace folvane {

// One running mount helper. The password goes to its standard input, never on its command line; its
// standard output joins the application's, and each line of its log (its standard error) is reported, for
// the front end to show or leave (the helper writes the console log file itself). Ending it is a polite
// termination request (SIGTERM), after which the helper unmounts and cleans up by itself: a HelperProcess
// dropped while the helper still runs hands the process over to the application object, which keeps it until
// it has ended.
class HelperProcess : public QObject {
    Q_OBJECT
public:
    explicit HelperProcess(QObject* parent = nullptr);
    ~HelperProcess() override;

    // Returns whether the program started; `error` says why not.
    bool start(const QString& program, const QStringList& arguments, const QString& password,
               const QProcessEnvironment& environment, QString* error);
    bool isRunning() const;
    void terminate();

signals:
    // One whole line of the helper's log, without its newline.
    void said(const QString& line);
    // The helper ended: its exit status, or none when a signal ended it.
    void ended(std::optional<int> exitStatus);

private:
    void readLog();

    QProcess* process_;
    QByteArray unfinishedLine_;
};

} // namespace folvane
