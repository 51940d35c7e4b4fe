#include "SiteConnectionHelper.h"

#include "AddonUrls.h"
#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "NotificationBus.h"
#include "TextBool.h"

#include <QMetaObject>
#include <QThread>
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
    quaryDivider = queryDividerFor(site_.cms);
    resetURLs();
    baseString = argumentAt(args, 8);
    notificationBool = textBoolValue(argumentAt(args, 10));
    defaultGroupBool = textBoolValue(argumentAt(args, 12));
    cachingBool = textBoolValue(argumentAt(args, 13));

    bus_.subscribe(bus::named(bus::newSessionID, site_.title()),
                   [this](const QVariantMap&) { isLoggedIn(); });
}

void SiteConnectionHelper::resetURLs() {
    urls = actionUrlsFor(url, quaryDivider);
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

std::shared_ptr<Json> SiteConnectionHelper::requestSite() {
    logLine(QStringLiteral("Requesting site"));
    if (!isLoggedIn())
        return nullptr;
    getSiteStatus();
    return getSiteTemplates();
}

bool SiteConnectionHelper::isLoggedIn() {
    auto wait = std::make_shared<AnswerWait>();
    http_.postForm(urls.getLogin,
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
    http_.get(urls.getStatus, [this](const HttpAnswer& answer) {
        const Json json = parseLenient(answer.body);
        statusJSON = json;
        site_.status = stringValue(json, "status");
        site_.cmsVersion = integerValue(json, "version");
    });
}

std::shared_ptr<Json> SiteConnectionHelper::getSiteTemplates() {
    logLine(QStringLiteral("Requesting templates"));
    auto wait = std::make_shared<AnswerWait>();
    http_.get(urls.getTemplates, [this, wait](const HttpAnswer& answer) {
        if (answer.failed())
            logLine(QStringLiteral("Template list request failed: ") + answer.error);
        templateJSON = std::make_shared<Json>(parseLenient(answer.body));
        wait->signal();
    });
    wait->wait([] { logLine(QStringLiteral("doot")); });
    if (!templateJSON)
        templateJSON = std::make_shared<Json>();
    isDefaultGroupSet();
    return templateJSON;
}

void SiteConnectionHelper::isDefaultGroupSet() {
    if (!defaultGroupBool || site_.cms != CMS::expressionEngine)
        return;
    bool found = false;
    const Json* folders = templateJSON ? member(*templateJSON, "folders") : nullptr;
    if (folders && folders->is_structured()) {
        for (const Json& group : *folders) {
            const auto id = stringValue(group, "id");
            const bool pseudo = id && (*id == QLatin1String("variables") || *id == QLatin1String("snippets"));
            if (!pseudo && boolValue(group, "is_special").value_or(false))
                found = true;
        }
    }
    if (!found)
        sendNotification(QStringLiteral("Warning"), QStringLiteral("Default template group not set."));
}

void SiteConnectionHelper::onMainThread(std::function<void()> work) {
    if (QThread::currentThread() == http_.thread())
        work();
    else
        QMetaObject::invokeMethod(&http_, std::move(work), Qt::QueuedConnection);
}

bool SiteConnectionHelper::handleStandardAnswer(const HttpAnswer& answer, const Json& json,
                                                const QString& successTitle, const QString& failureTitle) {
    logLine(answer.describe());
    const auto message = stringValue(json, "message");
    if (message && boolValue(json, "success").value_or(false)) {
        sendNotification(successTitle, *message);
        return true;
    }
    if (message)
        sendNotification(failureTitle, *message);
    return false;
}

void SiteConnectionHelper::post(const QString& url, const FormFields& fields,
                                std::function<void(const HttpAnswer&, const Json&)> done) {
    http_.postForm(url, fields, [done = std::move(done)](const HttpAnswer& answer) {
        done(answer, parseLenient(answer.body));
    });
}

std::optional<QString> SiteConnectionHelper::idFor(const Json& item) const {
    if (site_.cms == CMS::expressionEngine) {
        if (const auto id = integerValue(item, "id"))
            return QString::number(*id);
    } else if (site_.cms == CMS::wordPress) {
        return stringValue(item, "id");
    }
    return std::nullopt;
}

namespace {
SiteConnectionHelper::Outcome outcomeOf(const HttpAnswer& answer, const Json& json) {
    return {answer.failed(), boolValue(json, "success").value_or(false)};
}

const Json& objectAt(const Json& json, const char* key) {
    static const Json none;
    const Json* value = member(json, key);
    return value ? *value : none;
}

// A created group's identifier in whatever type the add-on sent it; empty when absent.
QString anyIdText(const Json& group) {
    const Json* id = member(group, "id");
    if (!id)
        return {};
    if (id->is_string())
        return QString::fromStdString(id->get_ref<const std::string&>());
    if (id->is_number_integer())
        return QString::fromStdString(id->dump());
    if (id->is_number_float())
        return QString::number(id->get<double>(), 'g', 17);
    return {};
}
} // namespace

void SiteConnectionHelper::updateTemplateAt(const QString& groupID, const QString& templateID,
                                            const QString& templateData, OutcomeHandler done) {
    standardRequest({}, &ActionUrls::updateTemplate,
                    {{QStringLiteral("template_group_id"), groupID},
                     {QStringLiteral("template_id"), templateID},
                     {QStringLiteral("template_data"), templateData}},
                    QStringLiteral("Update Successful"), QStringLiteral("Update Error"), std::move(done));
}

void SiteConnectionHelper::createTemplateGroupAt(const QString& name, const QString& parentGroupID,
                                                 GroupCreated done) {
    onMainThread([=, this] {
        post(urls.createTemplateGroup,
             {{QStringLiteral("template_group_name"), name},
              {QStringLiteral("template_group_id"), parentGroupID}},
             [this, done](const HttpAnswer& answer, const Json& json) {
                 handleStandardAnswer(answer, json, QStringLiteral("Group Creation Success"),
                                      QStringLiteral("Group Creation Error"));
                 const Json& group = objectAt(json, "template_group");
                 if (done)
                     done(anyIdText(group), boolValue(group, "is_special"));
             });
    });
}

void SiteConnectionHelper::createTemplateAt(const QString& groupID, const QString& templateName,
                                            const QString& templateData, TemplateCreated done,
                                            OutcomeHandler outcome) {
    onMainThread([=, this] {
        logLine(QStringLiteral("templateGroupID: ") + groupID);
        post(urls.createTemplate,
             {{QStringLiteral("template_group_id"), groupID},
              {QStringLiteral("template_name"), templateName},
              {QStringLiteral("template_data"), templateData}},
             [this, done, outcome](const HttpAnswer& answer, const Json& json) {
                 const std::optional<QString> id = idFor(objectAt(json, "template"));
                 if (const auto message = stringValue(json, "message"))
                     sendNotification(boolValue(json, "success").value_or(false)
                                          ? QStringLiteral("Template Created")
                                          : QStringLiteral("Template Creation Error"),
                                      *message);
                 if (done)
                     done(id);
                 if (outcome)
                     outcome(outcomeOf(answer, json));
             });
    });
}

void SiteConnectionHelper::renameTemplateGroup(const QString& groupID, const QString& templateGroupName,
                                               OutcomeHandler done) {
    standardRequest(QStringLiteral("templateGroupID: ") + groupID + QStringLiteral(", templateGroupName: ") +
                        templateGroupName,
                    &ActionUrls::renameTemplateGroup,
                    {{QStringLiteral("template_group_id"), groupID},
                     {QStringLiteral("template_group_name"), templateGroupName}},
                    QStringLiteral("Rename Template Group"), QStringLiteral("Rename Error"), std::move(done));
}

void SiteConnectionHelper::moveTemplate(const QString& templateID, const QString& name,
                                        const QString& atGroupID, const QString& toGroupID, Moved done,
                                        OutcomeHandler outcome) {
    onMainThread([=, this] {
        post(
            urls.moveTemplate,
            {{QStringLiteral("from_group_id"), atGroupID},
             {QStringLiteral("to_group_id"), toGroupID},
             {QStringLiteral("template_id"), templateID},
             {QStringLiteral("template_name"), name}},
            [=, this](const HttpAnswer& answer, const Json& json) {
                const QString successTitle = atGroupID == toGroupID ? QStringLiteral("Template Renamed")
                                                                    : QStringLiteral("Template Moved");
                std::optional<QString> newID;
                if (handleStandardAnswer(answer, json, successTitle, QStringLiteral("Rename Template Error")))
                    newID = idFor(objectAt(json, "template"));
                if (done)
                    done(boolValue(json, "success"), newID);
                if (outcome)
                    outcome(outcomeOf(answer, json));
            });
    });
}

void SiteConnectionHelper::moveFolder(const QString& groupID, const QString& toGroupID, Moved done) {
    onMainThread([=, this] {
        post(urls.moveTemplateGroup,
             {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("to_group_id"), toGroupID}},
             [this, done](const HttpAnswer& answer, const Json& json) {
                 std::optional<QString> newID;
                 if (handleStandardAnswer(answer, json, QStringLiteral("Folder Moved"),
                                          QStringLiteral("Move Folder Error")))
                     newID = idFor(objectAt(json, "template_group"));
                 if (done)
                     done(boolValue(json, "success"), newID);
             });
    });
}

void SiteConnectionHelper::deleteTemplateAt(const QString& groupID, const QString& templateID,
                                            OutcomeHandler done) {
    standardRequest(
        QStringLiteral("templateGroupID: ") + groupID + QStringLiteral(", templateID: ") + templateID,
        &ActionUrls::deleteTemplate,
        {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("template_id"), templateID}},
        QStringLiteral("Template Deleted"), QStringLiteral("Deletion Error"), std::move(done));
}

