// Moves that never replace what is already at the destination. The rename is
// one step (renameat2 with RENAME_NOREPLACE), so after a crash the item is in
// exactly one of the two places; both folders are flushed afterwards so the
// move is on disk before anything that depends on it is written.
#pragma once

#include <filesystem>

namespace vessora::FileMove {

// Throws filesystem_error (for example "File exists", or "Invalid
// cross-device link" when the two paths are on different file systems).
void move(const std::filesystem::path& from, const std::filesystem::path& to);

// Flushes a folder's entries to disk; errors are ignored.
void syncFolder(const std::filesystem::path& folder);

} // namespace vessora::FileMove
