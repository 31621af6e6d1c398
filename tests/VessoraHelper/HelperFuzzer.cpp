// libFuzzer target for what the helper runs on untrusted bytes: the request
// decoder (odd first byte) and the hosts-section editor (even first byte,
// whose bits pick the user and the names). Beyond not crashing, it checks
// that a valid request survives its own JSON form and that the editor is
// idempotent and can take its section out and put it back unchanged.
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void decoder(std::string_view bytes) {
    vessora::HostServiceRequest request;
    try {
        request = vessora::HostServiceRequest::fromJSON(bytes);
    } catch (const vessora::HostServiceDecodingError&) {
        return;
    }
    try {
        request.validate();
    } catch (const vessora::HostServiceError&) {
        return;
    }
    if (!(vessora::HostServiceRequest::fromJSON(request.toJSON()) == request))
        std::abort();
}

void editor(std::uint8_t selector, std::string_view text) {
    static const char* const candidates[] = {"shop.test", "api.shop.local", "my-app.localhost"};
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        if (selector & (2 << i))
            names.emplace_back(candidates[i]);
    }
    const std::uint32_t user = 500u + (selector >> 4);
    std::string once;
    try {
        once = vessora::ManagedHosts::replacing(text, user, names);
    } catch (const vessora::HostServiceError&) {
        return;
    }
    if (vessora::ManagedHosts::replacing(once, user, names) != once)
        std::abort();
    const std::string removed = vessora::ManagedHosts::replacing(once, user, {});
    if (vessora::ManagedHosts::replacing(removed, user, names) != once)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1)
        decoder(rest);
    else
        editor(data[0], rest);
    return 0;
}
