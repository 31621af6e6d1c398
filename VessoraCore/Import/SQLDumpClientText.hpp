// How the MariaDB command-line client reads a dump where that differs from
// the server, with the options the engine loads an import with
// (--binary-mode, comments not kept), and the text it sends to the server
// for one statement. Dump preparation splits the way the client does and
// reads each statement as the text the server receives.
//
// The client
//   - skips only the six ASCII blanks (space, \t, \n, \v, \f, \r) before a
//     statement; any other byte, a control byte too, starts one;
//   - drops "#" comments and "--" comments: "--" opens one before any
//     statement text, and within a statement when a blank or NUL byte
//     follows or the line ends there;
//   - drops plain "/* */" comments and puts a space where one separated two
//     words; executable comments ("/*!", "/*M!") are statement text, but on
//     the line of a "/*!" the first "*/" after a "/*" opened inside it only
//     ends that "/*!", not the block comment;
//   - runs the backslash command "\-" (sandbox mode) and leaves it out;
//   - reads a backslash in '...' and "..." as escaping the next byte (a
//     backslash before the line's end is dropped), except in "..." while the
//     server reports ANSI_QUOTES and in both while it reports
//     NO_BACKSLASH_ESCAPES (Start says which); `...` has no escapes;
//   - ends each line that holds statement text with a line feed, unless the
//     line's text begins with "delimiter" (its DELIMITER command check).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::SQLDumpClientText {

inline bool isBlank(int byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Whether "--" followed by `third` (-1 at the end of the data) opens a
// comment once a statement is under way.
inline bool opensDashComment(int third) {
    return third <= 0 || isBlank(third);
}

// The length of the character of several bytes that `text` begins with,
// when well formed, else 0: the client takes such a character whole.
std::size_t multibyteLength(std::string_view text);

// Whether `text` begins with the name of the client's DELIMITER command as
// the client compares it: "delimiter" in any letter case, and Latin-1's
// accented forms of its letters too (so "DÉLIMITER" in Latin-1 bytes).
bool startsWithCommandName(std::string_view text);

// The client's state where reading begins: at a statement's first
// significant byte, or after a ";" within one (SQLDumpStatement::checkWithin).
struct Start {
    bool executableLine = false; // a "/*!" opened earlier on this line
    bool space = false;          // a block comment ended just before, on this line
    bool midLine = false;        // the line holds text before, so it does not begin with a name
    // The server reports ANSI_QUOTES (a backslash inside "..." is an
    // ordinary byte) or NO_BACKSLASH_ESCAPES (so inside '...' too).
    bool ansiQuotes = false;
    bool noBackslashEscapes = false;
};

// Reads one statement's bytes as the client does, in pieces, keeping the
// first `limit` bytes of the text the client sends: comments do not count
// against the limit, so a long comment never takes the place of text.
class Reader {
public:
    Reader(Start start, std::size_t limit);

    // Reads `bytes` up to `upTo` (from the statement's first significant
    // byte, or where the last call stopped). The bytes after `upTo` are what
    // follows them in the dump: at least four, unless the data ends there.
    // Returns where reading stopped: `upTo`, or past it when a character or
    // pair of bytes reached over it.
    std::size_t read(std::string_view bytes, std::size_t upTo);

    // The text so far, at most `limit` bytes.
    std::string text() const { return text_ + line_; }
    // Whether the text goes on past `limit` bytes; then nothing more is read.
    bool cut() const { return cut_; }
    // Where the first byte of text other than blanks stands among the bytes
    // read, if any.
    std::optional<std::size_t> firstText() const { return firstText_; }

private:
    void add(std::string_view bytes);
    std::size_t plainRun(std::string_view bytes, std::size_t i, std::size_t upTo) const;
    void takeRun(std::string_view bytes, std::size_t& i, std::size_t end);
    void flush();
    void endLine();

    std::size_t limit_;
    std::string text_; // the lines added so far
    std::string line_; // this line's text not yet added to them
    bool cut_ = false;
    char quote_ = 0;
    bool blockComment_ = false;
    bool executableLine_;
    bool needSpace_;
    bool lineHasText_;      // this line's text began before the bytes read
    bool skipLine_ = false; // the rest of the line is a comment
    bool ansiQuotes_;
    bool noBackslashEscapes_;
    std::size_t consumed_ = 0;
    std::optional<std::size_t> firstText_;
};

// The text the client sends for a whole statement (its bytes without their
// delimiter, from the first significant byte), with nothing after it.
std::string sent(std::string_view statement, Start start = {});

} // namespace vessora::SQLDumpClientText
