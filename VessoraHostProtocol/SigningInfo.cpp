#include "VessoraHostProtocol/SigningInfo.hpp"

#include <sys/stat.h>

namespace vessora {

std::optional<SigningInfo> SigningInfo::ofProgram(const std::filesystem::path& program) {
    struct stat status {};
    if (::stat(program.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    SigningInfo info;
    info.teamIdentifier = VESSORA_TEAM_ID;
    info.hardenedRuntime = status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return info;
}

std::optional<SigningInfo> SigningInfo::current() {
    return ofProgram("/proc/self/exe");
}

} // namespace vessora
