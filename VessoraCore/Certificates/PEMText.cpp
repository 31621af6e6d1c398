#include "VessoraCore/Certificates/PEMText.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"

#include <cstdint>

namespace vessora::PEMText {

namespace {

void removeAll(std::string& text, std::string_view marker) {
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at))
        text.erase(at, marker.size());
}

int base64Value(char c) {
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

std::optional<std::string> certificateBytes(std::string_view text) {
    if (!UnicodeText::isValidUTF8(text))
        return std::nullopt;
    std::string content(text);
    removeAll(content, "-----BEGIN CERTIFICATE-----");
    removeAll(content, "-----END CERTIFICATE-----");

    std::string symbols;
    for (char c : content) {
        if (base64Value(c) >= 0 || c == '=')
            symbols.push_back(c);
    }
    std::size_t data = symbols.find('=');
    if (data == std::string::npos)
        data = symbols.size();
    std::size_t padding = symbols.size() - data;
    if (symbols.size() % 4 != 0 || padding > 2 ||
        symbols.find_first_not_of('=', data) != std::string::npos)
        return std::nullopt;

    std::string bytes;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < data; ++i) {
        buffer = ((buffer << 6) | static_cast<std::uint32_t>(base64Value(symbols[i]))) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

} // namespace vessora::PEMText
