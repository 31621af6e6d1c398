// A new random (version 4) UUID in its 36-character upper-case text form,
// from the kernel's random source. Names staging files and connection leases.
#pragma once

#include <string>

namespace vessora {

// Throws std::system_error when the kernel gives no random bytes.
std::string randomUUID();

} // namespace vessora
