// The bounded wait of the tests: true as soon as `condition` holds, false
// once `limit` has passed without it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vessora {

inline bool becomes(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace vessora
