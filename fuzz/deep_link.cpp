// Deep links: any text is either refused or read as a request, and a request written as a link with
// every item percent-encoded reads back as the same request.
#include "FuzzCheck.h"
#include "shell/DeepLink.h"

#include <QUrl>

#include <cstdint>

using namespace folvane::shell;
using folvane::fuzz::check;

namespace {

QString encoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString link = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<DeepLinkRequest> request = parseDeepLink(link);
    if (!request)
        return 0;
    const QString written = QStringLiteral("folvane://add_site?title=") + encoded(request->title) +
                            QStringLiteral("&url=") + encoded(request->url) + QStringLiteral("&username=") +
                            encoded(request->username);
    const std::optional<DeepLinkRequest> reread = parseDeepLink(written);
    check(reread.has_value(), "a request written as a link is refused");
    check(*reread == *request, "a request written as a link reads back as another");
    return 0;
}
