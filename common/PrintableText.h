#pragma once

#include <QString>

namespace folvane {

// `text` as one line that cannot pass for more: every control character (and the line and paragraph
// separators and the direction overrides, which a terminal or log viewer may act on) is written as an
// escape ("\n", "\x1b", "\u2028"). Everything else, backslashes included, stays as it is, so escaping an
// escaped line changes nothing. Texts from a site (its messages, template names) reach logs, the command
// line and the helper's log, which the application reads line by line.
QString printableLine(const QString& text);

} // namespace folvane
