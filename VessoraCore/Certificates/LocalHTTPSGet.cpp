#include "VessoraCore/Certificates/LocalHTTPS.hpp"

#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vessora::LocalHTTPS {

namespace {

struct Address {
    std::string scheme;
    std::string host;
    std::optional<std::int64_t> port;
};

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Characters an absolute URL may hold, less "[" and "]": only IPv6 hosts use
// them, and those are never a certificate's name. Keeping them (and "{}")
// out also keeps curl's URL globbing out of play.
bool isURLCharacter(char c) {
    return isAlpha(c) || isDigit(c) ||
           std::string_view("-._~:/?#@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// Scheme, host and port of an absolute URL; nothing for a text that is no URL.
std::optional<Address> parse(std::string_view url) {
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (!isURLCharacter(url[i]))
            return std::nullopt;
        if (url[i] == '%' &&
            (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2])))
            return std::nullopt;
    }
    std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(url[0]))
        return std::nullopt;
    Address address;
    address.scheme = url.substr(0, colon);
    bool validScheme = std::all_of(address.scheme.begin(), address.scheme.end(), [](char c) {
        return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
    });
    if (!validScheme)
        return std::nullopt;
    std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != "//")
        return address;
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::size_t portColon = authority.rfind(':');
    address.host = authority.substr(0, portColon);
    if (portColon != std::string_view::npos) {
        std::string_view digits = authority.substr(portColon + 1);
        if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), isDigit))
            return std::nullopt;
        if (!digits.empty()) {
            address.port = std::stoll(std::string(digits));
            if (*address.port > 65535)
                return std::nullopt;
        }
    }
    return address;
}

std::int64_t portOf(const std::optional<std::string>& url) {
    std::optional<Address> address = url ? parse(*url) : std::nullopt;
    return address && address->port ? *address->port : 443;
}

} // namespace

std::string get(const std::string& url, const StackPaths& paths) {
    const StackProfile& profile = paths.profile();
    std::optional<Address> address = parse(url);
    if (!address || address->scheme != "https")
        throw identityError();
    if (address->host != "localhost" && address->host != "127.0.0.1" &&
        address->host != profile.hostname)
        throw identityError();
    std::int64_t port = address->port.value_or(443);
    if (port != profile.httpsPort && port != portOf(profile.httpsURL()))
        throw identityError();

    CommandOptions options;
    options.timeout = 20;
    CommandResult result = Command::run(
        "/usr/bin/curl",
        {"--silent", "--show-error", "--fail", "--noproxy", "*", "--proto", "=https",
         "--connect-timeout", "2", "--max-time", "15", "--cacert", paths.tlsCertificate().string(),
         "--resolve", address->host + ":" + std::to_string(port) + ":127.0.0.1", url},
        options);
    if (result.status != 0)
        throw VessoraError(result.failureMessage("curl"));
    return result.output;
}

} // namespace vessora::LocalHTTPS
