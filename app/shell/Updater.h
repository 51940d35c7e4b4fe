#pragma once

#include "shell/Appcast.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QSettings;

namespace folvane::shell {

class ShellPrompts;

// Checks the update feed and tells the user about a newer release, whose download page then opens in the
// browser. "Check automatically" checks once a day; the time of the last check is kept in the user
// defaults, so restarting the application does not check again early.
class Updater : public QObject {
    Q_OBJECT
public:
    struct Setup {
        QUrl feed;                                // empty: the build's feed
        QString runningVersion;                   // empty: the build's version
        QSettings* defaults = nullptr;            // none: organisation "Folvane", application "Folvane 3"
        QNetworkAccessManager* network = nullptr; // none: one of its own
        int pollIntervalMs = 60 * 60 * 1000;      // how often the automatic mode looks whether a check is due
    };

    explicit Updater(ShellPrompts& prompts, QObject* parent = nullptr);
    Updater(ShellPrompts& prompts, Setup setup, QObject* parent = nullptr);
    ~Updater() override;

    // userAsked: the menu command; then "no update" and failures are told too, and a skipped release is
    // offered again. Without it (the daily check) only a new, not skipped release is told.
    void checkNow(bool userAsked);
    void setCheckAutomatically(bool on);
    bool checksAutomatically() const { return timer_.isActive(); }

signals:
    // A check ended (told or not); for the interface's busy state and for tests.
    void checkFinished();

private:
    void checkIfDue();
    void answerArrived(QByteArray body, QString error, bool userAsked);
    void offer(const AppcastItem& release, bool userAsked);

    ShellPrompts& prompts_;
    QUrl feed_;
    QString runningVersion_;
    QSettings* defaults_;
    QNetworkAccessManager* network_;
    QTimer timer_;
    bool checking_ = false;
    bool userAsked_ = false;
};

} // namespace folvane::shell
