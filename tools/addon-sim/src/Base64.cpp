#include "Base64.h"

#include <array>
#include <cstdint>

namespace folvane::sim {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> makeDecodeTable() {
    std::array<int, 256> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
    }
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t chunk = static_cast<unsigned char>(bytes[i]) << 16 |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                    static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[chunk >> 18 & 63];
        out += alphabet[chunk >> 12 & 63];
        out += alphabet[chunk >> 6 & 63];
        out += alphabet[chunk & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t chunk = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) {
            chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += alphabet[chunk >> 18 & 63];
        out += alphabet[chunk >> 12 & 63];
        out += rest == 2 ? alphabet[chunk >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t chunk = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const bool padded = last && j >= 4 - padding;
            const int value = padded ? 0 : decodeTable[static_cast<unsigned char>(text[i + j])];
            if (value < 0) {
                return std::nullopt;
            }
            chunk = chunk << 6 | static_cast<std::uint32_t>(value);
        }
        out += static_cast<char>(chunk >> 16 & 0xff);
        if (!last || padding < 2) {
            out += static_cast<char>(chunk >> 8 & 0xff);
        }
        if (!last || padding < 1) {
            out += static_cast<char>(chunk & 0xff);
        }
    }
    return out;
}

} // namespace folvane::sim
