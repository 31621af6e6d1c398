// A feed request ended because its caller asked it to stop. It is never
// shown: a cancelled check leaves no message.
#pragma once

#include <exception>

namespace vessora {

class UpdateCheckCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The update check was cancelled."; }
};

} // namespace vessora
