#include "VessoraHostProtocol/Utf8.hpp"

#include <cstddef>

namespace vessora::Utf8 {

bool isValid(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t value = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3F);
        }
        if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

} // namespace vessora::Utf8
