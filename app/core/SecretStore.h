#pragma once

#include "BaseWebsite.h"

#include <QString>
#include <optional>

namespace folvane {

// What a password item is found by: where the password is sent (the scheme, host, port and path of the
// typed address, as the requests use it), the account, and the site it belongs to (its title, kept as the
// item's "domain"). A site is only ever given the item it stored itself.
struct SecretAttributes {
    QString server;
    int port = 80;
    BaseWebsite::InternetProtocol protocol = BaseWebsite::InternetProtocol::http;
    BaseWebsite::AuthenticationType authenticationType = BaseWebsite::AuthenticationType::httpBasic;
    QString account;
    QString object; // the path; empty only in the key of an item stored without one
    QString site;   // the title; empty only in the key of an item stored by an older version

    static SecretAttributes of(const BaseWebsite& site);
    // The key an older version stored the site's password under, with (`withPath`) or without the path;
    // nothing unless that key named the very address the password is sent to (cleaning the typed address
    // changed nothing). The key never names the site itself, so several sites may share it.
    static std::optional<SecretAttributes> olderKeyOf(const BaseWebsite& site, bool withPath);
    bool operator==(const SecretAttributes&) const = default;
};

struct SecretLookup {
    std::optional<QString> password; // none: no item, or it could not be read
    QString error;                   // why it could not be read; empty when there simply is none
};

// Where site passwords are kept: one item per site.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The item stored under exactly these attributes (an older key finds only an older item: one without
    // a site, and without a path when the key has none).
    virtual SecretLookup read(const SecretAttributes& attributes) = 0;
    // Creates the site's item, or updates it. Returns an error text, or nothing.
    virtual std::optional<QString> store(const SecretAttributes& attributes, const QString& password) = 0;
    // Deletes the item stored under exactly these attributes (nothing to delete is no error). Returns an
    // error text, or nothing.
    virtual std::optional<QString> remove(const SecretAttributes& attributes) = 0;
};

// The desktop's Secret Service through libsecret, as network-password items.
class SecretServiceStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes& attributes) override;
    std::optional<QString> store(const SecretAttributes& attributes, const QString& password) override;
    std::optional<QString> remove(const SecretAttributes& attributes) override;
};

} // namespace folvane
