#include "SiteStore.h"

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

} // namespace folvane::cli
