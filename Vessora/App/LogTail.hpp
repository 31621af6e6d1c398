// The end of a growing log file as the user sees it: its last N characters
// (grapheme clusters, not bytes). Only the end of the file is read, in
// chunks that grow until they hold enough characters, so a long install log
// costs the same on every poll. Invalid UTF-8 shows as U+FFFD; a missing or
// unreadable file gives the empty text. Never throws.
//
// Only what the file gained past `start` (its size when the reader began
// watching) counts; a file now shorter than `start` counts from its
// beginning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vessora::LogTail {

std::string lastCharacters(const std::filesystem::path& file, std::size_t characters,
                           std::uintmax_t start = 0);

} // namespace vessora::LogTail
