// The one request the application sends the helper: every hostname the user's
// hosts section shall hold and whether 127.0.0.1:80 and :443 shall be relayed.
// Its JSON form is an object with exactly "version" (integer), "hostnames"
// (array of strings) and "standardPorts" (boolean); decoding requires all
// three with exactly these types and ignores any other key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

// JSON that is not a request; what() is the sentence the helper answers with.
class HostServiceDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    static constexpr const char* corrupt =
        "The data couldn’t be read because it isn’t in the correct format.";
    static constexpr const char* missing = "The data couldn’t be read because it is missing.";
};

struct HostServiceRequest {
    static constexpr std::size_t maxHostnames = 200;

    std::int64_t version = 1;
    std::vector<std::string> hostnames;
    bool standardPorts = false;

    HostServiceRequest() = default;
    HostServiceRequest(std::vector<std::string> hostnames, bool standardPorts);

    // First failing rule wins: version 1; at most 200 names; no duplicates;
    // standardPorts only with names (all HostServiceError::invalidConfiguration);
    // then each name in order through LocalHostname::validate.
    void validate() const;

    // Compact JSON, keys in the order version, hostnames, standardPorts. Names
    // that are not UTF-8 throw HostServiceError::invalidConfiguration.
    std::string toJSON() const;

    // Throws HostServiceDecodingError. The version is taken unchanged.
    static HostServiceRequest fromJSON(std::string_view json);

    bool operator==(const HostServiceRequest&) const = default;
};

} // namespace vessora
