#include "VessoraHostProtocol/UnicodeWhitespace.hpp"

#include <cstddef>

namespace vessora::UnicodeWhitespace {
namespace {

// Length in bytes of the white-space character that starts at `at`, or 0 when
// the bytes there are no white-space character.
std::size_t whitespaceLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t left = text.size() - at;
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return contains(lead) ? 1 : 0;
    std::size_t length = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else {
        return 0; // four-byte characters hold no white space; others are invalid
    }
    if (left < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (length == 3 && value < 0x800)
        return 0; // overlong
    return contains(value) ? length : 0;
}

} // namespace

bool contains(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::string_view trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t length = whitespaceLength(text, begin);
        if (length == 0)
            break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the lead byte of the last character (at most 3 bytes).
        std::size_t start = end - 1;
        while (start > begin && end - start < 3 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const std::size_t length = whitespaceLength(text, start);
        if (length == 0 || start + length != end)
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string_view> fields(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t fieldStart = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = whitespaceLength(text, at);
        if (length == 0) {
            ++at;
            continue;
        }
        if (at > fieldStart)
            result.push_back(text.substr(fieldStart, at - fieldStart));
        at += length;
        fieldStart = at;
    }
    if (text.size() > fieldStart)
        result.push_back(text.substr(fieldStart));
    return result;
}

} // namespace vessora::UnicodeWhitespace
