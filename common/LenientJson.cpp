#include "LenientJson.h"

namespace folvane {

Json parseLenient(const QByteArray& body) {
    Json parsed = Json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    // Two returns rather than a conditional, which would copy the whole document.
    if (parsed.is_discarded())
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
