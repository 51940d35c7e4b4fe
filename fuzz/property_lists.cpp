// The support folder's property lists: any file content reads as a site list, as preferences, or as
// neither, and whatever was read survives the save the next change makes. A site read names its password
// item by the address it types, whatever cleaned address the file holds; only a typed address that
// cleaning leaves alone has a key of an older version.
#include "BusNames.h"
#include "FuzzCheck.h"
#include "core/BaseWebsite.h"
#include "core/PropertyListFile.h"
#include "core/SecretStore.h"
#include "core/SharedPreferences.h"
#include "core/SiteListCodec.h"

#include <QUrl>
#include <cstdint>

using namespace folvane;
using fuzz::check;

namespace {

// What a save writes for `root` (a binary property list), read back.
Plist savedAndRead(const Plist& root) {
    const QByteArray bytes = PropertyListFile::encode(root.get());
    check(!bytes.isEmpty(), "a property list that was read cannot be saved");
    Plist read = PropertyListFile::parse(bytes);
    check(read != nullptr, "a saved property list does not read back");
    return read;
}

bool sameSites(const std::vector<std::shared_ptr<BaseWebsite>>& a,
               const std::vector<std::shared_ptr<BaseWebsite>>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i]->url != b[i]->url || a[i]->login != b[i]->login || a[i]->cleanName != b[i]->cleanName ||
            a[i]->dirtyURL != b[i]->dirtyURL || a[i]->favIcon != b[i]->favIcon)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Plist root = PropertyListFile::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!root)
        return 0;
    const auto sites = siteListCodec::sitesFrom(root.get());
    const auto preferences = SharedPreferences::preferencesFrom(root.get());
    if (!sites && !preferences)
        return 0;
    for (const auto& site : sites.value_or(std::vector<std::shared_ptr<BaseWebsite>>{})) {
        (void)site->isSet(), (void)bus::clashingTitleStart(site->cleanName);
        check(site->url == BaseWebsite::cleanedURL(site->dirtyURL), "the cleaned URL is not the typed one's");
        const SecretAttributes key = SecretAttributes::of(*site);
        check(key.server == QUrl(site->dirtyURL).host() && key.site == site->cleanName,
              "a password item is not keyed on the typed address and the site");
        for (const bool withPath : {true, false})
            check(!SecretAttributes::olderKeyOf(*site, withPath) || site->dirtyURL == site->url,
                  "an older key for an address that cleaning changes");
    }

    // The next change saves what was read: it must read back the same.
    if (sites) {
        const auto reread = siteListCodec::sitesFrom(savedAndRead(siteListCodec::archive(*sites)).get());
        check(reread && sameSites(*sites, *reread), "a saved site list reads back as another");
    }
    if (preferences)
        check(SharedPreferences::preferencesFrom(
                  savedAndRead(SharedPreferences::archive(*preferences)).get()) == preferences,
              "saved preferences read back as others");
    return 0;
}
