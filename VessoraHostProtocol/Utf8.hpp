// Strict UTF-8 check: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
#pragma once

#include <string_view>

namespace vessora::Utf8 {

bool isValid(std::string_view text);

} // namespace vessora::Utf8
