#include "VessoraCore/Foundation/Uuid.hpp"

#include <array>
#include <openssl/rand.h>
#include <stdexcept>

namespace vessora::Uuid {

namespace {

constexpr std::array<std::size_t, 4> hyphenPositions{8, 13, 18, 23};

bool isHyphenPosition(std::size_t index) {
    for (std::size_t position : hyphenPositions) {
        if (index == position) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string random() {
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        throw std::runtime_error("The system random generator failed.");
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes[index] >> 4]);
        text.push_back(digits[bytes[index] & 0x0F]);
    }
    return text;
}

std::optional<std::string> parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    std::string canonical;
    canonical.reserve(36);
    for (std::size_t index = 0; index < text.size(); ++index) {
        char c = text[index];
        if (isHyphenPosition(index)) {
            if (c != '-') {
                return std::nullopt;
            }
            canonical.push_back('-');
        } else if (c >= '0' && c <= '9') {
            canonical.push_back(c);
        } else if (c >= 'a' && c <= 'f') {
            canonical.push_back(c);
        } else if (c >= 'A' && c <= 'F') {
            canonical.push_back(static_cast<char>(c - 'A' + 'a'));
        } else {
            return std::nullopt;
        }
    }
    return canonical;
}

} // namespace vessora::Uuid
