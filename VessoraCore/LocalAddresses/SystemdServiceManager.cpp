#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <cstdlib>
#include <map>
#include <sstream>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

// How long a password prompt may stay open.
constexpr double approvalTimeout = 600;
// pkexec's exit statuses for a dismissed prompt and a refused authentication.
constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorized = 127;

// What a user without systemd or polkit reads instead of a launch error.
constexpr const char* unavailable =
    "Local addresses need the system service manager (systemd) and polkit’s pkexec; without "
    "them your environments keep working on 127.0.0.1 with their ports.";

bool executable(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

fs::path program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path && *path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty() || folder.front() != '/')
            continue;
        const fs::path candidate = fs::path(folder) / name;
        if (executable(candidate))
            return candidate;
    }
    return fs::path("/usr/bin") / name;
}

} // namespace

SystemdServiceManager::SystemdServiceManager(std::string unit, fs::path bootedMarker)
    : unit_(std::move(unit)), bootedMarker_(std::move(bootedMarker)) {}

ServiceStatus SystemdServiceManager::statusFromShow(const std::string& output) {
    std::map<std::string, std::string> properties;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto equals = line.find('='); equals != std::string::npos)
            properties[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return statusFromStates(properties["LoadState"], properties["UnitFileState"],
                            properties["ActiveState"]);
}

ServiceStatus SystemdServiceManager::statusFromStates(const std::string& load,
                                                      const std::string& file,
                                                      const std::string& active) {
    if (load != "loaded" && load != "masked")
        return ServiceStatus::notFound;
    const bool enabled = file == "enabled" || file == "enabled-runtime" || file == "linked" ||
                         file == "linked-runtime";
    if (!enabled)
        return ServiceStatus::notRegistered;
    if (active == "active" || active == "reloading")
        return ServiceStatus::enabled;
    return ServiceStatus::requiresApproval;
}

ServiceStatus SystemdServiceManager::status() {
    try {
        CommandOptions options;
        options.timeout = 10;
        const CommandResult result = Command::run(
            program("systemctl"), {"show", "--property=LoadState,UnitFileState,ActiveState", unit_},
            options);
        if (result.status != 0)
            return ServiceStatus::notFound;
        return statusFromShow(result.output);
    } catch (const std::exception&) {
        return ServiceStatus::notFound;
    }
}

void SystemdServiceManager::privileged(const std::vector<std::string>& systemctlArguments) {
    std::error_code error;
    const fs::path pkexec = program("pkexec");
    const fs::path systemctl = program("systemctl");
    if (!fs::is_directory(bootedMarker_, error) || !executable(pkexec) || !executable(systemctl))
        throw ServiceManagerError(ServiceManagerError::Code::failed, L10n::text(unavailable));
    std::vector<std::string> arguments{systemctl.string()};
    arguments.insert(arguments.end(), systemctlArguments.begin(), systemctlArguments.end());
    CommandOptions options;
    options.timeout = approvalTimeout;
    CommandResult result;
    try {
        result = Command::run(pkexec, arguments, options);
    } catch (const std::exception& failure) {
        throw ServiceManagerError(ServiceManagerError::Code::failed,
                                  L10n::text(unavailable) + "\n" + failure.what());
    }
    if (result.status == 0)
        return;
    if (result.status == pkexecDismissed || result.status == pkexecNotAuthorized)
        throw ServiceManagerError(ServiceManagerError::Code::notApproved,
                                  result.failureMessage("pkexec"));
    throw ServiceManagerError(ServiceManagerError::Code::failed,
                              result.failureMessage("systemctl"));
}

void SystemdServiceManager::registerService() {
    privileged({"enable", "--now", unit_});
}

void SystemdServiceManager::unregisterService() {
    privileged({"disable", "--now", unit_});
}

void SystemdServiceManager::openApproval() {
    try {
        registerService();
    } catch (const ServiceManagerError&) {
    }
}

} // namespace vessora
