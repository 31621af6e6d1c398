// The error the host-service library throws: one English sentence, unchanged.
// The library never translates its sentences; a caller that wants them
// translated looks what() up itself.
#pragma once

#include <stdexcept>
#include <string>

namespace vessora {

class HostServiceError : public std::runtime_error {
public:
    explicit HostServiceError(const std::string& sentence) : std::runtime_error(sentence) {}

    // The sentences both programs throw and answer with.
    static constexpr const char* invalidConfiguration = "Invalid local host configuration.";
    static constexpr const char* invalidHostname =
        "Use a local hostname such as project.test (letters, numbers and hyphens).";
    static constexpr const char* unsignedProgram =
        "Local host setup requires the signed release of Vessora installed system-wide.";
    static constexpr const char* hostsSectionDamaged =
        "The Vessora hosts section is damaged. Restore it before continuing.";
    static constexpr const char* hostnameTaken =
        "A hostname is already present in another hosts entry. Choose a different name.";
    static constexpr const char* portsUnavailable =
        "Ports 80 or 443 are unavailable. Stop the other web server or use URLs with port numbers.";
};

} // namespace vessora
