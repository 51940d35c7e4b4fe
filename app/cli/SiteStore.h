#pragma once

#include "core/SecretStore.h"
#include "core/SiteListManager.h"

namespace folvane::cli {

// The user's site list, passwords from the Secret Service, for one command.
struct SiteStore {
    SiteStore();

    // The site with this title; nothing, after telling the user, when there is none.
    std::shared_ptr<BaseWebsite> named(const QString& title) const;
    // Gives the site its stored password, or asks for one (used for this command only); false, after
    // telling the user, when there is none.
    bool loadPassword(BaseWebsite& site);

    SecretServiceStore secrets;
    SiteListManager manager;
};

} // namespace folvane::cli
