// A comparable picture of a folder tree: every item's relative path mapped to
// its kind and content ("dir", "file:<bytes>", "link:<target>"), so a test can
// check that a tree came through an operation exactly as it was.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace vessora {

using FolderSnapshot = std::map<std::string, std::string>;

// An empty snapshot when nothing is at `folder`.
FolderSnapshot snapshotFolder(const std::filesystem::path& folder);

} // namespace vessora
