#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

namespace folvane::shell {

// What an "add_site" deep link asks for; missing query items give empty fields.
struct DeepLinkRequest {
    QString title, url, username;
    bool operator==(const DeepLinkRequest&) const = default;
};

// folvane://add_site?title=…&url=…&username=… → the request; nothing for another scheme or host or a URL
// that cannot be parsed. "+" in the title reads as a blank; %-escapes are decoded in every item.
std::optional<DeepLinkRequest> parseDeepLink(const QString& url);

} // namespace folvane::shell

Q_DECLARE_METATYPE(folvane::shell::DeepLinkRequest)
