#pragma once

#include "BaseWebsite.h"
#include "PropertyListFile.h"

#include <memory>
#include <optional>
#include <vector>

namespace folvane {

using SiteRecords = std::vector<std::shared_ptr<BaseWebsite>>;

// The coding of "sites.plist": an array with, per site, a dictionary of its title, both URLs, login and
// icon (never a password).
namespace siteListCodec {

// The sites a list file's root node holds; nothing unless it is a list of whole site records.
std::optional<SiteRecords> sitesFrom(plist_t root);
// The root node the list file is saved with: what sitesFrom() reads back.
Plist archive(const SiteRecords& sites);

} // namespace siteListCodec

} // namespace folvane
