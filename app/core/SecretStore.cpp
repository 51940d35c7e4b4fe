#include "SecretStore.h"

#include <QUrl>

// GLib names a structure member "signals", which Qt defines as a keyword.
#undef signals
#include <libsecret/secret.h>

#include <functional>
#include <memory>

namespace folvane {

namespace {

const char* const objectKey = "object";
const char* const siteKey = "domain";

const char* protocolName(BaseWebsite::InternetProtocol protocol) {
    return protocol == BaseWebsite::InternetProtocol::https ? "https" : "http";
}

struct TableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Table = std::unique_ptr<GHashTable, TableUnref>;

// The item's attributes as the network-password schema has them (values as text, as libsecret's
// table-taking calls want them); the path and the site only when the key has them.
Table schemaAttributes(const SecretAttributes& attributes) {
    Table table(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free));
    const auto put = [&](const char* key, const QString& value) {
        g_hash_table_insert(table.get(), const_cast<char*>(key), g_strdup(value.toUtf8().constData()));
    };
    put("user", attributes.account);
    put("server", attributes.server);
    put("protocol", QString::fromLatin1(protocolName(attributes.protocol)));
    put("authtype", QStringLiteral("basic"));
    put("port", QString::number(attributes.port));
    if (!attributes.object.isEmpty())
        put(objectKey, attributes.object);
    if (!attributes.site.isEmpty())
        put(siteKey, attributes.site);
    return table;
}

QString takeError(GError* error) {
    const QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text;
}

// Calls `action` with each item stored under exactly `attributes` (a search by attributes also yields
// every item that has more of them: a site's item for an older key, say) until it returns false.
// Returns an error text, or nothing.
std::optional<QString> forEachItem(const SecretAttributes& attributes,
                                   const std::function<bool(SecretRetrievable*)>& action) {
    const Table wanted = schemaAttributes(attributes);
    GError* error = nullptr;
    GList* items = secret_password_searchv_sync(
        SECRET_SCHEMA_COMPAT_NETWORK, wanted.get(),
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), nullptr, &error);
    if (error)
        return takeError(error);
    bool goOn = true;
    for (GList* entry = items; entry && goOn; entry = entry->next) {
        auto* item = static_cast<SecretRetrievable*>(entry->data);
        const Table itemAttributes(secret_retrievable_get_attributes(item));
        const bool extraObject =
            attributes.object.isEmpty() && g_hash_table_contains(itemAttributes.get(), objectKey);
        const bool extraSite =
            attributes.site.isEmpty() && g_hash_table_contains(itemAttributes.get(), siteKey);
        if (!extraObject && !extraSite)
            goOn = action(item);
    }
    g_list_free_full(items, g_object_unref);
    return std::nullopt;
}

} // namespace

SecretAttributes SecretAttributes::of(const BaseWebsite& site) {
    // As the requests read the typed address; "" and "/" are one place, and a query only picks a page of
    // the same panel.
    const QUrl address(site.dirtyURL);
    const bool https = address.scheme() == QLatin1String("https");
    QString object = address.path(QUrl::FullyEncoded);
    if (object.isEmpty())
        object = QStringLiteral("/");
    return {address.host(),
            address.port(https ? 443 : 80),
            https ? BaseWebsite::InternetProtocol::https : BaseWebsite::InternetProtocol::http,
            site.authenticationType,
            site.account(),
            object,
            site.cleanName};
}

std::optional<SecretAttributes> SecretAttributes::olderKeyOf(const BaseWebsite& site, bool withPath) {
    // Older versions keyed the item on the cleaned address, which may name another scheme or host than
    // the one the password goes to.
    if (site.dirtyURL.isEmpty() || BaseWebsite::cleanedURL(site.dirtyURL) != site.dirtyURL ||
        site.url != site.dirtyURL)
        return std::nullopt;
    QString object;
    if (withPath) {
        object = QUrl(site.url).path(QUrl::FullyEncoded);
        if (object.isEmpty())
            object = QStringLiteral("/");
    }
    return SecretAttributes{
        site.server, site.port, site.internetProtocol, site.authenticationType, site.account(),
        object,      QString()};
}

std::optional<QString> SecretServiceStore::store(const SecretAttributes& attributes,
                                                 const QString& password) {
    const Table table = schemaAttributes(attributes);
    const QByteArray label =
        QStringLiteral("Folvane 3: %1 (%2@%3%4)")
            .arg(attributes.site, attributes.account, attributes.server, attributes.object)
            .toUtf8();
    const QByteArray secret = password.toUtf8();
    GError* error = nullptr;
    // An item with the same attributes is replaced in place, so storing also updates.
    secret_password_storev_sync(SECRET_SCHEMA_COMPAT_NETWORK, table.get(), SECRET_COLLECTION_DEFAULT,
                                label.constData(), secret.constData(), nullptr, &error);
    if (error)
        return takeError(error);
    return std::nullopt;
}

SecretLookup SecretServiceStore::read(const SecretAttributes& attributes) {
    SecretLookup found;
    const auto searchError = forEachItem(attributes, [&](SecretRetrievable* item) {
        GError* error = nullptr;
        SecretValue* value = secret_retrievable_retrieve_secret_sync(item, nullptr, &error);
        if (error) {
            found.error = takeError(error);
            return true;
        }
        if (!value)
            return true;
        found = {QString::fromUtf8(secret_value_get_text(value)), {}};
        secret_value_unref(value);
        return false;
    });
    if (searchError)
        return {std::nullopt, *searchError};
    return found;
}

std::optional<QString> SecretServiceStore::remove(const SecretAttributes& attributes) {
    std::optional<QString> failure;
    const auto searchError = forEachItem(attributes, [&](SecretRetrievable* item) {
        GError* error = nullptr;
        if (SECRET_IS_ITEM(item))
            secret_item_delete_sync(SECRET_ITEM(item), nullptr, &error);
        if (error)
            failure = takeError(error);
        return true;
    });
    return searchError ? searchError : failure;
}

} // namespace folvane
