#include "WebsiteInUse.h"

#include <cstdint>

namespace folvane {

QString stableHashText(const QString& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char byte : text.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return QString::number(static_cast<std::int64_t>(hash));
}

} // namespace folvane
