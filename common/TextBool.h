#pragma once

#include <QString>

namespace folvane {

// The switch reading used on the helper's command line: after leading blanks, an optional sign and
// leading zeros, the text is true when it starts with Y, y, T, t or a digit 1 to 9.
bool textBoolValue(const QString& text);

} // namespace folvane
