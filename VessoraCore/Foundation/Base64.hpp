// Standard Base64 (RFC 4648 alphabet with "+" and "/", "=" padding).
// Decoding is strict: only alphabet characters in whole 4-character groups,
// at most two "=" and only at the end; nothing else, not even a line break.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora::Base64 {

std::string encode(std::string_view bytes);

// Nothing when `text` breaks the rules above.
std::optional<std::string> decode(std::string_view text);

} // namespace vessora::Base64
