#pragma once

#include "BaseWebsite.h"

#include <QString>
#include <optional>

namespace folvane {

// What a site's password item is found by: server, port, protocol, authentication type and account.
struct SecretAttributes {
    QString server;
    int port = 80;
    BaseWebsite::InternetProtocol protocol = BaseWebsite::InternetProtocol::http;
    BaseWebsite::AuthenticationType authenticationType = BaseWebsite::AuthenticationType::httpBasic;
    QString account;

    static SecretAttributes of(const BaseWebsite& site);
};

struct SecretLookup {
    std::optional<QString> password; // none: no item, or it could not be read
    QString error;                   // why it could not be read; empty when there simply is none
};

// Where site passwords are kept: one item per set of attributes.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretLookup read(const SecretAttributes& attributes) = 0;
    // Creates the item, or updates the one with these attributes. Returns an error text, or nothing.
    virtual std::optional<QString> store(const SecretAttributes& attributes, const QString& password) = 0;
};

// The desktop's Secret Service through libsecret, as network-password items.
class SecretServiceStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes& attributes) override;
    std::optional<QString> store(const SecretAttributes& attributes, const QString& password) override;
};

} // namespace folvane
