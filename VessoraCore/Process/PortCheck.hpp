// Proves that a TCP port can be bound on 127.0.0.1 before it is handed out or
// a server is started on it. The probe socket never listens and is closed
// before returning.
#pragma once

#include <cstdint>

namespace vessora::PortCheck {

// Throws VessoraError: "Port %@ is already in use. Choose a different port."
// when the port is taken, "Could not check port %@: %@." for any other
// failure (a number outside 0-65535 included), "Socket check failed." when no
// socket can be made.
void requireAvailable(std::int64_t port);

// The same check as a flag: a port that cannot be checked counts as taken.
bool isAvailable(std::int64_t port);

// Whether a server accepts TCP connections on 127.0.0.1 at this port. The
// probe connects without waiting and closes at once, sending nothing; a
// port that cannot be checked does not accept.
bool accepts(std::int64_t port);

} // namespace vessora::PortCheck
