#pragma once

// The main window over the application's model, as the window tests set it up.

#include "GuiTestSupport.h"

#include "HttpClient.h"
#include "NotificationBus.h"
#include "core/ConnectionControl.h"
#include "core/SharedPreferences.h"
#include "ui/IconFetcher.h"
#include "ui/SiteListWindow.h"

#include <QFile>

namespace folvane::guitest {

// The application's model and its main window over a fresh support folder, by default with no session bus.
// `helperScript` is the shell text of a stand-in helper; without one, every helper fails at once. A simulator
// is made before the desk: the desk's open connections would keep it waiting as it ends.
struct Desk {
    explicit Desk(const QByteArray& helperScript = {},
                  const QDBusConnection& connection = QDBusConnection(QStringLiteral("no session bus")))
        : bus(connection),
          control(sites, preferences, bus, http,
                  HelperSetup{helperScript.isEmpty() ? QStringLiteral("/bin/false") : scriptIn(helperScript),
                              QProcessEnvironment::systemEnvironment(), folder.path()}),
          window(sites, control, prompts, icons) {}

    // Without an icon the row shows the site's initial.
    std::shared_ptr<BaseWebsite> add(const QString& title, const QString& url, const QString& login = "me",
                                     const QString& password = "pw", std::optional<QByteArray> icon = {}) {
        auto site = std::make_shared<BaseWebsite>();
        site->setNewValues(title, url, login, password);
        site->favIcon = std::move(icon);
        if (!sites.addNewSite(site))
            qFatal("cannot add a site: %s", qPrintable(sites.lastError()));
        window.refreshSiteList();
        return site;
    }
    QString scriptIn(const QByteArray& text) {
        QFile script(folder.filePath(QStringLiteral("helper.sh")));
        if (!script.open(QIODevice::WriteOnly) || script.write("#!/bin/sh\n" + text + "\n") < 0)
            qFatal("cannot write the stand-in helper");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return script.fileName();
    }

    QTemporaryDir folder;
    MapSecretStore secrets;
    SiteListManager sites{secrets, folder.path()};
    SharedPreferences preferences{folder.path()};
    NotificationBus bus;
    HttpClient http{applicationRequestLimit};
    ConnectionControl control;
    RecordingPrompts prompts;
    ui::IconFetcher icons{QString()};
    ui::SiteListWindow window;
};

} // namespace folvane::guitest
