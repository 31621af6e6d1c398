#include "VessoraCore/Foundation/Base64.hpp"

#include <cstdint>

namespace vessora::Base64 {
namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            const auto byte = j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u;
            group = (group << 8) | byte;
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out.push_back(j <= count ? alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=');
        }
    }
    return out;
}

std::optional<std::string> decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t data = text.size();
    while (data > 0 && text.size() - data < 2 && text[data - 1] == '=')
        --data;
    std::string bytes;
    bytes.reserve(data * 3 / 4);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < data; ++i) {
        const int symbol = value(text[i]);
        if (symbol < 0)
            return std::nullopt;
        buffer = ((buffer << 6) | static_cast<std::uint32_t>(symbol)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

} // namespace vessora::Base64
