#pragma once

// The main window over the application's model, as the window tests set it up.

#include "GuiTestSupport.h"

#include "HttpClient.h"
#include "NotificationBus.h"
#include "core/ConnectionControl.h"
#include "core/SharedPreferences.h"
#include "ui/IconFetcher.h"
#include "ui/SiteListWindow.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>

namespace folvane::guitest {

// A small coloured square with a letter, as a site's stored icon.
QByteArray letterIcon(QChar letter, QColor colour) {
    QImage image(52, 52, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(2, 2, 48, 48), 10, 10);
    QFont font = painter.font();
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, QString(letter));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

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

    // With an icon of its own unless `withIcon` is false.
    std::shared_ptr<BaseWebsite> add(const QString& title, const QString& url, const QString& login = "me",
                                     const QString& password = "pw", bool withIcon = true) {
        auto site = std::make_shared<BaseWebsite>();
        site->setNewValues(title, url, login, password);
        if (withIcon)
            site->favIcon =
                letterIcon(title.at(0), QColor::fromHsv((title.at(0).unicode() * 47) % 360, 150, 200));
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
