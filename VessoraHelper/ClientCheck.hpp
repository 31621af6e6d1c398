// Who is on the other end of an accepted connection. A client is accepted
// only when it does not run as root and its process runs the expected
// program: /proc/PID/exe names that path and is the same file, owned by root
// and writable by nobody else. The process is pinned with a pidfd and its
// start time is read before and after, so a pid reused meanwhile by another
// process cannot pass. The process must also live in the helper's own user
// namespace: inside a new one a single user holds thousands of subordinate
// uids, each of which would count as a user of its own (own connection
// share, own hosts section). A desktop session that itself runs in a user
// namespace therefore cannot set up local addresses; that is accepted.
//
// This identifies the installed application; it is no boundary against code
// running as the same user: a library injected into that program, or a
// debugger attached to it, passes the check. What the helper grants a local
// user must therefore be safe for any program of that user.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace vessora::ClientCheck {

// Who the kernel says connected: its effective ids when it called connect.
struct Peer {
    std::uint32_t userID = 0;
    pid_t pid = 0;
};

// The peer on the connected socket `fd`, or none when it cannot be told.
// Cheap: what a connection may be refused for before it is examined.
std::optional<Peer> peerOf(int fd);

// Opens a file under /proc for reading: a std::ifstream. Tests pass their
// own to see which files a check reads, which no run's timing shows.
using OpenFile = std::function<std::unique_ptr<std::istream>(const std::filesystem::path&)>;
std::unique_ptr<std::istream> openFile(const std::filesystem::path& path);

// True when `peer` is an acceptable client. This is the costly part: it
// reads the peer's entries in /proc.
bool accepted(const Peer& peer, const std::filesystem::path& program,
              const OpenFile& open = openFile);

// The effective user id of an acceptable client on the connected socket
// `fd`, or none when the connection must be refused.
std::optional<std::uint32_t> acceptedUser(int fd, const std::filesystem::path& program);

// The start time of process `pid` in clock ticks since boot, or none. Read
// from the thread-group leader's own entry, /proc/PID/task/PID/stat: the
// process-wide /proc/PID/stat sums over every thread, which a client with
// thousands of them turns into milliseconds per read. The leader's own start
// is the process's start.
std::optional<std::uint64_t> startTime(pid_t pid, const OpenFile& open = openFile);

// The file startTime(pid) reads.
std::filesystem::path statFile(pid_t pid);

// The start time from an opened stat file; none when it cannot be read, as
// when the process ended after the file was opened.
std::optional<std::uint64_t> startTimeIn(std::istream& stat);

} // namespace vessora::ClientCheck
