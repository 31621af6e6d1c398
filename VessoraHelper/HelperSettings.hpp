// Everything the helper touches, so tests can point it at temporary folders,
// sockets, programs and high ports. installed() is the real system: the
// hosts file in /etc, the socket in /run/vessora, the installed Vessora
// program as the only client, ports 80 and 443.
#pragma once

#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHostProtocol/LoopbackRelay.hpp"
#include "VessoraHostProtocol/SigningInfo.hpp"

#include <cstddef>
#include <filesystem>
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

    static HelperSettings installed();

    // Throws std::invalid_argument for relative paths or no connections.
    void validate() const;
};

} // namespace vessora