void SiteConnectionHelper::deleteTemplateGroupAt(const QString& groupID, OutcomeHandler done) {
    standardRequest(QStringLiteral("templateGroupID: ") + groupID, &ActionUrls::deleteTemplateGroup,
                    {{QStringLiteral("template_group_id"), groupID}}, QStringLiteral("Template Deleted"),
                    QStringLiteral("Deletion Error"), std::move(done));
}

void SiteConnectionHelper::standardRequest(const QString& logText, QString ActionUrls::*action,
                                           FormFields fields, const QString& successTitle,
                                           const QString& failureTitle, OutcomeHandler done) {
    // The URL is read on the main thread, where a new session id may have rewritten it.
    onMainThread([=, this] {
        if (!logText.isEmpty())
            logLine(logText);
        post(urls.*action, fields, [=, this](const HttpAnswer& answer, const Json& json) {
            handleStandardAnswer(answer, json, successTitle, failureTitle);
            if (done)
                done(outcomeOf(answer, json));
        });
    });
}

void SiteConnectionHelper::getTemplate(const QString& groupID, const QString& templateID,
                                       std::function<void(const Json&)> done) {
    onMainThread([=, this] {
        post(urls.getNewTemplate,
             {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("template_id"), templateID}},
             [done](const HttpAnswer&, const Json& json) {
                 if (done)
                     done(json);
             });
    });
}

void SiteConnectionHelper::sendNotification(const QString& title, const QString& informativeText) {
    if (notificationBool)
        notifier_.notify(title, informativeText);
}

} // namespace folvane
