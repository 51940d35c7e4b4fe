#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace folvane::sim {

// Key order matters to the client's tree builder, so every answer keeps insertion order.
using Json = nlohmann::ordered_json;

// Template content and names are arbitrary bytes; invalid UTF-8 turns into U+FFFD instead of failing the
// answer.
inline std::string dumpJson(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace folvane::sim
