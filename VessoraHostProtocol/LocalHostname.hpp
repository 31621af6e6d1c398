// The rules for a local hostname such as "shop.test": what a typed name is
// stored as, and which stored names the hosts file and the router accept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vessora::LocalHostname {

// The longest valid name, in bytes.
inline constexpr std::size_t maxLength = 253;

// No text, or a text that is empty once white space and line breaks are
// trimmed from both ends, gives no result; otherwise the trimmed text with
// ASCII letters lower-cased (names with other letters are refused anyway).
std::optional<std::string> normalized(std::optional<std::string> text);

// Throws HostServiceError::invalidHostname unless the text is its own
// normalized form, at most 253 bytes, has at least two dot-separated labels of
// 1 to 63 bytes from a-z, 0-9 and "-" (not first or last), and ends in
// "test", "local" or "localhost".
void validate(const std::string& text);

} // namespace vessora::LocalHostname
