#include "VessoraHostProtocol/HostServiceRequest.hpp"

#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>

namespace vessora {
namespace {

const nlohmann::json& required(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        throw HostServiceDecodingError(HostServiceDecodingError::missing);
    return *found;
}

[[noreturn]] void corrupt() {
    throw HostServiceDecodingError(HostServiceDecodingError::corrupt);
}

} // namespace

HostServiceRequest::HostServiceRequest(std::vector<std::string> names, bool ports)
    : version(1), hostnames(std::move(names)), standardPorts(ports) {}

void HostServiceRequest::validate() const {
    if (version != 1 || hostnames.size() > maxHostnames)
        throw HostServiceError(HostServiceError::invalidConfiguration);
    const std::unordered_set<std::string_view> distinct(hostnames.begin(), hostnames.end());
    if (distinct.size() != hostnames.size() || (standardPorts && hostnames.empty()))
        throw HostServiceError(HostServiceError::invalidConfiguration);
    for (const auto& name : hostnames)
        LocalHostname::validate(name);
}

std::string HostServiceRequest::toJSON() const {
    nlohmann::ordered_json object;
    object["version"] = version;
    object["hostnames"] = hostnames;
    object["standardPorts"] = standardPorts;
    try {
        return object.dump();
    } catch (const nlohmann::json::type_error&) { // a name that is not UTF-8
        throw HostServiceError(HostServiceError::invalidConfiguration);
    }
}

HostServiceRequest HostServiceRequest::fromJSON(std::string_view json) {
    nlohmann::json object;
    try {
        object = nlohmann::json::parse(json.begin(), json.end());
    } catch (const nlohmann::json::exception&) { // also out_of_range: a number too large
        corrupt();
    }
    if (!object.is_object())
        corrupt();

    HostServiceRequest request;
    const auto& version = required(object, "version");
    if (!version.is_number_integer())
        corrupt();
    if (version.is_number_unsigned() &&
        version.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        corrupt();
    request.version = version.get<std::int64_t>();

    const auto& hostnames = required(object, "hostnames");
    if (!hostnames.is_array())
        corrupt();
    request.hostnames.reserve(hostnames.size());
    for (const auto& name : hostnames) {
        if (!name.is_string())
            corrupt();
        request.hostnames.push_back(name.get<std::string>());
    }

    const auto& standardPorts = required(object, "standardPorts");
    if (!standardPorts.is_boolean())
        corrupt();
    request.standardPorts = standardPorts.get<bool>();
    return request;
}

} // namespace vessora
