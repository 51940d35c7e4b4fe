#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

namespace folvane {

// Add-on answers keep their key order: the tree builder walks them in the order they were sent.
using Json = nlohmann::ordered_json;

// Far deeper than any answer of the add-on nests (a site's groups nest a few levels).
inline constexpr int maxJsonDepth = 256;

// What becomes of bytes inside a JSON text that are not UTF-8. The reader would otherwise refuse the
// whole answer for one bad byte in one name.
enum class InvalidText {
    replace, // each bad byte reads as U+FFFD: a message stays readable
    mark     // each bad byte reads as U+0000 and its two hex digits: a name so marked is no usable file name,
             // and the log can still show the bytes it had
};

// Rewrites the bytes inside JSON strings that are not UTF-8, as the text streams by; everything else passes
// unchanged (bad bytes outside a string or right after a backslash leave the text as unreadable as it was).
class Utf8Repair {
public:
    explicit Utf8Repair(InvalidText mode) : mode_(mode) {}
    // The repaired text of `chunk`; a sequence cut at the chunk's end is held for the next one.
    QByteArray push(QByteArrayView chunk);
    // Whatever is still held, at the end of the text.
    QByteArray finish();

private:
    void emitBad(QByteArray& out, char byte) const;
    void take(QByteArray& out, char byte);

    enum class Place { outside, inString, escaped };
    InvalidText mode_;
    Place place_ = Place::outside;
    QByteArray sequence_; // the beginning of a multi-byte sequence inside a string
};

// A body that is not JSON, or nests deeper than maxJsonDepth, reads as an empty (null) value, never as an
// error. Bad UTF-8 inside strings is read as `invalid` says.
Json parseLenient(const QByteArray& body, InvalidText invalid = InvalidText::replace);

// Keyed reads where a missing key or a value of another type reads as absent.
const Json* member(const Json& object, const char* key);
std::optional<QString> stringValue(const Json& object, const char* key);
std::optional<bool> boolValue(const Json& object, const char* key);
std::optional<qint64> integerValue(const Json& object, const char* key);

} // namespace folvane
