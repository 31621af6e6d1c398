#include "VessoraCore/LocalAddresses/HelperInstallation.hpp"

#include "VessoraHostProtocol/HostServiceIdentity.hpp"

#include <string>

namespace vessora {

HelperInstallation HelperInstallation::under(const std::filesystem::path& prefix) {
    const std::string unit(HostServiceIdentity::label);
    const std::filesystem::path units = prefix / VESSORA_SYSTEMD_UNITDIR;
    return HelperInstallation{
        prefix / VESSORA_INSTALL_BINDIR / "Vessora",
        prefix / VESSORA_INSTALL_LIBEXECDIR / "vessora" / "VessoraHelper",
        units / (unit + ".service"),
        units / (unit + ".socket"),
    };
}

HelperInstallation HelperInstallation::installed() {
    return under(VESSORA_INSTALL_PREFIX);
}

} // namespace vessora
