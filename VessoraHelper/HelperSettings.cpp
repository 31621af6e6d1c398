#include "VessoraHelper/HelperSettings.hpp"

#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <stdexcept>

namespace vessora {

HelperSettings HelperSettings::installed() {
    HelperSettings settings;
    settings.socketPath = std::string(HostServiceWire::defaultSocketPath);
    settings.clientProgram = VESSORA_CLIENT_PROGRAM;
    settings.signing = SigningInfo::current();
    return settings;
}

void HelperSettings::validate() const {
    if (!hosts.folder.is_absolute() || !socketPath.is_absolute() || !clientProgram.is_absolute())
        throw std::invalid_argument("helper paths must be absolute");
    if (maxConnections == 0 || maxConnectionsPerUser == 0)
        throw std::invalid_argument("the helper must accept at least one connection");
    if (idleLimit <= std::chrono::milliseconds::zero())
        throw std::invalid_argument("the helper must give connections time for a request");
}

} // namespace vessora
