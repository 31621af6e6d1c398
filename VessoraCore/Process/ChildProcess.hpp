// How every child program is started and how its end is read.
//
// launch() runs the program with posix_spawn: explicit argv (argv[0] is the
// executable path) and envp, the given descriptors as standard input, output
// and error, every other descriptor closed, signal mask and dispositions
// reset, and the child at the head of a new process group of its own, so a
// signal sent to the group also reaches the programs it starts.
//
// environment() is what every child gets: the current environment, then
// "PATH" set to childPath, then the caller's entries over it.
#pragma once

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vessora::ChildProcess {

inline constexpr std::string_view childPath = "/home/linuxbrew/.linuxbrew/bin:/home/linuxbrew/"
                                              ".linuxbrew/sbin:/usr/bin:/bin:/usr/sbin:/sbin";

std::vector<std::string> environment(const std::map<std::string, std::string>& overrides);

// Throws std::system_error naming the executable when the program cannot be
// started (missing, not executable, ...).
pid_t launch(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, int input, int output);

// The exit code of a normal exit, the signal number for a killed process.
int terminationStatus(int waitStatus);

// A descriptor that becomes readable once the process has exited (a process
// file descriptor, close-on-exec); empty when the system offers none. `pid`
// must be an unreaped child of ours, so it cannot name another program.
UniqueFd exitDescriptor(pid_t pid);

// Waits until `descriptor` becomes readable or `limit` has passed; false on
// time-out. Without a descriptor it only sleeps, at most 10 ms, so callers
// that loop on their own check stay prompt.
bool waitForExit(const UniqueFd& descriptor, std::chrono::steady_clock::duration limit);

} // namespace vessora::ChildProcess
