#include "shell/Updater.h"

#include "BuildInfo.h"
#include "ConsoleLog.h"
#include "shell/MakerLinks.h"
#include "shell/ShellPrompts.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <utility>

namespace folvane::shell {

namespace {

const QString lastCheckKey = QStringLiteral("LastUpdateCheck");
const QString skippedVersionKey = QStringLiteral("SkippedUpdateVersion");
constexpr int feedTimeoutMs = 30'000;
// The feed is a few kilobytes; anything far larger is not one.
constexpr qint64 feedSizeLimit = 4 * 1024 * 1024;

} // namespace

Updater::Updater(ShellPrompts& prompts, QObject* parent) : Updater(prompts, Setup{}, parent) {}

Updater::Updater(ShellPrompts& prompts, Setup setup, QObject* parent)
    : QObject(parent), prompts_(prompts), feed_(setup.feed.isEmpty() ? appcastFeed() : setup.feed),
      runningVersion_(setup.runningVersion.isEmpty() ? QString::fromLatin1(build::appVersion)
                                                     : setup.runningVersion),
      defaults_(setup.defaults ? setup.defaults
                               : new QSettings(QStringLiteral("Folvane"), QStringLiteral("Folvane 3"), this)),
      network_(setup.network ? setup.network : new QNetworkAccessManager(this)) {
    timer_.setInterval(setup.pollIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &Updater::checkIfDue);
}

Updater::~Updater() = default;

void Updater::setCheckAutomatically(bool on) {
    if (on == timer_.isActive())
        return;
    if (!on) {
        timer_.stop();
        return;
    }
    timer_.start();
    checkIfDue();
}

void Updater::checkIfDue() {
    if (updateCheckDue(defaults_->value(lastCheckKey).toDateTime(), QDateTime::currentDateTimeUtc()))
        checkNow(false);
}

void Updater::checkNow(bool userAsked) {
    if (userAsked)
        logLine(QStringLiteral("Update manual"));
    // A check already under way answers this request too; the user who asked hears its outcome.
    userAsked_ = userAsked_ || userAsked;
    if (checking_)
        return;
    checking_ = true;
    QNetworkRequest request(feed_);
    request.setTransferTimeout(feedTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > feedSizeLimit)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QString error;
        if (reply->error() != QNetworkReply::NoError)
            error = reply->errorString();
        else if (status != 0 && status != 200)
            error = QStringLiteral("HTTP status %1").arg(status);
        answerArrived(error.isEmpty() ? reply->readAll() : QByteArray(), error,
                      std::exchange(userAsked_, false));
    });
}

void Updater::answerArrived(QByteArray body, QString error, bool userAsked) {
    checking_ = false;
    const auto release = error.isEmpty() ? newestRelease(body) : std::nullopt;
    if (error.isEmpty() && !release)
        error = QStringLiteral("the feed names no release");
    if (!error.isEmpty()) {
        logLine(QStringLiteral("Update check failed: ") + error);
        if (userAsked)
            prompts_.runAlert(
                {QStringLiteral("Update Error!"),
                 QStringLiteral("An error occurred in retrieving update information. Please try "
                                "again later."),
                 {QStringLiteral("Cancel")}});
        emit checkFinished();
        return;
    }
    // Only a check that got an answer counts as the day's check.
    defaults_->setValue(lastCheckKey, QDateTime::currentDateTimeUtc());
    offer(*release, userAsked);
    emit checkFinished();
}

void Updater::offer(const AppcastItem& release, bool userAsked) {
    if (!isNewerRelease(release, runningVersion_)) {
        if (userAsked)
            prompts_.runAlert({QStringLiteral("You're up-to-date!"),
                               QStringLiteral("Folvane 3 %1 is currently the newest version available.")
                                   .arg(runningVersion_),
                               {QStringLiteral("OK")}});
        return;
    }
    if (!userAsked && defaults_->value(skippedVersionKey).toString() == release.version)
        return;
    const int choice = prompts_.runAlert(
        {QStringLiteral("A new version of Folvane 3 is available!"),
         QStringLiteral("Folvane 3 %1 is now available—you have %2. Would you like to download it now?")
             .arg(release.version, runningVersion_),
         {QStringLiteral("Download"), QStringLiteral("Skip This Version"),
          QStringLiteral("Remind Me Later")}});
    if (choice == 0)
        prompts_.openUrl(release.downloadPage);
    else if (choice == 1)
        defaults_->setValue(skippedVersionKey, release.version);
}

} // namespace folvane::shell
