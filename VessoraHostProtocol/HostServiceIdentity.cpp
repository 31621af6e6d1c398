#include "VessoraHostProtocol/HostServiceIdentity.hpp"

#include "VessoraHostProtocol/HostServiceError.hpp"

#include <algorithm>

namespace vessora::HostServiceIdentity {

std::string teamID() {
    return teamID(SigningInfo::current());
}

std::string teamID(const std::optional<SigningInfo>& info) {
    const auto fail = [] { throw HostServiceError(HostServiceError::unsignedProgram); };
    if (!info || !info->teamIdentifier)
        fail();
    const std::string& team = *info->teamIdentifier;
    const bool wellFormed = team.size() == 10 && std::all_of(team.begin(), team.end(), [](char c) {
                                return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                            });
    if (!wellFormed || !info->hardenedRuntime || info->getTaskAllow == true)
        fail();
    return team;
}

std::string requirement(std::string_view identifier, std::string_view team) {
    std::string text = "anchor apple generic and identifier \"";
    text += identifier;
    text += "\" and certificate leaf[subject.OU] = \"";
    text += team;
    text += "\" and certificate leaf[field.1.2.840.113635.100.6.1.13] exists and "
            "!entitlement[\"com.apple.security.get-task-allow\"] exists";
    return text;
}

} // namespace vessora::HostServiceIdentity
