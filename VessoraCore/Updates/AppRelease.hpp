// One published release as the release feed describes it: a JSON object with
// exactly the keys below (others are ignored). decode() is the only way a
// release is read, from the network and from the cache alike, so a cached
// copy passes the same rules as a fresh answer.
//
// Rules, checked in this order after every key was read with its type:
// "schemaVersion" is 1; "version" and "build" make a ReleaseVersion;
// "minimumMacOS" has two or three parts under the version part rule and a
// first part of at least 14; "sha256" is 64 lower-case hexadecimal digits.
// "sha256" is kept but checks nothing: the application only links to the
// download.
#pragma once

#include "VessoraCore/Updates/ReleaseVersion.hpp"
#include "VessoraCore/Updates/SystemVersion.hpp"
#include "VessoraCore/Updates/UpdateAvailability.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vessora {

struct AppRelease {
    // An answer or cache entry holds 1 to this many bytes.
    static constexpr std::size_t maximumSize = 65536;

    std::int64_t schemaVersion = 1;
    std::string version;
    std::int64_t build = 0;
    std::string minimumMacOS;
    std::string sha256;
    bool homebrewAvailable = false;

    // Any fault at all, the size, the JSON form, a missing key, a wrong type
    // or a broken rule, is thrown as UpdateCheckError::invalidResponse().
    static AppRelease decode(std::string_view bytes);

    // Reads the six keys with their types (JsonDecodingError) and validates.
    static AppRelease fromJSON(const nlohmann::json& object);
    nlohmann::json toJSON() const;
    // The compact JSON text of toJSON(); decode() reads it back.
    std::string encode() const;

    // Throws UpdateCheckError::invalidResponse() at the first broken rule.
    void validate() const;

    // The version and build as a ReleaseVersion; throws like validate() for a
    // record that does not make one.
    ReleaseVersion releaseVersion() const;

    // The release's Debian package on the product site, for the architecture
    // this program was built for: "/downloads/Vessora-<version>_<arch>.deb".
    std::string downloadURL() const;
    // dpkg's name of the build's target architecture ("amd64", "arm64", ...).
    static std::string packageArchitecture();
    // The site's start page at its install section.
    static std::string websiteURL();
    // The two Homebrew commands that upgrade the application (a formula).
    static std::string upgradeCommand();

    // current when this release is not newer than `installed`; otherwise
    // requiresNewerMacOS when `system` is known and older than the minimum
    // (a two-part minimum means .0), else available.
    UpdateAvailability availability(const ReleaseVersion& installed,
                                    const std::optional<SystemVersion>& system) const;

    friend bool operator==(const AppRelease&, const AppRelease&) = default;
};

} // namespace vessora
