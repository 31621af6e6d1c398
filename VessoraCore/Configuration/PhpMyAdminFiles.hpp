// The environment's own copy of phpMyAdmin in "tools/phpmyadmin". The
// formula's files are never changed: prepare() copies them whole, puts a
// two-line "config.inc.php" (mode 0600) in the copy that loads the
// environment's "config/phpmyadmin.inc.php", and swaps the new copy in for the
// old one. The marker "config/phpmyadmin-source" holds the source folder of
// the copy in place and is written last, so any failure makes the next start
// copy again.
#pragma once

#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>

namespace vessora::PhpMyAdminFiles {

// Installs or refreshes the copy of `source`. Does nothing when the marker
// names `source`, the copy has its "index.php" and its loader is current.
// Throws VessoraError for an incomplete source (nothing changed), and the
// file system's errors as they come; the old copy stays in place on failure.
void prepare(const StackPaths& paths, const std::filesystem::path& source);

} // namespace vessora::PhpMyAdminFiles
