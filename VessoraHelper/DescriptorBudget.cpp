#include "VessoraHelper/DescriptorBudget.hpp"

#include <algorithm>
#include <sys/resource.h>

namespace vessora::DescriptorBudget {

std::size_t softLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024; // the usual default, so the relay stays bounded
    return static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t raiseSoftLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return softLimit();
}

std::size_t relayPairs(std::size_t limit, std::size_t clientSlots, std::size_t wanted) {
    const std::size_t reserve = fixedReserve + clientSlots;
    if (limit <= reserve)
        return 0;
    return std::min(wanted, (limit - reserve) / perRelayPair);
}

} // namespace vessora::DescriptorBudget
