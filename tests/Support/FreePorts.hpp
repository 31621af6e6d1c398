// Loopback TCP ports nobody listens on right now, all different from each
// other: every port stays bound until the whole set is chosen, so one call
// never hands out the same port twice. They are picked at random between
// the engine's fixed bases and the range the system takes outgoing
// connections' source ports from, so no connection on the machine can take
// one before the caller binds it; another test picking at random may, but
// seldom, and tests keep that window short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vessora {

// Throws std::system_error when no socket can be bound.
std::vector<std::int64_t> freePorts(std::size_t count);

// An engine's port rule (StackEngine::Options::portAvailable) that offers
// only these ports, while free: environments it allocates never race other
// test runs on this machine for the ports above the engine's fixed bases.
std::function<bool(std::int64_t)> onlyPorts(const std::vector<std::int64_t>& ports);

} // namespace vessora
