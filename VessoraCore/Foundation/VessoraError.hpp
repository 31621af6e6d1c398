// The engine's one error type. The carried text is a finished sentence,
// already looked up in the user's language where it is thrown; what()
// returns it unchanged and callers show it as it is.
#pragma once

#include <stdexcept>
#include <string>

namespace vessora {

class VessoraError : public std::runtime_error {
public:
    explicit VessoraError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace vessora
