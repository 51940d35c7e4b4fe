// The support folder's property lists: any file content reads as a site list, as preferences, or as
// neither, and whatever was read survives the save the next change makes.
#include "FuzzCheck.h"
#include "core/BaseWebsite.h"
#include "core/PropertyListFile.h"
#include "core/SharedPreferences.h"
#include "core/SiteListCodec.h"

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
    for (const auto& site : sites.value_or(std::vector<std::shared_ptr<BaseWebsite>>{}))
        (void)site->isSet(), (void)BaseWebsite::cleanedURL(site->dirtyURL);

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
