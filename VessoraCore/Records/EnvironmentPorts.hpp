// Free ports for a new environment. Ports already reserved by existing
// records (their HTTPS port whenever set) and the router's 8088 and 8448 are
// never returned; the rest are offered to the caller's predicate, which says
// whether the port is free right now. Searches start at 8080 (HTTP), 9080
// (PHP-FPM), 13300 (MariaDB) and, when asked, 8443 (HTTPS).
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vessora::EnvironmentPorts {

struct Allocation {
    std::int64_t http = 0;
    std::int64_t php = 0;
    std::int64_t database = 0;
    std::optional<std::int64_t> https;
};

// Throws VessoraError when a search passes 65535 without a free port.
Allocation allocate(const std::vector<StackProfile>& existing, bool https,
                    const std::function<bool(std::int64_t)>& available);

} // namespace vessora::EnvironmentPorts
