// Whole-list validation of environment records and the id rule.

#include "VessoraCore/Records/StackProfile.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <set>
#include <string>

namespace vessora {

namespace {

constexpr std::size_t maximumNameLength = 80;

[[noreturn]] void fail(std::string_view key, const std::vector<std::string>& arguments = {}) {
    throw VessoraError(L10n::text(key, arguments));
}

bool validName(const std::string& name) {
    if (!UnicodeText::isValidUTF8(name) || UnicodeText::containsControl(name)) {
        return false;
    }
    std::string trimmed = UnicodeText::trimmed(name);
    return !trimmed.empty() && trimmed == name &&
           UnicodeText::characterCount(name) <= maximumNameLength;
}

bool supportedVersions(const StackProfile& profile) {
    return PackageCatalog::isSeries(profile.php, PackageFamily::php) &&
           PackageCatalog::isSeries(profile.mariaDB, PackageFamily::mariaDB) &&
           PackageCatalog::isSeries(profile.webserver, PackageFamily::webserver);
}

void validateIDs(const std::vector<StackProfile>& profiles) {
    std::set<std::string> ids;
    for (const auto& profile : profiles) {
        if (!ids.insert(profile.id).second) {
            fail("Invalid or duplicate environment ID.");
        }
    }
    for (const auto& profile : profiles) {
        if (!StackProfile::isValidID(profile.id)) {
            fail("Invalid or duplicate environment ID.");
        }
    }
}

void validateWebFolder(const StackProfile& profile) {
    if (profile.projectSubdirectory) {
        if (profile.documentRoot ||
            !MigrationRequest::validRelativeDirectory(*profile.projectSubdirectory)) {
            fail("Choose a public directory inside the project folder.");
        }
    } else if (profile.documentRoot) {
        const std::string& root = *profile.documentRoot;
        if (root.empty() || root.front() != '/' || UnicodeText::containsControl(root)) {
            fail("Choose an absolute web directory without control characters.");
        }
    }
}

} // namespace

bool StackProfile::isValidID(std::string_view id) {
    if (id == "studio" || id == "legacy") {
        return true;
    }
    constexpr std::string_view prefix = "env-";
    if (id.substr(0, prefix.size()) != prefix) {
        return false;
    }
    auto uuid = Uuid::parse(id.substr(prefix.size()));
    return uuid && std::string(prefix) + *uuid == id;
}

void StackProfile::validate(const std::vector<StackProfile>& profiles) {
    validateIDs(profiles);

    std::set<std::string> hostnames;
    std::set<std::string> foldedNames;
    std::set<std::int64_t> ports;
    bool anyVirtualHost = false;

    for (const auto& profile : profiles) {
        if (profile.hostname) {
            // Its error is the host-service library's own sentence.
            LocalHostname::validate(*profile.hostname);
            if (!hostnames.insert(*profile.hostname).second) {
                fail("This hostname is already used by another environment.");
            }
        } else if (profile.virtualHost) {
            fail("Enter a hostname before enabling virtual hosts.");
        }
        if (profile.standardPorts && !(profile.hostname && profile.virtualHost)) {
            fail("Standard web ports require a virtual host.");
        }
        DatabaseName::validateStored(profile.databaseName);
        validateWebFolder(profile);
        if (!supportedVersions(profile) || !validName(profile.name)) {
            fail("Invalid environment name or unsupported version.");
        }
        if (!foldedNames.insert(UnicodeText::folded(profile.name)).second) {
            fail("An environment named “%@” already exists.", {profile.name});
        }
        if (profile.httpsEnabled && !profile.httpsPort) {
            fail("Choose an HTTPS port before enabling local HTTPS.");
        }
        for (std::int64_t port : profile.reservedPorts()) {
            if (port < 1024 || port > 65535 || !ports.insert(port).second) {
                fail("All environment ports must be unique and between 1024 and 65535.");
            }
        }
        anyVirtualHost = anyVirtualHost || profile.virtualHost;
    }

    if (anyVirtualHost &&
        (ports.count(virtualHTTPPort()) != 0 || ports.count(virtualHTTPSPort()) != 0)) {
        fail("Ports 8088 and 8448 are reserved for the shared virtual host router. Choose "
             "different environment ports.");
    }
}

} // namespace vessora
