#include "FormCodec.h"

#include <algorithm>

namespace folvane::sim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += plusIsSpace && c == '+' ? ' ' : c;
    }
    return out;
}

FormFields FormFields::parse(std::string_view encoded) {
    FormFields fields;
    std::size_t start = 0;
    while (start <= encoded.size()) {
        const std::size_t end = std::min(encoded.find('&', start), encoded.size());
        const std::string_view pair = encoded.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            const std::string_view key = pair.substr(0, eq);
            const std::string_view value =
                eq == std::string_view::npos ? std::string_view{} : pair.substr(eq + 1);
            fields.pairs_.emplace_back(percentDecode(key, true), percentDecode(value, true));
        }
        start = end + 1;
    }
    return fields;
}

const std::string* FormFields::find(std::string_view key) const {
    for (auto it = pairs_.rbegin(); it != pairs_.rend(); ++it) {
        if (it->first == key) {
            return &it->second;
        }
    }
    return nullptr;
}

std::string FormFields::value(std::string_view key) const {
    const std::string* found = find(key);
    return found ? *found : std::string{};
}

} // namespace folvane::sim
