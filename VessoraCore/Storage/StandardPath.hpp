// Path forms used when paths are compared. "Standardized" is purely lexical:
// "." and ".." pieces and repeated or trailing "/" are folded away, nothing
// on disk is read. "Resolved" also replaces every symbolic link in the part
// of the path that exists.
#pragma once

#include <filesystem>
#include <system_error>

namespace vessora::StandardPath {

std::filesystem::path standardized(const std::filesystem::path& path);

// Links resolved, then standardized. A part that does not exist is kept as
// written; other errors (permissions, link loops) are reported in `error`.
std::filesystem::path resolved(const std::filesystem::path& path, std::error_code& error);

// The path without trailing "/" (the root "/" stays), and nothing else changed.
std::filesystem::path withoutTrailingSlash(const std::filesystem::path& path);

} // namespace vessora::StandardPath
