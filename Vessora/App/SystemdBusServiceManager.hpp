// The helper's registration with systemd, its status read over D-Bus: the
// socket unit's properties from org.freedesktop.systemd1 on the system bus,
// so the monitor's poll every two seconds starts no process. Registering
// and unregistering need the administrator's approval and go through
// SystemdServiceManager (pkexec systemctl).
//
// status() blocks for at most the call timeout; call it from a worker thread.
#pragma once

#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"

#include <QDBusConnection>
#include <QString>

#include <optional>
#include <string>

namespace vessora {

class SystemdBusServiceManager : public ServiceManager {
public:
    // Without a bus: the system bus.
    explicit SystemdBusServiceManager(std::string unit = SystemdServiceManager::socketUnit,
                                      std::optional<QDBusConnection> bus = std::nullopt);

    // A bus without systemd on it, or an unanswered call: notFound, as
    // "systemctl show" fails on a system that does not run systemd.
    ServiceStatus status() override;
    void registerService() override;
    void unregisterService() override;
    void openApproval() override;

    // systemd's object path of a unit: every byte but an ASCII letter (or a
    // digit after the first byte) written as "_" and two hexadecimal digits.
    static QString unitPath(const std::string& unit);

private:
    std::string unit_;
    std::optional<QDBusConnection> bus_;
    SystemdServiceManager commands_;
};

} // namespace vessora
