#include "LenientJson.h"

namespace folvane {

Json parseLenient(const QByteArray& body) {
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
