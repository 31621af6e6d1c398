#include "VessoraCore/Records/EnvironmentPorts.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <set>

namespace vessora::EnvironmentPorts {

namespace {

constexpr std::int64_t highestPort = 65535;

std::int64_t search(std::int64_t start, std::set<std::int64_t>& reserved,
                    const std::function<bool(std::int64_t)>& available) {
    for (std::int64_t port = start; port <= highestPort; ++port) {
        if (reserved.count(port) == 0 && available(port)) {
            reserved.insert(port);
            return port;
        }
    }
    throw VessoraError(L10n::text("No free ports were found for a new environment."));
}

} // namespace

Allocation allocate(const std::vector<StackProfile>& existing, bool https,
                    const std::function<bool(std::int64_t)>& available) {
    std::set<std::int64_t> reserved{StackProfile::virtualHTTPPort(),
                                    StackProfile::virtualHTTPSPort()};
    for (const auto& profile : existing) {
        for (std::int64_t port : profile.reservedPorts()) {
            reserved.insert(port);
        }
    }
    Allocation allocation;
    allocation.http = search(8080, reserved, available);
    allocation.php = search(9080, reserved, available);
    allocation.database = search(13300, reserved, available);
    if (https) {
        allocation.https = search(8443, reserved, available);
    }
    return allocation;
}

} // namespace vessora::EnvironmentPorts
