// The helper's registration with systemd: its socket unit enabled and started
// ("systemctl enable --now") through pkexec, so the user approves the change
// with an administrator's password. The status is read with "systemctl show"
// and needs no privileges.
//
// pkexec and systemctl are looked up in the PATH of the running program
// (tests put stand-ins there), falling back to /usr/bin. Every call blocks
// until its command has ended; call them from a worker thread.
#pragma once

#include "VessoraCore/LocalAddresses/ServiceManager.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace vessora {

class SystemdServiceManager : public ServiceManager {
public:
    // The socket unit that starts the helper on demand.
    static constexpr const char* socketUnit = "vessora.host-service.socket";

    // systemd runs when this folder exists (tests pass one of their own).
    static constexpr const char* bootedFolder = "/run/systemd/system";

    explicit SystemdServiceManager(std::string unit = socketUnit,
                                   std::filesystem::path bootedMarker = bootedFolder);

    // Unit not loadable: notFound; enabled and listening: enabled; enabled
    // but not listening (stopped or failed): requiresApproval; otherwise
    // notRegistered.
    ServiceStatus status() override;
    // pkexec systemctl enable --now UNIT. A dismissed or failed
    // authentication is ServiceManagerError::Code::notApproved. Without a
    // running systemd, pkexec or systemctl nothing runs and the error says
    // that local addresses need them.
    void registerService() override;
    // pkexec systemctl disable --now UNIT; the helper's service stops with it.
    void unregisterService() override;
    // The enabling command again, its failure ignored.
    void openApproval() override;

    // The state "systemctl show" printed, mapped as status() does.
    static ServiceStatus statusFromShow(const std::string& output);
    // The unit's LoadState, UnitFileState and ActiveState, mapped as status() does.
    static ServiceStatus statusFromStates(const std::string& load, const std::string& file,
                                          const std::string& active);

private:
    void privileged(const std::vector<std::string>& systemctlArguments);

    std::string unit_;
    std::filesystem::path bootedMarker_;
};

} // namespace vessora
