// StackProfile: the record of one environment - what it runs, on which
// loopback ports and with which options. A plain value, copied everywhere and
// stored as a JSON array in "profiles.json".
// fromJSON() is strict: the first seven keys are required and typed; the
// others may be absent or null (then the defaults below apply) but never of
// the wrong type. toJSON() writes the four optional fields only when set.
// The derived URLs assume a record that passed validate().
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

struct StackProfile {
    std::string id;
    std::string name;
    std::string php;
    std::string mariaDB;
    std::int64_t httpPort = 0;
    std::int64_t phpPort = 0;
    std::int64_t databasePort = 0;
    bool phpMyAdminEnabled = false;
    std::string webserver = "nginx";
    bool httpsEnabled = false;
    std::optional<std::int64_t> httpsPort;
    std::optional<std::string> documentRoot;
    std::optional<std::string> projectSubdirectory;
    std::string databaseName = "vessora";
    std::optional<std::string> hostname;
    bool virtualHost = false;
    bool standardPorts = false;

    bool operator==(const StackProfile&) const = default;

    nlohmann::json toJSON() const;
    // Throws JsonDecodingError.
    static StackProfile fromJSON(const nlohmann::json& json);

    // The two built-in environments "studio" and "legacy".
    static std::vector<StackProfile> defaults();

    // The shared router's ports.
    static constexpr std::int64_t virtualHTTPPort() { return 8088; }
    static constexpr std::int64_t virtualHTTPSPort() { return 8448; }
    static std::string phpMyAdminRoute() { return "/phpmyadmin/"; }

    // The address users open: hostname or 127.0.0.1, router port when routed
    // by hostname, no port at all with standard ports.
    std::string url() const;
    // Only when HTTPS is on and has a port.
    std::optional<std::string> httpsURL() const;
    std::string siteURL() const;
    // The environment's own web server, for the engine's checks.
    std::string backendURL() const;
    std::optional<std::string> backendHTTPSURL() const;
    std::string phpMyAdminURL() const;

    // HTTP, PHP-FPM, MariaDB, then the HTTPS port whenever one is set.
    std::vector<std::int64_t> reservedPorts() const;
    // As reservedPorts(), but the HTTPS port only while HTTPS is on.
    std::vector<std::int64_t> listeningPorts() const;
    // The Homebrew formulae this environment needs.
    std::vector<std::string> formulae() const;

    // The PHP and MariaDB formulae of the built-in catalogue, in its order.
    static std::vector<std::string> phpVersions();
    static std::vector<std::string> databaseVersions();

    // Whole-list validation; throws VessoraError at the first failing rule,
    // or the hostname rule's HostServiceError unchanged. Changes nothing.
    static void validate(const std::vector<StackProfile>& profiles);
    // "studio", "legacy" or "env-" + a UUID in canonical lower-case form.
    static bool isValidID(std::string_view id);
};

} // namespace vessora

template <>
struct std::hash<vessora::StackProfile> {
    std::size_t operator()(const vessora::StackProfile& profile) const noexcept;
};
