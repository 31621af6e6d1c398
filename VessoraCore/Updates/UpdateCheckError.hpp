// Any fault of the release feed's answer: status, final address, type, size,
// JSON form or a broken rule. It carries one translated sentence; the
// transport's own errors and cancellation are never turned into it.
#pragma once

#include "VessoraCore/Foundation/VessoraError.hpp"

namespace vessora {

class UpdateCheckError : public VessoraError {
public:
    // "Could not verify the release information. Try again later." in the
    // chosen interface language.
    static UpdateCheckError invalidResponse();

private:
    using VessoraError::VessoraError;
};

} // namespace vessora
