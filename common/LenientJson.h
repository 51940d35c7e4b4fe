#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

namespace folvane {

// Add-on answers keep their key order: the tree builder walks them in the order they were sent.
using Json = nlohmann::ordered_json;

// Far deeper than any answer of the add-on nests (a site's groups nest a few levels).
inline constexpr int maxJsonDepth = 256;

// A body that is not JSON, or nests deeper than maxJsonDepth, reads as an empty (null) value, never as an
// error.
Json parseLenient(const QByteArray& body);

// Keyed reads where a missing key or a value of another type reads as absent.
const Json* member(const Json& object, const char* key);
std::optional<QString> stringValue(const Json& object, const char* key);
std::optional<bool> boolValue(const Json& object, const char* key);
std::optional<qint64> integerValue(const Json& object, const char* key);

} // namespace folvane
