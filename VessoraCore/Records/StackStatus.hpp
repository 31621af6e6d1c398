// StackStatus: what the engine reports for one environment - whether it
// runs, the status text to show, and the process id of each service it holds
// (keyed by service name).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vessora {

struct StackStatus {
    bool running = false;
    std::string description;
    std::map<std::string, std::int32_t> processes;

    bool operator==(const StackStatus&) const = default;
};

} // namespace vessora
