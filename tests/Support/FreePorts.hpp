// Loopback TCP ports for the servers of a test: nobody listens on them when
// they are chosen, and no other test on this machine, in this process or in
// another, is handed one of them until the test that chose it has ended. So
// a server may bind its port late, or stop and start again on it, without
// another test's server taking the port meanwhile.
//
// Each port is reserved by an abstract local socket named after it: one
// name space for every process and user of the machine's network, taken by
// bind() at once or refused, and freed by the kernel when its holder exits.
// The ports are drawn at random between the engine's fixed bases and the
// range the system takes the source ports of outgoing connections from:
// the system hands out no port there, so only a program that names one
// takes it, and on a test machine those programs are these tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vessora {

// Throws std::system_error when no socket can be bound.
std::vector<std::int64_t> freePorts(std::size_t count);

// The same, with candidates from `draw` instead of at random: how the tests
// of this support make two choosers meet on one port.
std::vector<std::int64_t> freePorts(std::size_t count, const std::function<std::int64_t()>& draw);

// An engine's port rule (StackEngine::Options::portAvailable) that offers
// only these ports, while free: environments it allocates never race other
// test runs on this machine for the ports above the engine's fixed bases.
std::function<bool(std::int64_t)> onlyPorts(const std::vector<std::int64_t>& ports);

} // namespace vessora
