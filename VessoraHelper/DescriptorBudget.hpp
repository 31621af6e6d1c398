// How the helper spends its descriptors. A relayed connection costs six (two
// sockets, two pipes of two ends each), and any local user can open relayed
// connections without the application. The relay therefore gets only what is
// left after a reserve for the listener, every client slot and a hosts-file
// transaction: a flood of relayed connections is shed by the relay and never
// starves a hosts request or a client's connection.
#pragma once

#include <cstddef>

namespace vessora::DescriptorBudget {

inline constexpr std::size_t perRelayPair = 6;
// Standard streams, listener, eventfd, signalfd, the spare, the relay's own
// listeners and event descriptors, a transaction's lock, hosts, staging and
// folder descriptors, and room for the one connection accepted to be refused.
inline constexpr std::size_t fixedReserve = 64;

// Raises the soft descriptor limit to the hard one (when that fails the soft
// limit stays) and returns the soft limit in force afterwards.
std::size_t raiseSoftLimit();

// The soft descriptor limit in force.
std::size_t softLimit();

// How many relayed connections fit under `limit` next to `clientSlots`
// client connections and the fixed reserve, at most `wanted`.
std::size_t relayPairs(std::size_t limit, std::size_t clientSlots, std::size_t wanted);

} // namespace vessora::DescriptorBudget
