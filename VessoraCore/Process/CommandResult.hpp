// What a finished command left: its termination status (the exit code, or
// the signal number when a signal ended it) and its log as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vessora {

struct CommandResult {
    std::int32_t status = 0;
    std::string output;
    // With an output limit: the log was longer, so output is only its end.
    bool outputTruncated = false;

    // The last `count` characters (as the user sees them) of output.
    std::string outputTail(std::size_t count = 4000) const;

    // The looked-up "%@ failed (%@):\n%@" with the program's file name, the
    // status and outputTail(): how a caller reports a non-zero status.
    std::string failureMessage(std::string_view program) const;
};

} // namespace vessora
