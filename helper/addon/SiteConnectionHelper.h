#pragma once

#include "AddonUrls.h"
#include "HttpClient.h"
#include "LenientJson.h"
#include "tree/WebsiteInUse.h"

#include <QStringList>
#include <memory>
#include <optional>

namespace folvane {

class NotificationBus;
class DesktopNotifier;

// The add-on client: forms the action URLs for the site's CMS, logs in and keeps the session id,
// asks for the status and fetches the template list. One per helper process.
class SiteConnectionHelper {
public:
    // Reads the switches and the base folder from the helper's argument list (positions 8, 10, 12, 13)
    // and subscribes to the re-login request of the site.
    SiteConnectionHelper(const QStringList& args, WebsiteInUse& site, HttpClient& http, NotificationBus& bus,
                         DesktopNotifier& notifier);

    bool notificationBool = false;
    bool defaultGroupBool = false;
    bool cachingBool = false;
    QString baseString;

    ActionUrls urls;

    QString url;
    QString quaryDivider;

    std::optional<Json> statusJSON, loginJSON;
    // The last template list. Shared, not copied: it can be tens of megabytes.
    std::shared_ptr<Json> templateJSON;

    const QString& sessionID() const { return sessionID_; }
    // A new ExpressionEngine session id rewrites the base URL and every action URL.
    void setSessionID(const QString& id);
    void resetURLs();

    // Logs in, then asks for the status and returns the template list; nothing when the login failed.
    std::shared_ptr<Json> requestSite();
    // The login exchange; waits for the answer. Returns whether the add-on accepted the credentials.
    bool isLoggedIn();
    // The status exchange; does not wait.
    void getSiteStatus();
    // Fetches "list_all" and waits for it. A body that is not JSON gives an empty value.
    std::shared_ptr<Json> getSiteTemplates();

    // A desktop notification, shown only when the user enabled notifications.
    void sendNotification(const QString& title, const QString& informativeText);
    // Warns when an ExpressionEngine site has no default template group (after every list download).
    void isDefaultGroupSet();

    // Template and group operations. Each may be started from any thread and returns at once; the
    // answer is handled on the main thread, where the completion is called exactly once whatever the
    // answer said. `Outcome`, where offered, tells the caller whether the add-on confirmed the change.
    struct Outcome {
        bool transportFailed = false; // no answer at all: the request may be sent again
        bool success = false;         // the add-on answered "success" true
    };
    using OutcomeHandler = std::function<void(const Outcome&)>;
    using GroupCreated = std::function<void(std::optional<QString> groupID, std::optional<bool> isSpecial)>;
    using TemplateCreated = std::function<void(std::optional<QString> templateID)>;
    using Moved = std::function<void(std::optional<bool> success, std::optional<QString> newID)>;

    void updateTemplateAt(const QString& groupID, const QString& templateID, const QString& templateData,
                          OutcomeHandler done = {});
    void createTemplateGroupAt(const QString& name, const QString& parentGroupID, GroupCreated done);
    void createTemplateAt(const QString& groupID, const QString& templateName, const QString& templateData,
                          TemplateCreated done, OutcomeHandler outcome = {});
    void renameTemplateGroup(const QString& groupID, const QString& templateGroupName,
                             OutcomeHandler done = {});
    void moveTemplate(const QString& templateID, const QString& name, const QString& atGroupID,
                      const QString& toGroupID, Moved done, OutcomeHandler outcome = {});
    void moveFolder(const QString& groupID, const QString& toGroupID, Moved done);
    void deleteTemplateAt(const QString& groupID, const QString& templateID, OutcomeHandler done = {});
    void deleteTemplateGroupAt(const QString& groupID, OutcomeHandler done = {});
    // "get_template": the parsed answer goes to `done` (an empty value when there was none).
    void getTemplate(const QString& groupID, const QString& templateID,
                     std::function<void(const Json&)> done);

private:
    // Runs `work` on the main thread: at once when already there, else queued.
    void onMainThread(std::function<void()> work);
    // The common handling of an answer: logs it, notifies with the success or failure title (only when the
    // answer carries a "message"), and returns whether it took the success path.
    bool handleStandardAnswer(const HttpAnswer& answer, const Json& json, const QString& successTitle,
                              const QString& failureTitle);
    void post(const QString& url, const FormFields& fields,
              std::function<void(const HttpAnswer&, const Json&)> done);
    // A request answered the common way, whose caller learns only whether the add-on confirmed it.
    void standardRequest(const QString& logText, QString ActionUrls::*action, FormFields fields,
                         const QString& successTitle, const QString& failureTitle, OutcomeHandler done);
    // The identifier of a created or moved item: an integer as decimal text on ExpressionEngine, a text on
    // WordPress, nothing otherwise or when the type does not match.
    std::optional<QString> idFor(const Json& item) const;

    WebsiteInUse& site_;
    HttpClient& http_;
    NotificationBus& bus_;
    DesktopNotifier& notifier_;
    QString sessionID_;
};

} // namespace folvane
