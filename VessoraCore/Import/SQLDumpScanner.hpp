// The single pass over a SQL dump that splits it into statements the way the
// MariaDB command-line client does (SQLDumpClientText) and writes it out
// again, with each statement passed through SQLDumpStatement::adapt() as the
// text the client sends for it.
//
// Splitting, in the client's order at each byte outside quotes and block
// comments: a backslash command ("\-" is run and left out, "\N" is text,
// "\C" is refused, any other stops the client), the current delimiter (";"
// until a DELIMITER command changes it), "#" and "--" comments, "/*"
// comments, quotes.
//   - '...' and "..." may hold a backslash escape and a doubled quote;
//     inside `...` a backslash is an ordinary byte and only a doubled
//     backtick stays inside. The client reads a backslash inside "..." as an
//     ordinary byte while the server reports ANSI_QUOTES, and inside both
//     while it reports NO_BACKSLASH_ESCAPES: the scanner follows the mode the
//     dump's statements set (SQLDumpSqlMode) and refuses a backslash before
//     the quote byte where the mode may be either.
//   - "#" opens a comment up to the line feed anywhere; "--" does so before
//     any statement text whatever follows it, and within a statement when a
//     blank or NUL byte follows it or the line ends. While no statement is
//     pending, a line whose first byte is NUL is dropped too.
//   - "/*" opens a comment up to "*/", except that on a line with a "/*!"
//     the first "*/" only ends the "/*!". The executable comments "/*!" and
//     "/*M!" are statement text to the client, so their insides are scanned
//     like any other (a quoted "*/" does not end them, a delimiter inside
//     ends the statement).
//   - A ";" that is not the delimiter (in a DELIMITER block) ends a statement
//     for the server, which the client has run several from one text: the
//     text after it is read as a statement of its own and refused when it
//     does with a database what no single statement may
//     (SQLDumpStatement::checkWithin).
//   - A DELIMITER command is a line met while no statement is pending that
//     after blanks begins with the command's name, or a statement ended by
//     the delimiter whose text does (SQLDumpDelimiter). A command line longer
//     than the client keeps is refused as an unsupported delimiter.
// A DEFINER clause naming an account in a statement that makes a view,
// trigger, routine or event is blanked in the output (SQLDumpDefiner), so
// the object belongs to the account that loads the dump.
// The output holds every byte of the input, with the byte-order mark
// dropped (a second one stays for the client, which drops it in turn) and the statements adapt()
// replaces exchanged whole (from the previous delimiter to their own) for the replacement; the
// delimiter after them stays.
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
// UnendedSelection, and the client command "\C" (which changes how the
// client reads the rest) as CharsetCommand, each with the input offset
// where it stands, for the caller to name its line. Errors of the source
// and the sink pass through. After a failure the sink holds a partial
// output.
#pragma once

#include "VessoraCore/Import/SQLDumpSqlMode.hpp"
#include "VessoraCore/Import/SQLDumpSummary.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace vessora::SQLDumpScanner {

inline constexpr std::uint64_t statementLimit = std::uint64_t(64) << 20;
inline constexpr std::size_t defaultWindow = std::size_t(1) << 20;
inline constexpr std::size_t smallestWindow = 2048;

struct UnendedSelection {
    std::uint64_t offset = 0;
};

struct CharsetCommand {
    std::uint64_t offset = 0;
};

// After a ";" that is not the delimiter, a further statement that the
// server runs on its own and that selects, creates or alters a database.
struct SelectionWithin {
    std::uint64_t offset = 0;
};

// A backslash before a double quote inside "..." where the dump may have
// turned the server's ANSI_QUOTES mode on (SQLDumpSqlMode): the client ends
// the text there or not depending on it.
struct AmbiguousQuote {
    std::uint64_t offset = 0;
    std::uint64_t since = 0; // the statement after which the mode may be either
};

// A backslash that ends a line inside '...' or "...": the client sends a
// NUL byte for the line feed and puts a line feed over the next line's first
// byte in its input buffer, so what it sends cannot be read from the dump.
// Refused where the client may read the backslash as an escape.
struct EscapedLineEnd {
    std::uint64_t offset = 0;
};

// Likewise a backslash before the opening quote byte inside '...' or "..."
// where the dump may have turned NO_BACKSLASH_ESCAPES on.
struct AmbiguousEscape {
    std::uint64_t offset = 0;
    std::uint64_t since = 0;
};

// In a multibyte character set the dump chose for the server (SET NAMES
// gbk and the like), a character at `offset` whose last byte is a backslash
// or backtick that the client reads on its own.
struct MultibyteTrail {
    std::uint64_t offset = 0;
};

// Within one text with several statements, the one at `offset` changed a
// flag of the mode the client read the whole text with, and the one at
// `piece` holds what the server then reads apart from the client.
struct ModeWithin {
    std::uint64_t offset = 0;
    std::uint64_t piece = 0;
};

// Given the text the client sends for each statement, as far as it is read
// (the first SQLDumpStatement::headLimit bytes of the statement); for tests.
using Observer = std::function<void(std::string_view sent)>;

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
    // Writes `bytes` over as many written from `offset` on.
    virtual void overwrite(std::uint64_t offset, std::string_view bytes) = 0;
};

// `window` is the input buffer's size (at least smallestWindow); it changes
// neither the output nor the result.
SQLDump::Summary scan(Source& source, Sink& sink, std::string_view database,
                      std::size_t window = defaultWindow, const Observer& observer = {},
                      SQLDumpSqlMode::Release release = {});

} // namespace vessora::SQLDumpScanner
