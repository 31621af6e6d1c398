#include "Vessora/App/BuildInfo.hpp"

#include "VessoraHostProtocol/HostServiceIdentity.hpp"

namespace vessora {

BuildInfo BuildInfo::current() {
#if VESSORA_DEVELOPMENT_BUILD
    return developmentBuild();
#else
    return release(VESSORA_APP_VERSION, VESSORA_APP_BUILD);
#endif
}

BuildInfo BuildInfo::developmentBuild() {
    return BuildInfo{true, developmentIdentifier, "", ""};
}

BuildInfo BuildInfo::release(std::string version, std::string build) {
    return BuildInfo{false, std::string(HostServiceIdentity::appIdentifier), std::move(version),
                     std::move(build)};
}

} // namespace vessora
