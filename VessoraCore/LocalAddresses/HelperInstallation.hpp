// Where `cmake --install` puts the programs local host setup depends on: the
// application itself, the privileged helper and the helper's systemd service
// and socket units. installed() is the build's own install prefix; tests lay
// out the same tree under a folder of their own with under().
#pragma once

#include <filesystem>

namespace vessora {

struct HelperInstallation {
    std::filesystem::path application; // bin/Vessora
    std::filesystem::path helper;      // libexec/vessora/VessoraHelper
    std::filesystem::path serviceUnit; // lib/systemd/system/vessora.host-service.service
    std::filesystem::path socketUnit;  // lib/systemd/system/vessora.host-service.socket

    static HelperInstallation under(const std::filesystem::path& prefix);
    static HelperInstallation installed();
};

} // namespace vessora
