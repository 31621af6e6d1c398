#include "VessoraCore/LocalAddresses/LocalHostSetup.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceIdentity.hpp"

#include <sys/stat.h>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;

bool sameFile(const fs::path& first, const fs::path& second) {
    std::error_code error;
    const fs::path a = fs::canonical(first, error);
    if (error)
        return false;
    const fs::path b = fs::canonical(second, error);
    return !error && a == b;
}

bool ownedByRoot(const fs::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 && status.st_uid == 0;
}

} // namespace

LocalHostSetup::LocalHostSetup()
    : LocalHostSetup(Options{HelperInstallation::installed(),
                             std::make_shared<SystemdServiceManager>(), nullptr}) {}

LocalHostSetup::LocalHostSetup(Options options) : options_(std::move(options)) {}

LocalHostSetup& LocalHostSetup::standard() {
    static LocalHostSetup setup;
    return setup;
}

std::shared_ptr<UserDefaults> LocalHostSetup::defaults() const {
    return options_.defaults ? options_.defaults : UserDefaults::standard();
}

const std::string& LocalHostSetup::revision() const {
    std::call_once(revisionOnce_, [this] {
        try {
            const HelperInstallation& files = options_.installation;
            revision_ =
                Sha256::hex(PrivateFile::read(files.helper) + PrivateFile::read(files.serviceUnit) +
                            PrivateFile::read(files.socketUnit));
        } catch (const std::exception&) {
            revision_ = "missing";
        }
    });
    return revision_;
}

ServiceStatus LocalHostSetup::status() const {
    return options_.manager->status();
}

bool LocalHostSetup::needsRefresh() const {
    const auto stored = defaults()->value(revisionKey);
    if (!stored || !stored->is_string())
        return true;
    return stored->get<std::string>() != revision();
}

void LocalHostSetup::requireInstalledProgram() const {
    try {
        HostServiceIdentity::teamID(SigningInfo::ofProgram(options_.runningProgram));
    } catch (const HostServiceError& error) {
        throw VessoraError(L10n::text(error.what()));
    }
    if (!sameFile(options_.runningProgram, options_.installation.application) ||
        !ownedByRoot(options_.runningProgram))
        throw VessoraError(L10n::text(
            "Install the signed Vessora release system-wide to enable local host setup."));
}

bool LocalHostSetup::awaitingApproval(const ServiceManagerError& error, ServiceStatus status) {
    return status == ServiceStatus::requiresApproval &&
           error.code() == ServiceManagerError::Code::notApproved;
}

void LocalHostSetup::registerHelper() {
    requireInstalledProgram();
    ServiceManager& manager = *options_.manager;
    if (needsRefresh()) {
        const ServiceStatus current = manager.status();
        if (current == ServiceStatus::enabled || current == ServiceStatus::requiresApproval) {
            manager.unregisterService();
            // Give the manager time to let the old helper go before the new one.
            std::this_thread::sleep_for(options_.refreshPause);
        }
    }
    const ServiceStatus current = manager.status();
    if (current != ServiceStatus::enabled && current != ServiceStatus::requiresApproval) {
        try {
            manager.registerService();
        } catch (const ServiceManagerError& error) {
            if (!awaitingApproval(error, manager.status()))
                throw;
        }
    }
    defaults()->set(revisionKey, revision());
}

void LocalHostSetup::unregister() {
    options_.manager->unregisterService();
}

void LocalHostSetup::openApproval() {
    options_.manager->openApproval();
}

} // namespace vessora
