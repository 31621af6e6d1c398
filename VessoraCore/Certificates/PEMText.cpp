#include "VessoraCore/Certificates/PEMText.hpp"

#include "VessoraCore/Foundation/Base64.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"

namespace vessora::PEMText {

namespace {

void removeAll(std::string& text, std::string_view marker) {
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at))
        text.erase(at, marker.size());
}

bool isBase64Symbol(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
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
        if (isBase64Symbol(c))
            symbols.push_back(c);
    }
    return Base64::decode(symbols);
}

} // namespace vessora::PEMText
