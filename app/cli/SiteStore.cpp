#include "SiteStore.h"

#include "Commands.h"
#include "Console.h"
#include "Paths.h"

namespace folvane::cli {

SiteStore::SiteStore() : manager(secrets, paths::supportFolder()) {
    if (!manager.keptAsidePath().isEmpty())
        console::error(
            QStringLiteral("the site list could not be read; it was kept as %1 and the list starts empty")
                .arg(manager.keptAsidePath()));
}

std::shared_ptr<BaseWebsite> SiteStore::named(const QString& title) const {
    std::shared_ptr<BaseWebsite> site = manager.siteWithTitle(title);
    if (!site)
        console::error(
            QStringLiteral("there is no site titled \"%1\" (folvane3 sites list shows them)").arg(title));
    return site;
}

bool SiteStore::loadPassword(BaseWebsite& site) {
    if (manager.loadPassword(site))
        return true;
    console::message(QStringLiteral("No password is stored for \"%1\" (folvane3 sites edit \"%1\" --password "
                                    "stores one).")
                         .arg(site.cleanName));
    const std::optional<QString> password = passwordFor(site.login);
    site.password = password.value_or(QString());
    return !site.password.isEmpty();
}

} // namespace folvane::cli
