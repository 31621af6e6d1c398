#include "VessoraCore/Updates/SystemVersion.hpp"

namespace vessora {

std::optional<SystemVersion> SystemVersion::running() {
    return std::nullopt;
}

} // namespace vessora
