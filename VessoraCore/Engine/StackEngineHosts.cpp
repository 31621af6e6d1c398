// Keeps the router and the helper in step with what runs, switches local
// addresses for the run, and the certificate operations.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <algorithm>

namespace vessora {

HostServiceRequest StackEngine::hostRequest() const {
    const bool routerRuns = router_->isRunning();
    std::lock_guard lock(mutex_);
    HostServiceRequest request;
    request.version = 1;
    for (const StackProfile& profile : profiles_) {
        if (profile.hostname)
            request.hostnames.push_back(*profile.hostname);
        const auto entry = processes_.find(profile.id);
        // The count alone: liveness is the status poll's business.
        if (profile.standardPorts && routerRuns && entry != processes_.end() &&
            entry->second.size() == 3)
            request.standardPorts = true;
    }
    return request;
}

void StackEngine::syncRouter(const std::optional<std::string>& excluding) {
    std::vector<StackProfile> routes;
    {
        std::lock_guard lock(mutex_);
        for (const StackProfile& profile : profiles_) {
            if (!profile.virtualHost || (excluding && profile.id == *excluding))
                continue;
            const auto entry = processes_.find(profile.id);
            if (entry == processes_.end() || entry->second.size() != 3)
                continue;
            if (std::all_of(entry->second.begin(), entry->second.end(),
                            [](const auto& process) { return process->isRunning(); }))
                routes.push_back(profile);
        }
    }
    if (routes.empty()) {
        router_->stop();
        return;
    }
    router_->apply(routes, brew_.prefix("nginx") / "bin" / "nginx");
}

void StackEngine::sendHostRequest() {
    {
        std::lock_guard lock(mutex_);
        if (!localHostsEnabled_)
            return;
    }
    hostClient_->apply(hostRequest());
}

void StackEngine::configureLocalHosts(bool enabled) {
    BusyGuard guard(busy_);
    if (enabled) {
        hostClient_->apply(hostRequest());
        std::lock_guard lock(mutex_);
        localHostsEnabled_ = true;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        for (const StackProfile& profile : profiles_)
            if (profile.hostname && processes_.count(profile.id))
                throw VessoraError(L10n::text(
                    "Stop environments with hostnames before removing local host setup."));
    }
    hostClient_->apply(HostServiceRequest({}, false));
    {
        std::lock_guard lock(mutex_);
        localHostsEnabled_ = false;
    }
    hostClient_->closeConnection();
}

bool StackEngine::localHostConnected() {
    {
        std::lock_guard lock(mutex_);
        if (!localHostsEnabled_)
            return false;
    }
    return hostClient_->isConnected();
}

LocalCertificateInfo StackEngine::certificateInfo(const std::string& id) const {
    // An environment whose folder is in the deletion journal has no
    // identity to read until the next launch has put it back.
    return LocalHTTPS::info(StackPaths(root_, findInPlace(id)));
}

void StackEngine::renewCertificate(const std::string& id) {
    BusyGuard guard(busy_);
    const StackProfile profile = findInPlace(id);
    if (hasProcesses(id))
        throw VessoraError(L10n::text("Stop the environment before changing its settings."));
    if (!profile.httpsEnabled)
        throw VessoraError(L10n::text("Enable local HTTPS and save the environment first."));
    LocalHTTPS::prepare(StackPaths(root_, profile), true);
}

} // namespace vessora
