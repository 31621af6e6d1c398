// The helper's listening SOCK_SEQPACKET socket: the one systemd hands over
// (LISTEN_PID/LISTEN_FDS, descriptor 3), or one the helper binds itself at a
// path whose folder only its owner may change. Both are non-blocking and
// close-on-exec.
#pragma once

#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace vessora::ListenSocket {

// Connections that may wait to be accepted, whoever made the socket (the
// socket unit's Backlog= says the same). Small on purpose: a connection
// waits behind every one queued before it, and a flood of connections
// blocked in connect() is already in line behind a full queue.
inline constexpr int backlog = 64;

// The socket passed by socket activation, or none when this process was not
// activated. Throws std::runtime_error when the passed descriptors are not
// exactly one listening Unix SOCK_SEQPACKET socket. Clears the variables.
// The socket's backlog is set to `backlog`.
std::optional<HostServiceWire::Socket> activated();

// Binds and listens at `path` (mode 0666). Its folder is created with mode
// 0755 when missing and must be a directory owned by `folderOwner` that
// nobody else may write; a stale socket at the path is replaced. Throws
// std::system_error or std::runtime_error.
HostServiceWire::Socket bound(const std::filesystem::path& path, uid_t folderOwner = 0);

} // namespace vessora::ListenSocket
