// Reading a command's log back as text.
// whole(): the file as UTF-8, or the empty text when it is not valid UTF-8.
// tail(): its last `limit` bytes with every invalid sequence replaced by
// U+FFFD, so a character cut at the start gives one replacement character.
// Both read from byte `from` on (what a run appended to a shared log), or
// from the start when the file is now shorter than that.
// Read errors are thrown as std::filesystem::filesystem_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vessora::LogText {

std::string whole(const std::filesystem::path& file, std::uintmax_t from = 0);
std::string tail(const std::filesystem::path& file, std::size_t limit, std::uintmax_t from = 0);

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::string replacingInvalidUTF8(std::string_view bytes);

} // namespace vessora::LogText
