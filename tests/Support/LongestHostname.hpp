// A hostname of the full 253 bytes the hostname rules allow: three labels of
// the longest length, one shorter, then "test".
#pragma once

#include <string>

namespace vessora {

inline std::string longestHostname() {
    const std::string label(63, 'x');
    return label + "." + label + "." + label + "." + std::string(56, 'y') + ".test";
}

} // namespace vessora
