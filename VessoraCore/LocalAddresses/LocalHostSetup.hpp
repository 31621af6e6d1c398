// Registration of the privileged helper with the system's service manager.
//
// The helper is registered once and lives on across runs; status() and
// needsRefresh() are read anew on every call. needsRefresh() compares the
// fingerprint of the installed helper (its program bytes followed by its
// service and socket unit files) with the one the last successful
// registerHelper() stored under "localHostSetupRevision": a changed helper or
// changed units call for registering again.
//
// registerHelper() refuses unless the running program is the installed,
// root-owned Vessora program. registerHelper(), unregister() and
// openApproval() block while the service manager works (and while the user
// answers its password prompt): call them from a worker thread.
#pragma once

#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/LocalAddresses/HelperInstallation.hpp"
#include "VessoraCore/LocalAddresses/ServiceManager.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace vessora {

class LocalHostSetup {
public:
    static constexpr const char* revisionKey = "localHostSetupRevision";

    struct Options {
        HelperInstallation installation;
        std::shared_ptr<ServiceManager> manager;
        // None: the standard user defaults at each use.
        std::shared_ptr<UserDefaults> defaults;
        std::filesystem::path runningProgram = "/proc/self/exe";
        std::chrono::milliseconds refreshPause{2000};
    };

    // The installed layout, systemd and the standard user defaults.
    LocalHostSetup();
    explicit LocalHostSetup(Options options);

    // The instance the application uses.
    static LocalHostSetup& standard();

    ServiceStatus status() const;
    bool needsRefresh() const;
    // Throws VessoraError when this program may not register the helper, and
    // the service manager's ServiceManagerError as it comes.
    void registerHelper();
    // Throws the service manager's error; the stored revision stays.
    void unregister();
    void openApproval();

    // 64 lower-case hexadecimal digits, or "missing" when a file cannot be
    // read; computed on first use and then kept.
    const std::string& revision() const;

private:
    static bool awaitingApproval(const ServiceManagerError& error, ServiceStatus status);
    std::shared_ptr<UserDefaults> defaults() const;
    void requireInstalledProgram() const;

    Options options_;
    mutable std::once_flag revisionOnce_;
    mutable std::string revision_;
};

} // namespace vessora
