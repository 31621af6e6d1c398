// Everything the helper touches, so tests can point it at temporary folders,
// sockets, programs and high ports. installed() is the real system: the
// hosts file in /etc, the socket in /run/vessora, the installed Vessora
// program as the only client, ports 80 and 443.
#pragma once

#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHostProtocol/LoopbackRelay.hpp"
#include "VessoraHostProtocol/SigningInfo.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace vessora {

struct HelperSettings {
    HostsFile::Location hosts;
    std::filesystem::path socketPath;
    uid_t socketFolderOwner = 0;
    // The only program whose processes are answered.
    std::filesystem::path clientProgram;
    std::vector<RelayEndpoint> relayEndpoints = LoopbackRelay::defaultEndpoints();
    // The helper's own signature; none means it could not be examined.
    std::optional<SigningInfo> signing;
    std::size_t maxConnections = 64;
    // So that one user can crowd out only themselves. The application needs
    // one connection per running instance.
    std::size_t maxConnectionsPerUser = 4;
    // A connection that sends no request for this long is closed, unless it
    // holds the owner lease. The application sends its request right after
    // connecting and drops a connection whose request failed.
    std::chrono::milliseconds idleLimit{10000};
    // Runs before a connecting peer is examined; lets tests see which
    // connections cost an examination.
    std::function<void()> beforeClientCheck;

    static HelperSettings installed();

    // Throws std::invalid_argument for relative paths, no connections or no
    // idle time.
    void validate() const;
};

} // namespace vessora
