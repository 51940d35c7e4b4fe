#include "Commands.h"
#include "Console.h"
#include "SiteStore.h"

#include "BusNames.h"
#include "Paths.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionCheck.h"

namespace folvane::cli {

namespace {

// Why a site with these values cannot be in the list, or nothing.
std::optional<QString> refusal(const SiteListManager& manager, const BaseWebsite& site,
                               std::optional<int> position) {
    if (!paths::isSafeMountTitle(site.cleanName))
        return QStringLiteral("the title \"%1\" cannot name a folder: it must not be empty, \".\" or \"..\", "
                              "nor contain \"/\"")
            .arg(site.cleanName);
    if (const auto start = bus::clashingTitleStart(site.cleanName))
        return QStringLiteral(
                   "the title \"%1\" cannot start with \"%2\": the site's notifications would share "
                   "their names with another site's")
            .arg(site.cleanName, *start);
    if (site.dirtyURL.isEmpty())
        return QStringLiteral("the URL must not be empty");
    if (site.login.isEmpty())
        return QStringLiteral("the user name must not be empty");
    if (!manager.isSiteInList(site, position))
        return std::nullopt;
    const int sameTitle = manager.positionOfSite(site.cleanName);
    if (sameTitle >= 0 && sameTitle != position)
        return QStringLiteral("there already is a site titled \"%1\"").arg(site.cleanName);
    return QStringLiteral("there already is a site with the URL %1").arg(site.dirtyURL);
}

int saved(SiteListManager& manager, bool done, const QString& what) {
    if (!done) {
        console::error(manager.lastError());
        return exitFailed;
    }
    console::message(what);
    return exitOk;
}

} // namespace

std::optional<QString> passwordFor(const QString& user) {
    const std::optional<QString> password =
        console::readPassword(QStringLiteral("Password for %1: ").arg(user));
    if (!password)
        console::error(QStringLiteral("no password given on standard input"));
    return password;
}

int sitesList(const CommandLine& command) {
    SiteStore store;
    const auto& sites = store.manager.siteList();
    if (command.has(QStringLiteral("titles"))) {
        for (const auto& site : sites)
            console::out(site->cleanName);
        return exitOk;
    }
    if (sites.empty()) {
        console::message(
            QStringLiteral("No sites yet; add one with: folvane3 sites add --title T --url U --user N"));
        return exitOk;
    }
    QList<QStringList> rows = {
        {QStringLiteral("TITLE"), QStringLiteral("URL"), QStringLiteral("USER"), QStringLiteral("PASSWORD")}};
    for (const auto& site : sites)
        rows.append({site->cleanName, site->dirtyURL, site->login,
                     store.manager.loadPassword(*site) ? QStringLiteral("stored") : QStringLiteral("none")});
    QList<qsizetype> widths(4, 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const QStringList& row : rows)
        console::out(row[0].leftJustified(widths[0] + 2) + row[1].leftJustified(widths[1] + 2) +
                     row[2].leftJustified(widths[2] + 2) + row[3]);
    return exitOk;
}

int sitesAdd(const CommandLine& command) {
    const auto title = command.value(QStringLiteral("title"));
    const auto url = command.value(QStringLiteral("url"));
    const auto user = command.value(QStringLiteral("user"));
    if (!title || !url || !user) {
        console::error(QStringLiteral("sites add needs --title, --url and --user (see folvane3 --help)"));
        return exitUsage;
    }
    SiteStore store;
    // As the editor does: an empty record receives the typed values.
    auto site = std::make_shared<BaseWebsite>();
    site->setNewValues(title, url, user, std::nullopt);
    if (const auto problem = refusal(store.manager, *site, std::nullopt)) {
        console::error(*problem);
        return exitRejected;
    }
    if (passwordTravelsUnencrypted(site->dirtyURL))
        console::message(unencryptedPasswordNotice);
    const std::optional<QString> password = passwordFor(*user);
    if (!password)
        return exitUsage;
    site->password = *password;
    return saved(store.manager, store.manager.addNewSite(site), QStringLiteral("Added \"%1\".").arg(*title));
}

int sitesEdit(const CommandLine& command) {
    SiteStore store;
    const QString title = command.words.at(0);
    if (!store.named(title))
        return exitRejected;
    const int position = store.manager.positionOfSite(title);
    const auto newTitle = command.value(QStringLiteral("title"));
    const auto newURL = command.value(QStringLiteral("url"));
    const auto newUser = command.value(QStringLiteral("user"));
    const bool newPassword = command.has(QStringLiteral("password"));
    if (!newTitle && !newURL && !newUser && !newPassword) {
        console::error(QStringLiteral("sites edit needs at least one of --title, --url, --user, --password"));
        return exitUsage;
    }
    // A copy, so that a change that cannot be saved leaves the listed record as it was.
    auto edited = std::make_shared<BaseWebsite>(*store.manager.siteList()[static_cast<size_t>(position)]);
    edited->setNewValues(newTitle, newURL, newUser, std::nullopt);
    if (const auto problem = refusal(store.manager, *edited, position)) {
        console::error(*problem);
        return exitRejected;
    }
    if (newURL && passwordTravelsUnencrypted(edited->dirtyURL))
        console::message(unencryptedPasswordNotice);
    if (newPassword) {
        const std::optional<QString> password = passwordFor(edited->login);
        if (!password)
            return exitUsage;
        edited->password = *password;
    }
    return saved(store.manager, store.manager.finishedEditingSite(edited, position),
                 QStringLiteral("Changed \"%1\".").arg(edited->cleanName));
}

int sitesRemove(const CommandLine& command) {
    SiteStore store;
    const auto site = store.named(command.words.at(0));
    if (!site)
        return exitRejected;
    const QString title = site->cleanName;
    const bool askFirst = !command.has(QStringLiteral("yes"));
    std::optional<bool> confirmed;
    store.manager.dialogDelete = [&](const QString& question, const QString& text) {
        confirmed = !askFirst || console::confirm(question + u' ' + text + u'?');
        return *confirmed;
    };
    const bool removed = store.manager.removeSite(*site);
    if (!removed && confirmed == false) {
        console::error(QStringLiteral("\"%1\" was not removed: not confirmed (--yes removes without asking)")
                           .arg(title));
        return exitRejected;
    }
    return saved(store.manager, removed, QStringLiteral("Removed \"%1\".").arg(title));
}

} // namespace folvane::cli
