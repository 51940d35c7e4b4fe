#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace folvane::sim {

// Standard alphabet, padded, no line breaks: the form the add-on uses for template bodies.
std::string base64Encode(std::string_view bytes);

// Strict: anything but padded standard Base64 (whitespace and line breaks included) gives nothing, so that a
// client that mangles the text (an unescaped "+" arriving as a space, say) is caught instead of silently
// storing garbage.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace folvane::sim
