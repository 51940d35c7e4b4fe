// Add-on answers: any bytes read as a document or as null, never deeper than the bound, and the keyed
// reads the answer handlers make never fail on whatever the document holds.
#include "FuzzCheck.h"
#include "LenientJson.h"

#include <cstdint>
#include <vector>

using namespace folvane;
using fuzz::check;

namespace {

// Deepest nesting of containers in the document; iterative like the reader must be.
int depthOf(const Json& root) {
    int deepest = 0;
    std::vector<std::pair<const Json*, int>> open{{&root, 0}};
    while (!open.empty()) {
        const auto [value, depth] = open.back();
        open.pop_back();
        if (!value->is_structured())
            continue;
        deepest = std::max(deepest, depth + 1);
        for (const Json& item : *value)
            open.emplace_back(&item, depth + 1);
    }
    return deepest;
}

void readMembers(const Json& object) {
    if (!object.is_object())
        return;
    for (const auto& [key, value] : object.items()) {
        (void)value;
        (void)member(object, key.c_str());
        (void)stringValue(object, key.c_str());
        (void)boolValue(object, key.c_str());
        (void)integerValue(object, key.c_str());
    }
    for (const char* key : {"success", "message", "id", "is_special", "template", "folders"})
        (void)stringValue(object, key), (void)integerValue(object, key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Json parsed = parseLenient(body);
    check(depthOf(parsed) <= maxJsonDepth, "a document nests deeper than the bound");

    // What the handlers do with an answer: copy it, read its members, show a part of it as text.
    const Json copy = parsed;
    check(copy == parsed, "a copy differs from its document");
    readMembers(parsed);
    if (const Json* inner = member(parsed, "template"))
        readMembers(*inner);
    const std::string text = parsed.dump();
    check(parseLenient(QByteArray::fromStdString(text)) == parsed, "a document does not read back as itself");
    return 0;
}
