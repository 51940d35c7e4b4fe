#pragma once

// The Secret Service played by a map, so that its failures can be staged (the end-to-end tests use the real
// one). An item is found by exactly the attributes it was stored under.
#include "core/SecretStore.h"

#include <QString>
#include <map>

namespace folvane::testsupport {

class MapSecretStore : public SecretStore {
public:
    SecretLookup read(const SecretAttributes& a) override {
        if (!unreadableAccount.isEmpty() && a.account == unreadableAccount)
            return {std::nullopt, QStringLiteral("the collection is locked")};
        const auto it = items.find(key(a));
        return it == items.end() ? SecretLookup{} : SecretLookup{it->second, {}};
    }
    std::optional<QString> store(const SecretAttributes& a, const QString& password) override {
        if (failStores)
            return QStringLiteral("no Secret Service");
        items[key(a)] = password;
        return std::nullopt;
    }
    std::optional<QString> remove(const SecretAttributes& a) override {
        items.erase(key(a));
        return std::nullopt;
    }
    static QString key(const SecretAttributes& a) {
        return QStringLiteral("%1|%2|%3|%4|%5|%6")
            .arg(a.server)
            .arg(a.port)
            .arg(static_cast<int>(a.protocol))
            .arg(a.account, a.object, a.site);
    }
    QString passwordOf(const BaseWebsite& site) const {
        const auto it = items.find(key(SecretAttributes::of(site)));
        return it == items.end() ? QString() : it->second;
    }

    std::map<QString, QString> items;
    bool failStores = false;
    QString unreadableAccount;
};

} // namespace folvane::testsupport
