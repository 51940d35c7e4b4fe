#pragma once

#include "Cms.h"
#include "LenientJson.h"
#include "LoggingInError.h"

#include <QString>
#include <optional>

namespace folvane {

class BaseWebsite;
class HttpClient;
struct HttpAnswer;

// The add-on versions this build expects; a missing one skips the version test for that CMS.
struct ExpectedAddOnVersions {
    std::optional<QString> expressionEngine;
    std::optional<QString> wordPress;
    static ExpectedAddOnVersions ofThisBuild();
};

// Whether the password given with this address would travel unencrypted (an http:// address). Allowed, but
// the user is told so, in the words of `unencryptedPasswordNotice`.
bool passwordTravelsUnencrypted(const QString& url);
inline const QString unencryptedPasswordNotice = QStringLiteral(
    "Note: this address starts with http://, so the password will travel unencrypted. Use https:// if the "
    "site offers it.");

// Whether the site has a helper that still runs; such a site is not checked.
bool hasRunningHelper(const BaseWebsite* site);

// What the answers of one check have shown, and the verdict drawn from it.
struct CheckState {
    QString divider; // the divider of the probe that named a CMS
    std::optional<CMS> cms;
    bool timedOut = false;
    bool statusOk = false;
    bool disabled = false;
    bool outOfDate = false;
    bool loggedIn = false;
    bool loggedOut = false;
    bool permitted = true;
    QString certificateProblem; // why the site's certificate was not accepted, naming its host

    // The two status requests go out at once, one with each CMS's divider; `probe` is the CMS whose
    // divider the request used. Once a probe has said "ok" or "disabled" the other probe's answer is
    // ignored. The version is judged only when `expected` is given.
    void readStatusAnswer(CMS probe, const Json& answer, const ExpectedAddOnVersions* expected);
    void readLoginAnswer(const Json& answer);
    void readLogoutAnswer(const Json& answer);

    // Notes what every answer can show: a time-out, a certificate that was not accepted.
    void readTransport(const HttpAnswer& answer);

    // First match wins: certificate, disabled, timed out, out of date, not permitted, then ok or invalid.
    std::optional<LoggingInError> verdict() const;
    bool isOkay() const { return statusOk && loggedIn && loggedOut; }
};

// Checks a site's add-on before connecting: both status probes at once, then login and logout, each
// answer awaited with the event loop turning.
class ConnectionCheck {
public:
    explicit ConnectionCheck(HttpClient& http,
                             ExpectedAddOnVersions expected = ExpectedAddOnVersions::ofThisBuild());

    // The application's check. Returns nothing when the site may be connected (also when it already
    // is); on success the site's cms is the one its add-on named.
    std::optional<LoggingInError> tryConnectingToSite(BaseWebsite& site);
    // The site editor's test of what the user typed: what the answers showed (isOkay() when status, login
    // and logout all went well); nothing (and no request) when the site being edited is connected.
    std::optional<CheckState> testConnectionToSite(const BaseWebsite* editSite, const QString& url,
                                                   const QString& username, const QString& password);

private:
    CheckState exchange(const QString& base, const QString& username, const QString& password,
                        const std::optional<ExpectedAddOnVersions>& expected);

    HttpClient& http_;
    ExpectedAddOnVersions expected_;
};

} // namespace folvane
