#include "FormEncoding.h"

#include <algorithm>

namespace folvane {

QByteArray formEncode(FormFields fields) {
    std::stable_sort(fields.begin(), fields.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArray body;
    for (const auto& [key, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        // Only the unreserved characters stay as they are; everything else, "+" included, is escaped.
        body += key.toUtf8().toPercentEncoding() + '=' + value.toUtf8().toPercentEncoding();
    }
    return body;
}

} // namespace folvane
