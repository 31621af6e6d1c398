// The white-space-and-newline set of the platform (Unicode White_Space) on
// UTF-8 text: trimming and splitting into fields. Bytes that do not decode as
// UTF-8 count as ordinary characters, never as white space.
#pragma once

#include <string_view>
#include <vector>

namespace vessora::UnicodeWhitespace {

// U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000.
bool contains(char32_t character);

// The text without leading and trailing white space and line breaks.
std::string_view trimmed(std::string_view text);

// The text split at white space and line breaks, empty fields dropped.
std::vector<std::string_view> fields(std::string_view text);

} // namespace vessora::UnicodeWhitespace
