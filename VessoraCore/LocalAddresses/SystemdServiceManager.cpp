#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"

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

fs::path program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path && *path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty() || folder.front() != '/')
            continue;
        const fs::path candidate = fs::path(folder) / name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return fs::path("/usr/bin") / name;
}

} // namespace

SystemdServiceManager::SystemdServiceManager(std::string unit) : unit_(std::move(unit)) {}

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
    std::vector<std::string> arguments{program("systemctl").string()};
    arguments.insert(arguments.end(), systemctlArguments.begin(), systemctlArguments.end());
    CommandOptions options;
    options.timeout = approvalTimeout;
    CommandResult result;
    try {
        result = Command::run(program("pkexec"), arguments, options);
    } catch (const std::exception& error) {
        throw ServiceManagerError(ServiceManagerError::Code::failed, error.what());
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
