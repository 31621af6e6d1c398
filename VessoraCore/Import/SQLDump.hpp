// Preparing a project's SQL dump for its new environment. prepare() checks
// the file, splits it into statements in one pass (SQLDumpScanner), refuses
// what cannot load into one application database, maps the dump's database
// to `database` and writes the result to `destination`, a new private file
// (mode 0600; whatever was at that path is replaced). The engine's first
// start later feeds that file to the MariaDB client.
//
// Throws, in this order of checks:
//   - DatabaseName::validate's error for an invalid `database`;
//   - the system error (std::filesystem::filesystem_error) when the source
//     cannot be opened or its attributes read;
//   - VessoraError "Choose a nonempty, uncompressed .sql file of up to
//     512 MB." unless the source's extension is "sql" in any letter case,
//     it is a regular file and holds 1 to 536,870,912 bytes (checked on its
//     size and again on the bytes read);
//   - VessoraError naming the file when it looks compressed or binary, or
//     is an HTML or XML file (SQLDumpMarkup);
//   - VessoraError "Could not prepare private command input." when the
//     output file cannot be created;
//   - SQLDumpScanner::scan's refusals; those it reports by their place (a
//     selection that runs on past its name, the client's charset command,
//     a backslash before a quote where the dump may have turned ANSI_QUOTES
//     or NO_BACKSLASH_ESCAPES on, a database statement after a ";" within
//     one) as a VessoraError that names their line;
//   - filesystem_error for a failed read, write or close. A failed write
//     (a full disk) or close is never reported as a prepared file.
// After a refusal the partial output stays; the import removes its staging
// folder.
#pragma once

#include "VessoraCore/Import/SQLDumpSqlMode.hpp"
#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace vessora::SQLDump {

inline constexpr std::uint64_t largestFile = std::uint64_t(512) << 20;

Summary prepare(const std::filesystem::path& source, const std::filesystem::path& destination,
                std::string_view database, SQLDumpSqlMode::Release release = {});

} // namespace vessora::SQLDump
