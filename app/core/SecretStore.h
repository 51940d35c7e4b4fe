#pragma once

#include "BaseWebsite.h"

#include <QString>
#include <optional>

namespace folvane {

// What a site's password item is found by: server, port, protocol, authentication type, account and the
// site's path on the server ("object"), so that two sites on one host with one user keep two passwords.
struct SecretAttributes {
    QString server;
    int port = 80;
    BaseWebsite::InternetProtocol protocol = BaseWebsite::InternetProtocol::http;
    BaseWebsite::AuthenticationType authenticationType = BaseWebsite::AuthenticationType::httpBasic;
    QString account;
    QString object;

    static SecretAttributes of(const BaseWebsite& site);
    // The same host, port, protocol and account: the sites that one item without a path served.
    bool sharesHostWith(const SecretAttributes& other) const;
    bool operator==(const SecretAttributes&) const = default;
};

struct SecretLookup {
    std::optional<QString> password; // none: no item, or it could not be read
    QString error;                   // why it could not be read; empty when there simply is none
};

// Where site passwords are kept: one item per site. Earlier versions keyed an item without the site's
// path, so one item served every site of a host and account; those are the "shared" items below.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The site's own item.
    virtual SecretLookup read(const SecretAttributes& attributes) = 0;
    // The item without a path for the site's host and account; never another site's own item.
    virtual SecretLookup readShared(const SecretAttributes& attributes) = 0;
    // Creates the site's own item, or updates it. Returns an error text, or nothing.
    virtual std::optional<QString> store(const SecretAttributes& attributes, const QString& password) = 0;
    // Deletes the site's own item (nothing to delete is no error). Returns an error text, or nothing.
    virtual std::optional<QString> remove(const SecretAttributes& attributes) = 0;
    // Deletes the item without a path for the site's host and account, and nothing else.
    virtual std::optional<QString> removeShared(const SecretAttributes& attributes) = 0;
};

// The desktop's Secret Service through libsecret, as network-password items.
class SecretServiceStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes& attributes) override;
    SecretLookup readShared(const SecretAttributes& attributes) override;
    std::optional<QString> store(const SecretAttributes& attributes, const QString& password) override;
    std::optional<QString> remove(const SecretAttributes& attributes) override;
    std::optional<QString> removeShared(const SecretAttributes& attributes) override;
};

} // namespace folvane
