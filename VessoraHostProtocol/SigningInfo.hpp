// What the running program's signature says about it. On Linux the team
// identifier is the one compiled into the build (VESSORA_TEAM_ID), and the
// "hardened runtime" stands for an installed program nobody but root can
// change: the program file is owned by root and neither group nor others may
// write it. There is no entitlement dictionary, so getTaskAllow is absent.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vessora {

struct SigningInfo {
    std::optional<std::string> teamIdentifier;
    bool hardenedRuntime = false;
    // The "com.apple.security.get-task-allow" entitlement when it is a boolean.
    std::optional<bool> getTaskAllow;

    // The signing information of the program file at `program`; none when the
    // file cannot be examined.
    static std::optional<SigningInfo> ofProgram(const std::filesystem::path& program);

    // The signing information of the running program ("/proc/self/exe").
    static std::optional<SigningInfo> current();
};

} // namespace vessora
