#pragma once

#include "AddonClient.h"
#include "AddonUrls.h"
#include "HttpClient.h"
#include "tree/WebsiteInUse.h"

#include <memory>
#include <optional>

namespace folvane {

class NotificationBus;
class DesktopNotifier;

// The add-on client over HTTP: forms the action URLs for the site's CMS, logs in and keeps the session id,
// asks for the status, fetches the template list and sends the template and group requests. Every answer
// is read leniently; the add-on's messages become desktop notifications when the user enabled them. One
// per helper process.
class HttpAddonClient : public AddonClient {
public:
    struct Options {
        bool notifications = false;     // show the add-on's messages as desktop notifications
        bool defaultGroupAlert = false; // warn when an ExpressionEngine site has no default template group
    };

    // Subscribes to the site's re-login request.
    HttpAddonClient(WebsiteInUse& site, HttpClient& http, NotificationBus& bus, DesktopNotifier& notifier,
                    Options options);

    ActionUrls urls;
    QString url;

    const QString& sessionID() const { return sessionID_; }
    // A new ExpressionEngine session id rewrites the base URL and every action URL.
    void setSessionID(const QString& id);

    // The login exchange; waits for the answer. Returns whether the add-on accepted the credentials.
    bool logIn();
    // Logs in, asks for the status, then fetches "list_all" into `sink`.
    ListTransfer streamTemplateList(const std::function<void(QByteArrayView)>& sink) override;
    void checkDefaultGroup(const RecordTree& records) override;

    void createTemplate(const QString& groupID, const QString& name, const QString& data, Done done) override;
    void updateTemplate(const QString& groupID, const QString& templateID, const QString& data,
                        Done done) override;
    void moveTemplate(const QString& templateID, const QString& name, const QString& fromGroupID,
                      const QString& toGroupID, Done done) override;
    void deleteTemplate(const QString& groupID, const QString& templateID, Done done) override;
    void createGroup(const QString& name, const QString& parentGroupID, Done done) override;
    void renameGroup(const QString& groupID, const QString& name, Done done) override;
    void moveGroup(const QString& groupID, const QString& toParentGroupID, Done done) override;
    void deleteGroup(const QString& groupID, Done done) override;
    void getTemplate(const QString& groupID, const QString& templateID,
                     std::function<void(const Json&)> done) override;

private:
    void resetURLs();
    // Sends the login form; `done` follows its answer (site_.loggedIn says whether it was accepted).
    void sendLogin(std::function<void()> done);
    // The status exchange; does not wait.
    void getSiteStatus();
    // A desktop notification, shown only when the user enabled notifications.
    void sendNotification(const QString& title, const QString& informativeText);
    // Runs `work` on the main thread: at once when already there, else queued.
    void onMainThread(std::function<void()> work);
    // The common handling of an answer: logs it, notifies with the success or failure title (only when the
    // answer carries a "message"), and returns whether it took the success path.
    bool handleStandardAnswer(const HttpAnswer& answer, const Json& json, const QString& successTitle,
                              const QString& failureTitle);
    // Posts to the action URL as it is when the request goes (a new session id may have rewritten it).
    void post(QString ActionUrls::*action, const FormFields& fields,
              std::function<void(const HttpAnswer&, const Json&)> done);
    // A request answered the common way.
    void standardRequest(const QString& logText, QString ActionUrls::*action, FormFields fields,
                         const QString& successTitle, const QString& failureTitle, Done done);
    // The identifier of a created or moved item: an integer as decimal text on ExpressionEngine, a text on
    // WordPress, nothing otherwise or when the type does not match.
    std::optional<QString> idFor(const Json& item) const;

    WebsiteInUse& site_;
    HttpClient& http_;
    NotificationBus& bus_;
    DesktopNotifier& notifier_;
    const Options options_;
    QString sessionID_;
    int loginsInFlight_ = 0; // logins sent and not answered yet
};

} // namespace folvane
