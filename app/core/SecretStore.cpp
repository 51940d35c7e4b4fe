#include "SecretStore.h"

// GLib names a structure member "signals", which Qt defines as a keyword.
#undef signals
#include <libsecret/secret.h>

namespace folvane {

namespace {

const char* protocolName(BaseWebsite::InternetProtocol protocol) {
    return protocol == BaseWebsite::InternetProtocol::https ? "https" : "http";
}

// The item's attributes as the network-password schema has them.
struct SchemaAttributes {
    explicit SchemaAttributes(const SecretAttributes& attributes)
        : user(attributes.account.toUtf8()), server(attributes.server.toUtf8()),
          protocol(protocolName(attributes.protocol)), port(attributes.port) {}
    QByteArray user;
    QByteArray server;
    const char* protocol;
    const char* authtype = "basic";
    int port;
};

QString takeError(GError* error) {
    const QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text;
}

} // namespace

SecretAttributes SecretAttributes::of(const BaseWebsite& site) {
    return {site.server, site.port, site.internetProtocol, site.authenticationType, site.account()};
}

std::optional<QString> SecretServiceStore::store(const SecretAttributes& attributes,
                                                 const QString& password) {
    const SchemaAttributes a(attributes);
    const QByteArray label =
        QStringLiteral("Folvane 3: %1@%2").arg(attributes.account, attributes.server).toUtf8();
    const QByteArray secret = password.toUtf8();
    GError* error = nullptr;
    // An item with the same attributes is replaced in place, so storing also updates.
    secret_password_store_sync(SECRET_SCHEMA_COMPAT_NETWORK, SECRET_COLLECTION_DEFAULT, label.constData(),
                               secret.constData(), nullptr, &error, "user", a.user.constData(), "server",
                               a.server.constData(), "protocol", a.protocol, "authtype", a.authtype, "port",
                               a.port, nullptr);
    if (error)
        return takeError(error);
    return std::nullopt;
}

SecretLookup SecretServiceStore::read(const SecretAttributes& attributes) {
    const SchemaAttributes a(attributes);
    GError* error = nullptr;
    gchar* password = secret_password_lookup_sync(
        SECRET_SCHEMA_COMPAT_NETWORK, nullptr, &error, "user", a.user.constData(), "server",
        a.server.constData(), "protocol", a.protocol, "authtype", a.authtype, "port", a.port, nullptr);
    if (error)
        return {std::nullopt, takeError(error)};
    if (!password)
        return {};
    SecretLookup found{QString::fromUtf8(password), {}};
    secret_password_free(password);
    return found;
}

} // namespace folvane
