// The sentence a call throws, or the empty text when it throws nothing.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace vessora {

inline std::string thrownMessage(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

} // namespace vessora
