// The site record: URL cleaning and the secret-store attributes derived from it.
#include "QtPrinters.h"
#include "core/BaseWebsite.h"

#include <gtest/gtest.h>
#include <tuple>

using folvane::BaseWebsite;
using Protocol = BaseWebsite::InternetProtocol;

TEST(SiteRecord, CleansTypedURLsByTheirPrefix) {
    const std::pair<const char*, const char*> table[] = {
        {"http://www.example.com/admin.php", "http://www.example.com/admin.php"},
        {"https://www.example.com/admin.php", "https://www.example.com/admin.php"},
        {"www.example.com/admin.php", "http://www.example.com/admin.php"},
        {"http://example.com/admin.php", "http://www.example.com/admin.php"},
        {"https://example.com/admin.php", "http://www.example.com/admin.php"},
        {"example.com/admin.php", "http://www.example.com/admin.php"},
        {"HTTP://H", "http://www.HTTP://H"},
        // Nothing else changes: blanks, case, query and trailing slash stay.
        {" example.com/A?x=1&m=2/", "http://www. example.com/A?x=1&m=2/"},
        {"", ""},
    };
    for (const auto& [typed, cleaned] : table) {
        EXPECT_EQ(BaseWebsite::cleanedURL(typed), cleaned) << typed;
        EXPECT_EQ(BaseWebsite(typed).url, cleaned) << typed;
    }
    const BaseWebsite site("www.example.com");
    EXPECT_EQ(site.cleanURL(""), "http://www.example.com");
    EXPECT_EQ(site.cleanURL("other.org"), "http://www.other.org");
}

// The server, port and protocol come from the cleaned URL: https without "www." is cleaned to http.
TEST(SiteRecord, DerivesTheSecretStoreAttributesFromTheCleanedURL) {
    const std::tuple<const char*, const char*, int, Protocol> cases[] = {
        {"www.example.com", "www.example.com", 80, Protocol::http},
        {"https://www.example.com:8443/cp", "www.example.com", 8443, Protocol::https},
        {"https://example.com", "www.example.com", 80, Protocol::http},
        {"http://www.exa mple.com:port/", "", 80, Protocol::http},
    };
    for (const auto& [typed, server, port, protocol] : cases) {
        const BaseWebsite site(typed);
        EXPECT_EQ(std::tuple(site.server, site.port, site.internetProtocol),
                  std::tuple(server, port, protocol))
            << typed;
    }
}
