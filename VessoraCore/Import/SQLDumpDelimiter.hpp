// The client command that changes the statement delimiter, as dumps write it
// around procedure and trigger bodies: a line that, trimmed of white space,
// begins with "DELIMITER " (one space, any ASCII letter case) followed by
// the new delimiter. Only the first examinedLine bytes of a line are looked
// at.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vessora::SQLDumpDelimiter {

inline constexpr std::size_t examinedLine = 256;
inline constexpr std::size_t longest = 16;

bool isCommand(std::string_view line);

// The delimiter a command line sets: the rest after "DELIMITER ", trimmed.
// Throws VessoraError ("The dump uses an unsupported SQL delimiter.") unless
// it is 1 to 16 bytes of UTF-8 without letters, numbers, white space,
// quotes, backticks or backslashes.
std::string delimiter(std::string_view line);

} // namespace vessora::SQLDumpDelimiter
