// Moves that never replace what is already at the destination. The rename is
// one step (renameat2 with RENAME_NOREPLACE), so after a crash the item is in
// exactly one of the two places; both folders are flushed afterwards so the
// move is on disk before anything that depends on it is written.
//
// A file system that does not offer the no-replace rename (it answers
// EINVAL) gets a checked rename instead: the destination is looked at, and
// the plain rename runs only while nothing is there. That is not one step,
// but the data root's lock keeps other writers away and a Trash name is
// reserved by its info file first, so deletions keep working there.
#pragma once

#include <filesystem>

namespace vessora::FileMove {

// Throws filesystem_error (for example "File exists", or "Invalid
// cross-device link" when the two paths are on different file systems).
void move(const std::filesystem::path& from, const std::filesystem::path& to);

// The no-replace rename: 0, or -1 with errno set. Tests pass one that
// refuses as such a file system does.
using NoReplaceRename = int (*)(const char* from, const char* to);
void move(const std::filesystem::path& from, const std::filesystem::path& to,
          NoReplaceRename rename);

// Flushes a folder's entries to disk; errors are ignored.
void syncFolder(const std::filesystem::path& folder);

} // namespace vessora::FileMove
