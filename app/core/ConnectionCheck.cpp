#include "ConnectionCheck.h"

#include "AddonUrls.h"
#include "AnswerWait.h"
#include "BaseWebsite.h"
#include "BuildInfo.h"
#include "ConsoleLog.h"
#include "HelperProcess.h"
#include "HttpClient.h"
#include "VersionCompare.h"

#include <QUrl>
#include <memory>

namespace folvane {

bool passwordTravelsUnencrypted(const QString& url) {
    return QUrl(url.trimmed()).scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

bool hasRunningHelper(const BaseWebsite* site) {
    return site && site->siteConnection && site->siteConnection->isRunning();
}

ExpectedAddOnVersions ExpectedAddOnVersions::ofThisBuild() {
    return {QString::fromUtf8(build::currentEEAddOnVersion), QString::fromUtf8(build::currentWPAddOnVersion)};
}

void CheckState::readStatusAnswer(CMS probe, const Json& answer, const ExpectedAddOnVersions* expected) {
    if (statusOk || disabled)
        return;
    const bool ee = probe == CMS::expressionEngine;
    const std::optional<QString> status = stringValue(answer, "status");
    statusOk = status == QStringLiteral("ok");
    if (ee)
        disabled = status == QStringLiteral("disabled");
    const std::optional<QString> cmsText = stringValue(answer, "cms");
    if (!cmsText)
        return;
    cms = cmsFromTag(*cmsText);
    divider = queryDividerFor(probe);
    const std::optional<QString> version = stringValue(answer, "addon_version");
    const std::optional<QString> wanted =
        expected ? (ee ? expected->expressionEngine : expected->wordPress) : std::nullopt;
    if (version && wanted && cms == probe && compareVersions(*wanted, *version) > 0)
        outOfDate = true;
}

void CheckState::readLoginAnswer(const Json& answer) {
    permitted = boolValue(answer, "permissions").value_or(true);
    loggedIn = boolValue(answer, "logged_in").value_or(false);
}

void CheckState::readLogoutAnswer(const Json& answer) {
    if (const auto stillLoggedIn = boolValue(answer, "logged_in"))
        loggedOut = !*stillLoggedIn;
}

void CheckState::readTransport(const HttpAnswer& answer) {
    timedOut |= answer.timedOut;
    if (answer.certificateRejected && certificateProblem.isEmpty()) {
        certificateProblem = answer.error;
        logLine(answer.error);
    }
}

std::optional<LoggingInError> CheckState::verdict() const {
    if (!certificateProblem.isEmpty())
        return LoggingInError::certificateRejected;
    if (disabled)
        return LoggingInError::saveTemplatesTurnedOn;
    if (timedOut)
        return LoggingInError::timedOut;
    if (outOfDate)
        return LoggingInError::outOfDateAddOn;
    if (!permitted)
        return LoggingInError::insufficientPermissions;
    if (isOkay())
        return std::nullopt;
    return LoggingInError::authenticationInvalid;
}

ConnectionCheck::ConnectionCheck(HttpClient& http, ExpectedAddOnVersions expected)
    : http_(http), expected_(std::move(expected)) {}

CheckState ConnectionCheck::exchange(const QString& base, const QString& username, const QString& password,
                                     const std::optional<ExpectedAddOnVersions>& expected) {
    // The handlers hold the state and the waits themselves, so an abandoned wait leaves nothing dangling.
    auto state = std::make_shared<CheckState>();

    auto probesDone = std::make_shared<AnswerWait>();
    auto answered = std::make_shared<int>(0);
    for (const CMS probe : {CMS::expressionEngine, CMS::wordPress}) {
        http_.get(actionUrl(base, queryDividerFor(probe), QStringLiteral("status")),
                  [state, probe, expected, answered, probesDone](const HttpAnswer& answer) {
                      state->readTransport(answer);
                      state->readStatusAnswer(probe, parseLenient(answer.body),
                                              expected ? &*expected : nullptr);
                      if (++*answered == 2)
                          probesDone->signal();
                  });
    }
    probesDone->wait();

    auto loginDone = std::make_shared<AnswerWait>();
    http_.postForm(actionUrl(base, state->divider, QStringLiteral("login")),
                   {{QStringLiteral("username"), username}, {QStringLiteral("password"), password}},
                   [state, loginDone](const HttpAnswer& answer) {
                       state->readTransport(answer);
                       state->readLoginAnswer(parseLenient(answer.body));
                       loginDone->signal();
                   });
    loginDone->wait();

    auto logoutDone = std::make_shared<AnswerWait>();
    http_.get(actionUrl(base, state->divider, QStringLiteral("logout")),
              [state, logoutDone](const HttpAnswer& answer) {
                  state->readTransport(answer);
                  state->readLogoutAnswer(parseLenient(answer.body));
                  logoutDone->signal();
              });
    logoutDone->wait();
    return *state;
}

std::optional<LoggingInError> ConnectionCheck::tryConnectingToSite(BaseWebsite& site) {
    if (hasRunningHelper(&site)) {
        logLine(QStringLiteral("Already Connected to Site"));
        return std::nullopt;
    }
    const CheckState state = exchange(site.dirtyURL, site.login, site.password, expected_);
    if (state.cms)
        site.cms = *state.cms;
    const std::optional<LoggingInError> error = state.verdict();
    if (!error)
        logLine(QStringLiteral("Logging In: Okay"));
    return error;
}

std::optional<CheckState> ConnectionCheck::testConnectionToSite(const BaseWebsite* editSite,
                                                                const QString& url, const QString& username,
                                                                const QString& password) {
    if (hasRunningHelper(editSite)) {
        logLine(QStringLiteral("Already Connected to Site"));
        return std::nullopt;
    }
    const CheckState state = exchange(url, username, password, std::nullopt);
    logLine(state.isOkay() ? QStringLiteral("Status: Okay") : QStringLiteral("Status: Not Okay"));
    return state;
}

} // namespace folvane
