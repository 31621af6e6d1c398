// Unicode rules for texts the user types (names, folder paths), on UTF-8.
// Every function takes bytes; a text that is not valid UTF-8 (overlong forms,
// surrogates and truncated sequences included) is reported by isValidUTF8(),
// and containsControl() counts it as containing a control character, so
// rules built on it refuse such text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vessora::UnicodeText {

bool isValidUTF8(std::string_view text);

// True when the text holds a code point of general category Cc or Cf, or is
// not valid UTF-8.
bool containsControl(std::string_view text);

// The text without leading and trailing White_Space code points (blanks,
// tabs, line breaks, no-break and other Unicode spaces). Bytes that do not
// decode count as ordinary characters.
std::string trimmed(std::string_view text);

// Full Unicode upper case (root locale); bytes that do not decode become
// U+FFFD first. ASCII text takes a shortcut with the same result.
std::string uppercased(std::string_view text);

// Characters as the user sees them (extended grapheme clusters).
std::size_t characterCount(std::string_view text);

// Key for case- and diacritic-insensitive comparison: canonical
// decomposition, nonspacing marks dropped, full case folding, recomposed.
// "Café" and "CAFE" give the same key.
std::string folded(std::string_view text);

} // namespace vessora::UnicodeText
