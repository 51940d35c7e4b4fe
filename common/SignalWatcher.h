#pragma once

#include <QObject>

class QSocketNotifier;

namespace folvane {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread (a self-pipe written by the
// signal handler), so the shutdown sequence runs from the event loop, never inside a signal handler.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace folvane
