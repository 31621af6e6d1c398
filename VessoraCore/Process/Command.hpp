// Runs a short-lived program to its end and hands back its status and log.
//
// The call blocks (run it from a worker thread). The program runs with the
// shared child environment plus options.environment, standard output and
// error appended to the log, standard input from options.inputFile, else
// from options.input (through a private 0600 file that is unlinked before
// the program starts), else from /dev/null. It leads a process group of its
// own; on time-out the whole group gets SIGTERM, and SIGKILL 0.5 s later,
// and "Timed out: %@. Log: %@" is thrown. A non-zero status is no error:
// callers judge it (CommandResult::failureMessage).
//
// Without options.log a private temporary log is used and removed at the
// end. A caller's log is appended to, but the output is only what this run
// wrote (counted from the log's size when the run began; a log that became
// shorter than that counts from its start): all of it as UTF-8 (empty when
// not valid UTF-8), or with options.outputLimit its last N bytes, invalid
// sequences replaced, and outputTruncated set when the run wrote more.
#pragma once

#include "VessoraCore/Process/CommandResult.hpp"

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

struct CommandOptions {
    std::optional<std::filesystem::path> log;
    double timeout = 60; // seconds
    std::map<std::string, std::string> environment;
    std::optional<std::string> input;
    std::optional<std::filesystem::path> inputFile;
    std::optional<std::size_t> outputLimit; // bytes
};

namespace Command {

CommandResult run(const std::filesystem::path& executable,
                  const std::vector<std::string>& arguments, const CommandOptions& options = {});

} // namespace Command
} // namespace vessora
