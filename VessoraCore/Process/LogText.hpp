// Reading a command's log back as text.
// whole(): the file as UTF-8, or the empty text when it is not valid UTF-8.
// tail(): its last `limit` bytes with every invalid sequence replaced by
// U+FFFD, so a character cut at the start gives one replacement character.
// Read errors are thrown as std::filesystem::filesystem_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vessora::LogText {

std::string whole(const std::filesystem::path& file);
std::string tail(const std::filesystem::path& file, std::size_t limit);

// The same, limited to what the file gained past `start` (a size taken
// earlier): a file now shorter than `start` was replaced or emptied, so it
// counts from its beginning.
std::string wholeSince(const std::filesystem::path& file, std::uintmax_t start);
std::string tailSince(const std::filesystem::path& file, std::uintmax_t start, std::size_t limit);

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::string replacingInvalidUTF8(std::string_view bytes);

} // namespace vessora::LogText
