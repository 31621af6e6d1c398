// The fixed names both programs agree on, the signing team of the running
// program, and the code-signing requirement text each side demands of the
// other.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "VessoraHostProtocol/SigningInfo.hpp"

namespace vessora::HostServiceIdentity {

inline constexpr std::string_view label = "vessora.host-service";
inline constexpr std::string_view plist = "vessora.host-service.plist";
inline constexpr std::string_view appIdentifier = "vessora.Vessora";
inline constexpr std::string_view helperIdentifier = "vessora.HostHelper";

// The team identifier of the running program, read anew on every call:
// teamID(SigningInfo::current()).
std::string teamID();

// The team identifier that `info` reports: it must exist, be 10 characters
// from A-Z and 0-9, come with the hardened runtime and without get-task-allow
// set to true. Otherwise throws HostServiceError::unsignedProgram.
std::string teamID(const std::optional<SigningInfo>& info);

// anchor apple generic and identifier "<identifier>" and certificate
// leaf[subject.OU] = "<team>" and ...; the arguments are inserted unescaped.
std::string requirement(std::string_view identifier, std::string_view team);

} // namespace vessora::HostServiceIdentity
