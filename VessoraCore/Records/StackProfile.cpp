#include "VessoraCore/Records/StackProfile.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"

#include <functional>

namespace vessora {

namespace {

std::string host(const StackProfile& profile) {
    return profile.hostname.value_or("127.0.0.1");
}

std::vector<std::string> catalogueIDs(PackageFamily family) {
    std::vector<std::string> ids;
    for (const auto& package : PackageCatalog::fallback()) {
        if (package.family == family) {
            ids.push_back(package.id);
        }
    }
    return ids;
}

} // namespace

nlohmann::json StackProfile::toJSON() const {
    nlohmann::json json = nlohmann::json::object();
    json["id"] = id;
    json["name"] = name;
    json["php"] = php;
    json["mariaDB"] = mariaDB;
    json["httpPort"] = httpPort;
    json["phpPort"] = phpPort;
    json["databasePort"] = databasePort;
    json["phpMyAdminEnabled"] = phpMyAdminEnabled;
    json["webserver"] = webserver;
    json["httpsEnabled"] = httpsEnabled;
    if (httpsPort) {
        json["httpsPort"] = *httpsPort;
    }
    if (documentRoot) {
        json["documentRoot"] = *documentRoot;
    }
    if (projectSubdirectory) {
        json["projectSubdirectory"] = *projectSubdirectory;
    }
    json["databaseName"] = databaseName;
    if (hostname) {
        json["hostname"] = *hostname;
    }
    json["virtualHost"] = virtualHost;
    json["standardPorts"] = standardPorts;
    return json;
}

StackProfile StackProfile::fromJSON(const nlohmann::json& json) {
    JsonFields::requireObject(json, "environment record");
    StackProfile profile;
    profile.id = JsonFields::requiredString(json, "id");
    profile.name = JsonFields::requiredString(json, "name");
    profile.php = JsonFields::requiredString(json, "php");
    profile.mariaDB = JsonFields::requiredString(json, "mariaDB");
    profile.httpPort = JsonFields::requiredInt(json, "httpPort");
    profile.phpPort = JsonFields::requiredInt(json, "phpPort");
    profile.databasePort = JsonFields::requiredInt(json, "databasePort");
    profile.phpMyAdminEnabled =
        JsonFields::optionalBool(json, "phpMyAdminEnabled").value_or(profile.phpMyAdminEnabled);
    profile.webserver = JsonFields::optionalString(json, "webserver").value_or(profile.webserver);
    profile.httpsEnabled =
        JsonFields::optionalBool(json, "httpsEnabled").value_or(profile.httpsEnabled);
    profile.httpsPort = JsonFields::optionalInt(json, "httpsPort");
    profile.documentRoot = JsonFields::optionalString(json, "documentRoot");
    profile.projectSubdirectory = JsonFields::optionalString(json, "projectSubdirectory");
    profile.databaseName =
        JsonFields::optionalString(json, "databaseName").value_or(profile.databaseName);
    profile.hostname = JsonFields::optionalString(json, "hostname");
    profile.virtualHost =
        JsonFields::optionalBool(json, "virtualHost").value_or(profile.virtualHost);
    profile.standardPorts =
        JsonFields::optionalBool(json, "standardPorts").value_or(profile.standardPorts);
    return profile;
}

std::vector<StackProfile> StackProfile::defaults() {
    StackProfile studio;
    studio.id = "studio";
    studio.name = "Studio";
    studio.php = "php@8.4";
    studio.mariaDB = "mariadb@11.4";
    studio.httpPort = 8080;
    studio.phpPort = 9084;
    studio.databasePort = 13307;

    StackProfile legacy;
    legacy.id = "legacy";
    legacy.name = "Legacy";
    legacy.php = "php@8.3";
    legacy.mariaDB = "mariadb@10.11";
    legacy.httpPort = 8081;
    legacy.phpPort = 9083;
    legacy.databasePort = 13308;

    return {studio, legacy};
}

std::string StackProfile::url() const {
    std::string text = "http://" + host(*this);
    if (!standardPorts) {
        text += ":" + std::to_string(virtualHost ? virtualHTTPPort() : httpPort);
    }
    return text;
}

std::optional<std::string> StackProfile::httpsURL() const {
    if (!httpsEnabled || !httpsPort) {
        return std::nullopt;
    }
    std::string text = "https://" + host(*this);
    if (!standardPorts) {
        text += ":" + std::to_string(virtualHost ? virtualHTTPSPort() : *httpsPort);
    }
    return text;
}

std::string StackProfile::siteURL() const {
    return httpsURL().value_or(url());
}

std::string StackProfile::backendURL() const {
    return "http://127.0.0.1:" + std::to_string(httpPort);
}

std::optional<std::string> StackProfile::backendHTTPSURL() const {
    if (!httpsEnabled || !httpsPort) {
        return std::nullopt;
    }
    return "https://127.0.0.1:" + std::to_string(*httpsPort);
}

std::string StackProfile::phpMyAdminURL() const {
    // The base URLs have no path, so the absolute route resolves to base + route.
    return siteURL() + phpMyAdminRoute();
}

std::vector<std::int64_t> StackProfile::reservedPorts() const {
    std::vector<std::int64_t> ports{httpPort, phpPort, databasePort};
    if (httpsPort) {
        ports.push_back(*httpsPort);
    }
    return ports;
}

std::vector<std::int64_t> StackProfile::listeningPorts() const {
    std::vector<std::int64_t> ports{httpPort, phpPort, databasePort};
    if (httpsEnabled && httpsPort) {
        ports.push_back(*httpsPort);
    }
    return ports;
}

std::vector<std::string> StackProfile::formulae() const {
    std::vector<std::string> names{webserver, php, mariaDB};
    if (phpMyAdminEnabled) {
        names.emplace_back("phpmyadmin");
    }
    if (virtualHost && webserver != "nginx") {
        // The shared router is an nginx.
        names.emplace_back("nginx");
    }
    return names;
}

std::vector<std::string> StackProfile::phpVersions() {
    return catalogueIDs(PackageFamily::php);
}

std::vector<std::string> StackProfile::databaseVersions() {
    return catalogueIDs(PackageFamily::mariaDB);
}

} // namespace vessora

std::size_t
std::hash<vessora::StackProfile>::operator()(const vessora::StackProfile& profile) const noexcept {
    std::size_t seed = 0;
    auto mix = [&seed](std::size_t value) {
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    };
    auto text = [&mix](const std::string& value) { mix(std::hash<std::string>{}(value)); };
    auto number = [&mix](std::int64_t value) { mix(std::hash<std::int64_t>{}(value)); };
    auto flag = [&mix](bool value) { mix(value ? 1U : 2U); };
    auto optionalText = [&](const std::optional<std::string>& value) {
        flag(value.has_value());
        if (value) {
            text(*value);
        }
    };
    text(profile.id);
    text(profile.name);
    text(profile.php);
    text(profile.mariaDB);
    number(profile.httpPort);
    number(profile.phpPort);
    number(profile.databasePort);
    flag(profile.phpMyAdminEnabled);
    text(profile.webserver);
    flag(profile.httpsEnabled);
    flag(profile.httpsPort.has_value());
    if (profile.httpsPort) {
        number(*profile.httpsPort);
    }
    optionalText(profile.documentRoot);
    optionalText(profile.projectSubdirectory);
    text(profile.databaseName);
    optionalText(profile.hostname);
    flag(profile.virtualHost);
    flag(profile.standardPorts);
    return seed;
}
