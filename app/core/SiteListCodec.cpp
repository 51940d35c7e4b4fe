#include "SiteListCodec.h"

#include <cstdlib>

namespace folvane::siteListCodec {

namespace {

const char* const archivedTextKeys[] = {"url", "login", "cleanName", "dirtyURL"};
const char* const favIconKey = "favIcon";

std::optional<QString> textAt(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    QString text = QString::fromUtf8(value);
    std::free(value);
    return text;
}

// A record needs its four texts; an icon, when present, must be data.
std::shared_ptr<BaseWebsite> siteFrom(plist_t dict) {
    if (plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    std::optional<QString> texts[4];
    for (int i = 0; i < 4; ++i)
        if (!(texts[i] = textAt(dict, archivedTextKeys[i])))
            return nullptr;
    std::optional<QByteArray> icon;
    if (plist_t node = plist_dict_get_item(dict, favIconKey)) {
        if (plist_get_node_type(node) != PLIST_DATA)
            return nullptr;
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        icon = QByteArray(bytes, static_cast<qsizetype>(length));
        std::free(bytes);
    }
    // The cleaned address comes from the typed one, as when the site was entered: the file's own copy
    // could name another host.
    return std::make_shared<BaseWebsite>(*texts[3], *texts[1], QString(), *texts[2], *texts[3], icon);
}

plist_t archiveOf(const BaseWebsite& site) {
    plist_t dict = plist_new_dict();
    const QString* texts[] = {&site.url, &site.login, &site.cleanName, &site.dirtyURL};
    for (int i = 0; i < 4; ++i)
        plist_dict_set_item(dict, archivedTextKeys[i], plist_new_string(texts[i]->toUtf8().constData()));
    if (site.favIcon)
        plist_dict_set_item(
            dict, favIconKey,
            plist_new_data(site.favIcon->constData(), static_cast<uint64_t>(site.favIcon->size())));
    return dict;
}

} // namespace

std::optional<SiteRecords> sitesFrom(plist_t root) {
    if (!root || plist_get_node_type(root) != PLIST_ARRAY)
        return std::nullopt;
    SiteRecords sites;
    const uint32_t count = plist_array_get_size(root);
    for (uint32_t i = 0; i < count; ++i) {
        auto site = siteFrom(plist_array_get_item(root, i));
        if (!site)
            return std::nullopt;
        sites.push_back(std::move(site));
    }
    return sites;
}

Plist archive(const SiteRecords& sites) {
    Plist root(plist_new_array());
    for (const auto& site : sites)
        plist_array_append_item(root.get(), archiveOf(*site));
    return root;
}

} // namespace folvane::siteListCodec
