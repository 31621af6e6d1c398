// The leading words of one SQL statement as the server reads them, enough to
// tell what it does. Blanks and comments yield nothing: "#" up to the line's
// end, also right after a word, "--" followed by a blank, a control byte or
// the end, and "/* */". The executable comments MariaDB runs ("/*!" and
// "/*M!", each with optional version digits) yield the words inside them,
// except those of version 999999, which no server runs (the sandbox line
// that mariadb-dump writes first reaches the server so). A backtick-quoted
// name is one token without its quotes; any other token is a run of bytes
// above 0x20 up to one of "();/`#" or a "--" comment. Apostrophes and double
// quotes are ordinary bytes here, so a name quoted with them keeps its
// quotes. Collection stops once 12 or more tokens are held; bytes that are
// not UTF-8 become U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vessora::SQLDumpTokens {

inline constexpr std::size_t enough = 12;

// `quotedNames`: the server's ANSI_QUOTES mode, where "..." is a name as
// `...` is.
std::vector<std::string> tokens(std::string_view bytes, bool quotedNames = false);
// The first `count` tokens of those (perhaps a few more), when no more are needed.
std::vector<std::string> first(std::string_view bytes, std::size_t count, bool quotedNames = false);
// Every token, for a statement whose whole text matters.
std::vector<std::string> all(std::string_view bytes, bool quotedNames = false);

// The server's "--" comment at `at`: two hyphens and a blank, a control
// byte or the end of the text. It may follow a word directly.
bool opensDashComment(std::string_view bytes, std::size_t at);

} // namespace vessora::SQLDumpTokens
