// Waits until one of a few descriptors becomes readable, or a time limit
// passes, on the monotonic clock. Interrupted waits resume with the time
// that is left.
#pragma once

#include <chrono>
#include <vector>

namespace vessora::DescriptorWait {

// One flag per descriptor, in order: true for each that is readable (or
// reports an error or hang-up). All false once `limit` has passed. A
// negative descriptor is skipped and never reported.
std::vector<bool> readable(const std::vector<int>& descriptors,
                           std::chrono::steady_clock::duration limit);

} // namespace vessora::DescriptorWait
