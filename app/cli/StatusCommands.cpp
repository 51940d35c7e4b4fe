#include "Commands.h"
#include "Console.h"
#include "SiteStore.h"

#include "Counted.h"
#include "MountTable.h"
#include "NotificationBus.h"
#include "Paths.h"
#include "PrintableText.h"
#include "core/BaseWebsite.h"
#include "core/PendingFilesWatch.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>

namespace folvane::cli {

namespace {

// A live helper answers "list-pending-" at once; this is for a busy machine.
constexpr int answerTimeoutMs = 5000;
// An ejected helper gives uploads still out a few seconds before it unmounts.
constexpr int ejectTimeoutMs = 60'000;
constexpr int mountPollMs = 100;

struct ConnectedSite {
    QString title;
    QString mountPoint;
};

std::optional<ConnectedSite> connectedSite(const BaseWebsite& site) {
    const QString mountPoint = QDir::cleanPath(paths::mountPointFor(site.cleanName));
    if (!MountTable::hasFuseMountAt(mountPoint))
        return std::nullopt;
    return ConnectedSite{site.cleanName, mountPoint};
}

// Asks each site's helper for its list; returns once all answered or the time is up.
void askForLists(PendingFilesWatch& watch, const std::vector<ConnectedSite>& sites) {
    QEventLoop loop;
    const auto allAnswered = [&] {
        return std::all_of(sites.begin(), sites.end(),
                           [&](const ConnectedSite& site) { return watch.hasAnswered(site.title); });
    };
    QObject::connect(&watch, &PendingFilesWatch::filesChanged, &loop, [&] {
        if (allAnswered())
            loop.quit();
    });
    QTimer::singleShot(answerTimeoutMs, &loop, &QEventLoop::quit);
    for (const ConnectedSite& site : sites)
        watch.watch(site.title);
    if (!allAnswered())
        loop.exec();
}

// One line, whatever the site's message holds.
QString stateText(const PendingFile& file) {
    QString text = stateName(file.state).leftJustified(8) + u' ' + file.path;
    if (!file.message.isEmpty())
        text += QStringLiteral(" (") + file.message + u')';
    if (!file.copy.isEmpty())
        text += QStringLiteral("; show copy: ") + file.copy;
    return printableLine(text);
}

void printText(const PendingFilesWatch& watch, const std::vector<ConnectedSite>& sites) {
    if (sites.empty())
        console::out(QStringLiteral("No site is connected."));
    for (const ConnectedSite& site : sites) {
        console::out(QStringLiteral("%1: mounted at %2").arg(site.title, site.mountPoint));
        const QList<PendingFile> files = watch.files(site.title);
        if (!watch.hasAnswered(site.title))
            console::out(QStringLiteral("  (its helper did not say which files are on their way)"));
        else if (files.isEmpty())
            console::out(QStringLiteral("  every change confirmed by the site"));
        for (const PendingFile& file : files)
            console::out(QStringLiteral("  ") + stateText(file));
    }
}

void printJson(const PendingFilesWatch& watch, const std::vector<ConnectedSite>& sites) {
    QJsonArray list;
    for (const ConnectedSite& site : sites) {
        QJsonObject entry{{QStringLiteral("title"), site.title},
                          {QStringLiteral("mountPoint"), site.mountPoint}};
        if (watch.hasAnswered(site.title)) {
            QJsonArray pending;
            for (const PendingFile& file : watch.files(site.title))
                pending.append(pendingFileObject(file));
            entry.insert(QStringLiteral("pending"), pending);
        } else {
            entry.insert(QStringLiteral("pending"), QJsonValue::Null);
        }
        list.append(entry);
    }
    console::out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("sites"), list}})
                                       .toJson(QJsonDocument::Indented)
                                       .trimmed()));
}

bool waitUntilUnmounted(const QString& mountPoint) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!MountTable::hasFuseMountAt(mountPoint))
            loop.quit();
    });
    QTimer::singleShot(ejectTimeoutMs, &loop, &QEventLoop::quit);
    poll.start(mountPollMs);
    loop.exec();
    return !MountTable::hasFuseMountAt(mountPoint);
}

// The named site's connection; nothing (the reason already said) when there is no such site or it is not
// connected.
std::optional<ConnectedSite> namedConnectedSite(SiteStore& store, const QString& title) {
    const auto site = store.named(title);
    if (!site)
        return std::nullopt;
    const auto connected = connectedSite(*site);
    if (!connected)
        console::error(QStringLiteral("\"%1\" is not connected").arg(site->cleanName));
    return connected;
}

} // namespace

int showStatus(const CommandLine& command) {
    if (command.words.size() > 1) {
        console::error(QStringLiteral("status takes at most one TITLE (see folvane3 status --help)"));
        return exitUsage;
    }
    SiteStore store;
    std::vector<ConnectedSite> sites;
    if (command.words.size() == 1) {
        const auto connected = namedConnectedSite(store, command.words.at(0));
        if (!connected)
            return exitRejected;
        sites.push_back(*connected);
    } else {
        for (const auto& site : store.manager.siteList())
            if (const auto connected = connectedSite(*site))
                sites.push_back(*connected);
    }
    NotificationBus bus;
    PendingFilesWatch watch(bus);
    if (!sites.empty())
        askForLists(watch, sites);
    if (command.has(QStringLiteral("json")))
        printJson(watch, sites);
    else
        printText(watch, sites);
    return exitOk;
}

int ejectSite(const CommandLine& command) {
    SiteStore store;
    const auto connected = namedConnectedSite(store, command.words.at(0));
    if (!connected)
        return exitRejected;
    const QString title = connected->title;
    NotificationBus bus;
    PendingFilesWatch watch(bus);
    askForLists(watch, {*connected});
    if (!watch.hasAnswered(title)) {
        console::error(QStringLiteral("the helper of \"%1\" did not answer").arg(title));
        return exitNoAnswer;
    }
    // A notice about a file changed on the site too is no unconfirmed change.
    QList<PendingFile> pending = watch.files(title);
    pending.removeIf([](const PendingFile& file) { return file.state == PendingFile::State::changedOnSite; });
    if (!pending.isEmpty() && !command.has(QStringLiteral("yes"))) {
        for (const PendingFile& file : pending)
            console::message(QStringLiteral("  ") + stateText(file));
        if (!console::confirm(
                QStringLiteral("%1 of \"%2\" %3 not confirmed by the site yet; what it does not confirm is "
                               "kept in %4. Eject anyway?")
                    .arg(counted(pending.size(), QStringLiteral("file"), QStringLiteral("files")), title,
                         pending.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                         paths::supportFolder() + QStringLiteral("/Recovered/") + title))) {
            console::error(QStringLiteral("\"%1\" was not ejected (--yes ejects without asking)").arg(title));
            return exitRejected;
        }
    }
    console::message(QStringLiteral("Ejecting \"%1\"…").arg(title));
    watch.eject(title);
    if (!waitUntilUnmounted(connected->mountPoint)) {
        console::error(QStringLiteral("\"%1\" is still mounted at %2").arg(title, connected->mountPoint));
        return exitNoAnswer;
    }
    console::message(QStringLiteral("\"%1\" was ejected.").arg(title));
    return exitOk;
}

} // namespace folvane::cli
