// The single pass over a SQL dump that splits it into statements the way the
// MariaDB command-line client does and writes it out again, with each
// statement passed through SQLDumpStatement::adapt().
//
// Splitting: a statement ends at the current delimiter (";" until a
// DELIMITER command line changes it) outside quotes and comments.
//   - '...' and "..." may hold a backslash escape and a doubled quote;
//     inside `...` a backslash is an ordinary byte and only a doubled
//     backtick stays inside.
//   - "#" and "-- " (two hyphens and a byte up to 0x20) open a comment up to
//     the line feed; "/*" opens one up to "*/". The executable comments
//     "/*!" and "/*M!" are statement text to the client, so their insides
//     are scanned like any other (a quoted "*/" does not end them, a
//     delimiter inside ends the statement); only the sandbox line counts as
//     a comment: "/*!" or "/*M!", the version 999999, ASCII blanks and
//     "\-", all within 512 bytes.
//   - A DELIMITER command is recognised at the start of a statement, or at a
//     line start when only blanks and comments precede it in the statement
//     (judged on its head). A command line longer than the examined 256
//     bytes is refused as an unsupported delimiter.
// The output holds every byte of the input, with the byte-order mark
// dropped and the statements adapt() replaces exchanged whole (from the
// previous delimiter to their own) for the replacement; the delimiter after
// them stays.
//
// Memory stays bounded whatever the size of the dump or of one statement:
// the input passes through one window, the statement head (at most
// SQLDumpStatement::headLimit bytes from its first significant byte) is the
// only copy kept, and a replaced statement is taken back by truncating the
// output.
//
// scan() throws VessoraError with a looked-up sentence for a statement of
// more than 64 MiB up to its delimiter or the end of the data ("A SQL
// statement exceeds 64 MB. Export smaller INSERT batches."),
// an unsupported delimiter, data that ends inside a quote, a block comment or
// an executable comment (the server would refuse it),
// a dump without a counted statement, and whatever adapt() refuses; a
// database-selecting statement that runs on past its name is thrown as
// UnendedSelection with the input offset of its first significant byte, for
// the caller to name its line. Errors of the source and the sink pass through. After a failure the
// sink holds a partial output.
#pragma once

#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vessora::SQLDumpScanner {

inline constexpr std::uint64_t statementLimit = std::uint64_t(64) << 20;
inline constexpr std::size_t defaultWindow = std::size_t(1) << 20;
inline constexpr std::size_t smallestWindow = 2048;

struct UnendedSelection {
    std::uint64_t offset = 0;
};

class Source {
public:
    virtual ~Source() = default;
    // Up to `capacity` bytes into `into`; 0 only at the end of the data.
    virtual std::size_t read(char* into, std::size_t capacity) = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(std::string_view bytes) = 0;
    // Drops everything after the first `size` bytes written so far.
    virtual void truncate(std::uint64_t size) = 0;
};

// `window` is the input buffer's size (at least smallestWindow); it changes
// neither the output nor the result.
SQLDump::Summary scan(Source& source, Sink& sink, std::string_view database,
                      std::size_t window = defaultWindow);

} // namespace vessora::SQLDumpScanner
