#pragma once

#include "HttpClient.h"
#include "LenientJson.h"
#include "tree/WebsiteInUse.h"

#include <QStringList>
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

    QString getStatus, getLogin, getTemplates, getNewTemplate, updateTemplate, createTemplate, renameTemplate,
        deleteTemplate, deleteTemplateGroup, createTemplateGroup, renameTemplateGroup, moveTemplateGroup,
        moveTemplate;

    QString url;
    QString quaryDivider;

    std::optional<Json> statusJSON, loginJSON, templateJSON;

    const QString& sessionID() const { return sessionID_; }
    // A new ExpressionEngine session id rewrites the base URL and every action URL.
    void setSessionID(const QString& id);
    void resetURLs();

    // Logs in, then asks for the status and returns the template list; nothing when the login failed.
    std::optional<Json> requestSite();
    // The login exchange; waits for the answer. Returns whether the add-on accepted the credentials.
    bool isLoggedIn();
    // The status exchange; does not wait.
    void getSiteStatus();
    // Fetches "list_all" and waits for it. A body that is not JSON gives an empty value.
    Json getSiteTemplates();

    // A desktop notification, shown only when the user enabled notifications.
    void sendNotification(const QString& title, const QString& informativeText);

private:
    WebsiteInUse& site_;
    HttpClient& http_;
    NotificationBus& bus_;
    DesktopNotifier& notifier_;
    QString sessionID_;
};

} // namespace folvane
