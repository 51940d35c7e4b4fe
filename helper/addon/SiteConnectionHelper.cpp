#include "SiteConnectionHelper.h"

#include "AddonUrls.h"
#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "NotificationBus.h"
#include "TextBool.h"

#include <memory>

namespace folvane {

namespace {
QString argumentAt(const QStringList& args, qsizetype position) {
    return position < args.size() ? args.at(position) : QString();
}
} // namespace

SiteConnectionHelper::SiteConnectionHelper(const QStringList& args, WebsiteInUse& site, HttpClient& http,
                                           NotificationBus& bus, DesktopNotifier& notifier)
    : site_(site), http_(http), bus_(bus), notifier_(notifier) {
    url = site_.url.value_or(QString());
    quaryDivider = quaryDividerFor(site_.cms);
    resetURLs();
    baseString = argumentAt(args, 8);
    notificationBool = textBoolValue(argumentAt(args, 10));
    defaultGroupBool = textBoolValue(argumentAt(args, 12));
    cachingBool = textBoolValue(argumentAt(args, 13));

    bus_.subscribe(bus::named(bus::newSessionID, site_.title()),
                   [this](const QVariantMap&) { isLoggedIn(); });
}

void SiteConnectionHelper::resetURLs() {
    const auto action = [this](const char* name) {
        return actionUrl(url, quaryDivider, QLatin1String(name));
    };
    getStatus = action("status");
    getLogin = action("login");
    getTemplates = action("list_all");
    getNewTemplate = action("get_template");
    updateTemplate = action("update_template_data");
    createTemplate = action("create_template");
    renameTemplate = action("rename_template");
    deleteTemplate = action("delete_template");
    deleteTemplateGroup = action("delete_template_group");
    createTemplateGroup = action("create_template_group");
    renameTemplateGroup = action("rename_template_group");
    moveTemplateGroup = action("move_template_group");
    moveTemplate = action("move_template");
}

void SiteConnectionHelper::setSessionID(const QString& id) {
    if (id == sessionID_)
        return;
    const std::optional<QString> rewritten = sessionRewrittenUrl(url, id);
    if (!rewritten)
        return;
    url = *rewritten;
    sessionID_ = id;
    resetURLs();
}

std::optional<Json> SiteConnectionHelper::requestSite() {
    logLine(QStringLiteral("Requesting site"));
    if (!isLoggedIn())
        return std::nullopt;
    getSiteStatus();
    return getSiteTemplates();
}

bool SiteConnectionHelper::isLoggedIn() {
    auto wait = std::make_shared<AnswerWait>();
    http_.postForm(getLogin,
                   {{QStringLiteral("username"), site_.login.value_or(QString())},
                    {QStringLiteral("password"), site_.password.value_or(QString())}},
                   [this, wait](const HttpAnswer& answer) {
                       const Json json = parseLenient(answer.body);
                       loginJSON = json;
                       site_.loggedIn = boolValue(json, "logged_in").value_or(false);
                       if (!site_.loggedIn) {
                           if (const auto message = stringValue(json, "message"))
                               sendNotification(QStringLiteral("Login Error"), *message);
                           if (answer.failed())
                               logLine(QStringLiteral("Login failed: ") + answer.error);
                       }
                       const auto session = stringValue(json, "session_id");
                       if (session && site_.loggedIn && site_.cms == CMS::expressionEngine)
                           setSessionID(*session);
                       wait->signal();
                   });
    if (!wait->wait())
        return false;
    return site_.loggedIn;
}

void SiteConnectionHelper::getSiteStatus() {
    http_.get(getStatus, [this](const HttpAnswer& answer) {
        const Json json = parseLenient(answer.body);
        statusJSON = json;
        site_.status = stringValue(json, "status");
        site_.cmsVersion = integerValue(json, "version");
    });
}

Json SiteConnectionHelper::getSiteTemplates() {
    logLine(QStringLiteral("Requesting templates"));
    auto wait = std::make_shared<AnswerWait>();
    http_.get(getTemplates, [this, wait](const HttpAnswer& answer) {
        if (answer.failed())
            logLine(QStringLiteral("Template list request failed: ") + answer.error);
        templateJSON = parseLenient(answer.body);
        wait->signal();
    });
    wait->wait([] { logLine(QStringLiteral("doot")); });
    return templateJSON.value_or(Json());
}

void SiteConnectionHelper::sendNotification(const QString& title, const QString& informativeText) {
    if (notificationBool)
        notifier_.notify(title, informativeText);
}

} // namespace folvane
