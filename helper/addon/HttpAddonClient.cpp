#include "HttpAddonClient.h"

#include "AnswerWait.h"
#include "BusNames.h"
#include "ConsoleLog.h"
#include "DesktopNotifier.h"
#include "NotificationBus.h"

#include <QMetaObject>
#include <QThread>

namespace folvane {

namespace {

AddonResult resultOf(const HttpAnswer& answer, const Json& json) {
    AddonResult result;
    result.transportFailed = answer.failed();
    result.success = boolValue(json, "success").value_or(false);
    result.message = stringValue(json, "message");
    return result;
}

const Json& objectAt(const Json& json, const char* key) {
    static const Json none;
    const Json* value = member(json, key);
    return value ? *value : none;
}

// A created group's identifier in whatever type the add-on sent it; nothing when absent or empty.
std::optional<QString> anyIdText(const Json& group) {
    const Json* id = member(group, "id");
    if (!id)
        return std::nullopt;
    QString text;
    if (id->is_string())
        text = QString::fromStdString(id->get_ref<const std::string&>());
    else if (id->is_number_integer())
        text = QString::fromStdString(id->dump());
    else if (id->is_number_float())
        text = QString::number(id->get<double>(), 'g', 17);
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

} // namespace

HttpAddonClient::HttpAddonClient(WebsiteInUse& site, HttpClient& http, NotificationBus& bus,
                                 DesktopNotifier& notifier, Options options)
    : site_(site), http_(http), bus_(bus), notifier_(notifier), options_(options) {
    url = site_.typedUrl.value_or(QString());
    resetURLs();
    // Requests that come while a login is on its way (this one's, a refresh's) are answered by it, so a
    // burst of them makes one login. Nobody waits for its answer.
    bus_.subscribe(bus::named(bus::newSessionID, site_.title()), [this](const QVariantMap&) {
        if (loginsInFlight_ == 0)
            sendLogin([] {});
    });
}

void HttpAddonClient::resetURLs() {
    urls = actionUrlsFor(url, queryDividerFor(site_.cms));
}

void HttpAddonClient::setSessionID(const QString& id) {
    if (id == sessionID_)
        return;
    const std::optional<QString> rewritten = sessionRewrittenUrl(url, id);
    if (!rewritten)
        return;
    url = *rewritten;
    sessionID_ = id;
    resetURLs();
}

bool HttpAddonClient::logIn() {
    auto wait = std::make_shared<AnswerWait>();
    sendLogin([wait] { wait->signal(); });
    if (!wait->wait())
        return false;
    return site_.loggedIn;
}

void HttpAddonClient::sendLogin(std::function<void()> done) {
    ++loginsInFlight_;
    http_.postForm(urls.getLogin,
                   {{QStringLiteral("username"), site_.login.value_or(QString())},
                    {QStringLiteral("password"), site_.password.value_or(QString())}},
                   [this, done = std::move(done)](const HttpAnswer& answer) {
                       --loginsInFlight_;
                       const Json json = parseLenient(answer.body);
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
                       done();
                   });
}

void HttpAddonClient::getSiteStatus() {
    http_.get(urls.getStatus, [this](const HttpAnswer& answer) {
        const Json json = parseLenient(answer.body);
        site_.status = stringValue(json, "status");
        site_.cmsVersion = integerValue(json, "version");
    });
}

HttpAddonClient::ListTransfer
HttpAddonClient::streamTemplateList(const std::function<void(QByteArrayView)>& sink) {
    logLine(QStringLiteral("Requesting site"));
    if (!logIn())
        return ListTransfer::notLoggedIn;
    getSiteStatus();
    logLine(QStringLiteral("Requesting templates"));
    auto wait = std::make_shared<AnswerWait>();
    auto outcome = std::make_shared<ListTransfer>(ListTransfer::broken);
    http_.get(
        urls.getTemplates,
        [wait, outcome](const HttpAnswer& answer) {
            if (answer.failed())
                logLine(QStringLiteral("Template list request failed: ") + answer.error);
            else
                *outcome = ListTransfer::arrived;
            wait->signal();
        },
        AnswerKind::templateList, sink);
    wait->wait([] { logLine(QStringLiteral("doot")); });
    return *outcome;
}

void HttpAddonClient::checkDefaultGroup(const RecordTree& records) {
    bool found = false;
    for (const auto& [path, entry] : records.all()) {
        const auto* folder = std::get_if<FolderRecord>(&entry.record);
        if (!folder)
            continue;
        const std::optional<QString>& id = folder->templateGroupID;
        const bool pseudo = id && (*id == QLatin1String("variables") || *id == QLatin1String("snippets"));
        found = found || (!pseudo && folder->isSpecial.value_or(false));
    }
    if (options_.defaultGroupAlert && site_.cms == CMS::expressionEngine && !found)
        sendNotification(QStringLiteral("Warning"), QStringLiteral("Default template group not set."));
}

void HttpAddonClient::onMainThread(std::function<void()> work) {
    if (QThread::currentThread() == http_.thread())
        work();
    else
        QMetaObject::invokeMethod(&http_, std::move(work), Qt::QueuedConnection);
}

bool HttpAddonClient::handleStandardAnswer(const HttpAnswer& answer, const Json& json,
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

void HttpAddonClient::post(QString ActionUrls::*action, const FormFields& fields,
                           std::function<void(const HttpAnswer&, const Json&)> done) {
    onMainThread([this, action, fields, done = std::move(done)] {
        http_.postForm(
            urls.*action, fields,
            [done](const HttpAnswer& answer) { done(answer, parseLenient(answer.body)); }, AnswerKind::action,
            HttpClient::Resend::never);
    });
}

std::optional<QString> HttpAddonClient::idFor(const Json& item) const {
    if (site_.cms == CMS::expressionEngine) {
        if (const auto id = integerValue(item, "id"))
            return QString::number(*id);
    } else if (site_.cms == CMS::wordPress) {
        return stringValue(item, "id");
    }
    return std::nullopt;
}

void HttpAddonClient::updateTemplate(const QString& groupID, const QString& templateID, const QString& data,
                                     Done done) {
    standardRequest({}, &ActionUrls::updateTemplate,
                    {{QStringLiteral("template_group_id"), groupID},
                     {QStringLiteral("template_id"), templateID},
                     {QStringLiteral("template_data"), data}},
                    QStringLiteral("Update Successful"), QStringLiteral("Update Error"), std::move(done));
}

void HttpAddonClient::createGroup(const QString& name, const QString& parentGroupID, Done done) {
    post(
        &ActionUrls::createTemplateGroup,
        {{QStringLiteral("template_group_name"), name}, {QStringLiteral("template_group_id"), parentGroupID}},
        [this, done](const HttpAnswer& answer, const Json& json) {
            handleStandardAnswer(answer, json, QStringLiteral("Group Creation Success"),
                                 QStringLiteral("Group Creation Error"));
            const Json& group = objectAt(json, "template_group");
            AddonResult result = resultOf(answer, json);
            result.id = anyIdText(group);
            result.isSpecial = boolValue(group, "is_special");
            done(result);
        });
}

void HttpAddonClient::createTemplate(const QString& groupID, const QString& name, const QString& data,
                                     Done done) {
    logLine(QStringLiteral("templateGroupID: ") + groupID);
    post(&ActionUrls::createTemplate,
         {{QStringLiteral("template_group_id"), groupID},
          {QStringLiteral("template_name"), name},
          {QStringLiteral("template_data"), data}},
         [this, done](const HttpAnswer& answer, const Json& json) {
             AddonResult result = resultOf(answer, json);
             result.id = idFor(objectAt(json, "template"));
             if (const auto message = stringValue(json, "message"))
                 sendNotification(result.success ? QStringLiteral("Template Created")
                                                 : QStringLiteral("Template Creation Error"),
                                  *message);
             done(result);
         });
}

void HttpAddonClient::renameGroup(const QString& groupID, const QString& name, Done done) {
    standardRequest(
        QStringLiteral("templateGroupID: ") + groupID + QStringLiteral(", templateGroupName: ") + name,
        &ActionUrls::renameTemplateGroup,
        {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("template_group_name"), name}},
        QStringLiteral("Rename Template Group"), QStringLiteral("Rename Error"), std::move(done));
}

void HttpAddonClient::moveTemplate(const QString& templateID, const QString& name, const QString& fromGroupID,
                                   const QString& toGroupID, Done done) {
    const QString successTitle =
        fromGroupID == toGroupID ? QStringLiteral("Template Renamed") : QStringLiteral("Template Moved");
    post(&ActionUrls::moveTemplate,
         {{QStringLiteral("from_group_id"), fromGroupID},
          {QStringLiteral("to_group_id"), toGroupID},
          {QStringLiteral("template_id"), templateID},
          {QStringLiteral("template_name"), name}},
         [this, successTitle, done](const HttpAnswer& answer, const Json& json) {
             AddonResult result = resultOf(answer, json);
             if (handleStandardAnswer(answer, json, successTitle, QStringLiteral("Rename Template Error")))
                 result.id = idFor(objectAt(json, "template"));
             done(result);
         });
}

void HttpAddonClient::moveGroup(const QString& groupID, const QString& toParentGroupID, Done done) {
    post(&ActionUrls::moveTemplateGroup,
         {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("to_group_id"), toParentGroupID}},
         [this, done](const HttpAnswer& answer, const Json& json) {
             AddonResult result = resultOf(answer, json);
             if (handleStandardAnswer(answer, json, QStringLiteral("Folder Moved"),
                                      QStringLiteral("Move Folder Error")))
                 result.id = idFor(objectAt(json, "template_group"));
             done(result);
         });
}

void HttpAddonClient::deleteTemplate(const QString& groupID, const QString& templateID, Done done) {
    standardRequest(
        QStringLiteral("templateGroupID: ") + groupID + QStringLiteral(", templateID: ") + templateID,
        &ActionUrls::deleteTemplate,
        {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("template_id"), templateID}},
        QStringLiteral("Template Deleted"), QStringLiteral("Deletion Error"), std::move(done));
}

