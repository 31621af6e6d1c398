// The version of the running operating system, as a release's minimum is
// compared with it. The feed names a minimum of its own platform's versions;
// this system has none to compare, so running() reports nothing and every
// newer release counts as runnable. Callers take a provider so tests can
// stand in for a system that has one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vessora {

struct SystemVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    // Nothing on this platform.
    static std::optional<SystemVersion> running();

    friend bool operator==(const SystemVersion&, const SystemVersion&) = default;
};

using SystemVersionProvider = std::function<std::optional<SystemVersion>()>;

} // namespace vessora
