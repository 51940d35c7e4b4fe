#include "LenientJson.h"

#include <cstring>

namespace folvane {

namespace {

// How many bytes a sequence starting with `lead` has; 0 when no sequence starts with it.
int sequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether `byte` may follow `held` (a sequence's lead and the bytes after it so far): overlong forms,
// surrogates and code points beyond U+10FFFF are refused at their second byte.
bool continues(const QByteArray& held, unsigned char byte) {
    if (held.size() > 1)
        return byte >= 0x80 && byte <= 0xBF;
    const auto lead = static_cast<unsigned char>(held.front());
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    return byte >= low && byte <= high;
}

// Whether any of the eight bytes at `bytes` is a quote, a backslash or not ASCII (a word at a time: a byte
// equal to c makes the word XOR c in every byte hold a zero byte, which the borrow test finds).
bool holdsSpecialByte(const char* bytes) {
    constexpr quint64 ones = 0x0101010101010101, highs = 0x8080808080808080;
    quint64 word = 0;
    std::memcpy(&word, bytes, sizeof word);
    const auto zeroByte = [](quint64 v) { return (v - ones) & ~v & highs; };
    return ((word & highs) | zeroByte(word ^ (ones * '"')) | zeroByte(word ^ (ones * '\\'))) != 0;
}

} // namespace

void Utf8Repair::emitBad(QByteArray& out, char byte) const {
    if (mode_ == InvalidText::replace) {
        out += "\xEF\xBF\xBD";
        return;
    }
    out += "\\u0000";
    out += QByteArray(1, byte).toHex();
}

void Utf8Repair::take(QByteArray& out, char byte) {
    const auto b = static_cast<unsigned char>(byte);
    if (place_ != Place::inString || (b < 0x80 && sequence_.isEmpty())) {
        out += byte;
        if (place_ == Place::escaped)
            place_ = Place::inString;
        else if (byte == '"')
            place_ = place_ == Place::outside ? Place::inString : Place::outside;
        else if (byte == '\\' && place_ == Place::inString)
            place_ = Place::escaped;
        return;
    }
    if (!sequence_.isEmpty()) {
        if (continues(sequence_, b)) {
            sequence_ += byte;
            if (sequence_.size() == sequenceLength(static_cast<unsigned char>(sequence_.front()))) {
                out += sequence_;
                sequence_.clear();
            }
            return;
        }
        for (const char held : std::as_const(sequence_))
            emitBad(out, held);
        sequence_.clear();
        take(out, byte);
        return;
    }
    if (sequenceLength(b) == 0)
        emitBad(out, byte);
    else
        sequence_ += byte;
}

QByteArray Utf8Repair::push(QByteArrayView chunk) {
    QByteArray out;
    out.reserve(chunk.size() + sequence_.size());
    const char* at = chunk.begin();
    while (at != chunk.end()) {
        // ASCII other than quotes and backslashes changes nothing, outside an escape and a sequence: such
        // runs (nearly all of a template list) are copied whole.
        if (place_ != Place::escaped && sequence_.isEmpty()) {
            const char* run = at;
            while (chunk.end() - run >= 8 && !holdsSpecialByte(run))
                run += 8;
            while (run != chunk.end() && static_cast<unsigned char>(*run) < 0x80 && *run != '"' &&
                   *run != '\\')
                ++run;
            out.append(at, run - at);
            if (run == chunk.end())
                break;
            at = run;
        }
        take(out, *at++);
    }
    return out;
}

QByteArray Utf8Repair::finish() {
    QByteArray out;
    for (const char held : std::as_const(sequence_))
        emitBad(out, held);
    sequence_.clear();
    return out;
}

namespace {

Json parseText(const QByteArray& body) {
    // Nothing deeper is ever built: copying or destroying a document nested a hundred thousand levels deep
    // recurses as deep and ends the process.
    bool tooDeep = false;
    const Json::parser_callback_t depthBound = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth <= maxJsonDepth)
            return true;
        tooDeep = true;
        return false;
    };
    Json parsed = Json::parse(body.constData(), body.constData() + body.size(), depthBound, false);
    // Two returns rather than a conditional, which would copy the whole document.
    if (parsed.is_discarded() || tooDeep)
        return Json();
    return parsed;
}

} // namespace

Json parseLenient(const QByteArray& body, InvalidText invalid) {
    // Valid text, nearly always, is read as it is: a template list of hundreds of megabytes is not copied.
    if (QByteArrayView(body).isValidUtf8())
        return parseText(body);
    Utf8Repair repair(invalid);
    QByteArray repaired = repair.push(body);
    repaired += repair.finish();
    return parseText(repaired);
}

const Json* member(const Json& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<QString> stringValue(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value || !value->is_string())
        return std::nullopt;
    return QString::fromStdString(value->get_ref<const std::string&>());
}

std::optional<bool> boolValue(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value || !value->is_boolean())
        return std::nullopt;
    return value->get<bool>();
}

std::optional<qint64> integerValue(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value || !value->is_number_integer())
        return std::nullopt;
    return value->is_number_unsigned() ? static_cast<qint64>(value->get<std::uint64_t>())
                                       : value->get<qint64>();
}

} // namespace folvane
