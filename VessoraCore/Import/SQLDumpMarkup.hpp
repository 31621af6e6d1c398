// A web page saved as .sql (a download link that answered with a page) or a
// `mariadb-dump --xml` export: markup, not statements. No SQL text begins
// with "<" after blanks, while both of those do; read as statements such a
// file would make and start an environment only to fail on the server.
#pragma once

#include <filesystem>

namespace vessora::SQLDumpMarkup {

// Whether the open file's first content, after an optional UTF-8 byte-order
// mark and blanks (space, tab, CR, LF), is "<". Reads from offset 0 with
// pread, so the file position stays; a failed read answers false and is
// left to the dump's own read to report.
bool opensWithMarkup(int fd);

// Throws VessoraError "The file “<name>” is an HTML or XML file, not an SQL
// dump. ..." when opensWithMarkup(fd).
void check(int fd, const std::filesystem::path& source);

} // namespace vessora::SQLDumpMarkup
