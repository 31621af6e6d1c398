// The client command that changes the statement delimiter, as dumps write it
// around procedure and trigger bodies. The client takes as this command a
// line it meets while no statement is under way, and a statement ended by
// the delimiter, when after blanks its text begins with the command's name
// as the client compares it (SQLDumpClientText::startsWithCommandName, so
// "DELIMITERS" counts too); the new delimiter is what follows the first word
// and its blanks, up to the next space.
//
// Preparation accepts only the plain form: "delimiter" in any ASCII letter
// case, blanks, the delimiter, blanks. Every other text the client would
// take as the command is refused, so the two never disagree about the
// delimiter in force.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vessora::SQLDumpDelimiter {

// The client keeps no more of a command's text.
inline constexpr std::size_t examinedLine = 255;
inline constexpr std::size_t longest = 16;

// Whether the client takes `text` (a line without its line feed, or the
// text a statement sends) as the command.
bool isCommand(std::string_view text);

// The delimiter the command `text` sets. For a `line` of the dump, a
// carriage return that ends it (a CRLF line end) belongs to the delimiter,
// as it does for the client; in a statement's text a space must end it. Throws VessoraError ("The
// dump uses an unsupported SQL delimiter.") for any other form than the plain one, a text longer
// than examinedLine, and a delimiter that is not 1 to 16 bytes of UTF-8 without letters, numbers,
// white space, control bytes, quotes, backticks or backslashes, beginning with an ASCII byte (the
// client never finds one that begins with a character of several bytes).
std::string delimiter(std::string_view text, bool line);

} // namespace vessora::SQLDumpDelimiter
