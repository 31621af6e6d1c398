#include "VessoraCore/Foundation/DescriptorWait.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>

namespace vessora::DescriptorWait {

std::vector<bool> readable(const std::vector<int>& descriptors,
                           std::chrono::steady_clock::duration limit) {
    using Clock = std::chrono::steady_clock;
    std::vector<pollfd> entries;
    entries.reserve(descriptors.size());
    for (const int descriptor : descriptors)
        entries.push_back(pollfd{descriptor, POLLIN, 0});
    std::vector<bool> result(descriptors.size(), false);

    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max<Clock::duration>(deadline - Clock::now(), Clock::duration::zero()));
        const timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                               static_cast<long>(left.count() % 1000000000)};
        const int ready = ::ppoll(entries.data(), entries.size(), &timeout, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0)
            for (std::size_t index = 0; index < entries.size(); ++index)
                result[index] = entries[index].fd >= 0 && entries[index].revents != 0;
        return result;
    }
}

} // namespace vessora::DescriptorWait
