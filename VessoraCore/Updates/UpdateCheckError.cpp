#include "VessoraCore/Updates/UpdateCheckError.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

namespace vessora {

UpdateCheckError UpdateCheckError::invalidResponse() {
    return UpdateCheckError(
        L10n::text("Could not verify the release information. Try again later."));
}

} // namespace vessora