void HttpAddonClient::deleteGroup(const QString& groupID, Done done) {
    standardRequest(QStringLiteral("templateGroupID: ") + groupID, &ActionUrls::deleteTemplateGroup,
                    {{QStringLiteral("template_group_id"), groupID}}, QStringLiteral("Template Deleted"),
                    QStringLiteral("Deletion Error"), std::move(done));
}

void HttpAddonClient::standardRequest(const QString& logText, QString ActionUrls::*action, FormFields fields,
                                      const QString& successTitle, const QString& failureTitle, Done done) {
    if (!logText.isEmpty())
        logLine(logText);
    post(action, fields, [=, this](const HttpAnswer& answer, const Json& json) {
        handleStandardAnswer(answer, json, successTitle, failureTitle);
        done(resultOf(answer, json));
    });
}

void HttpAddonClient::getTemplate(const QString& groupID, const QString& templateID,
                                  std::function<void(const Json&)> done) {
    post(&ActionUrls::getNewTemplate,
         {{QStringLiteral("template_group_id"), groupID}, {QStringLiteral("template_id"), templateID}},
         [done](const HttpAnswer&, const Json& json) { done(json); });
}

void HttpAddonClient::sendNotification(const QString& title, const QString& informativeText) {
    if (options_.notifications)
        notifier_.notify(title, informativeText);
}

} // namespace folvane
