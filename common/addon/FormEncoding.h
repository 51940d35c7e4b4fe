#pragma once

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace folvane {

using FormFields = std::vector<std::pair<QString, QString>>;

// application/x-www-form-urlencoded body: pairs in ascending order of key, key and value each
// percent-escaped as a URI query component (UTF-8), so "&", "=", "+", blanks and non-ASCII survive.
QByteArray formEncode(FormFields fields);

} // namespace folvane
