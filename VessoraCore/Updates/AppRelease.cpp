#include "VessoraCore/Updates/AppRelease.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Updates/ProductSite.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"

#include <algorithm>
#include <array>

namespace vessora {
namespace {

// A minimum system version as three numbers, or nothing when it breaks the
// rules; two parts mean a patch level of 0.
std::optional<std::array<std::int64_t, 3>> minimumSystem(const std::string& text) {
    const auto numbers = ReleaseVersion::parts(text, {2, 3});
    if (!numbers)
        return std::nullopt;
    return std::array<std::int64_t, 3>{(*numbers)[0], (*numbers)[1],
                                       numbers->size() == 3 ? (*numbers)[2] : 0};
}

bool isDigest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

AppRelease AppRelease::decode(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > maximumSize)
        throw UpdateCheckError::invalidResponse();
    try {
        return fromJSON(JsonFields::parse(bytes));
    } catch (const std::exception&) {
        throw UpdateCheckError::invalidResponse();
    }
}

AppRelease AppRelease::fromJSON(const nlohmann::json& object) {
    JsonFields::requireObject(object, "release");
    AppRelease release;
    release.schemaVersion = JsonFields::requiredInt(object, "schemaVersion");
    release.version = JsonFields::requiredString(object, "version");
    release.build = JsonFields::requiredInt(object, "build");
    release.minimumMacOS = JsonFields::requiredString(object, "minimumMacOS");
    release.sha256 = JsonFields::requiredString(object, "sha256");
    release.homebrewAvailable = JsonFields::requiredBool(object, "homebrewAvailable");
    release.validate();
    return release;
}

void AppRelease::validate() const {
    if (schemaVersion != 1 || !ReleaseVersion::make(version, build))
        throw UpdateCheckError::invalidResponse();
    const auto minimum = minimumSystem(minimumMacOS);
    if (!minimum || (*minimum)[0] < 14 || !isDigest(sha256))
        throw UpdateCheckError::invalidResponse();
}

nlohmann::json AppRelease::toJSON() const {
    return nlohmann::json{{"schemaVersion", schemaVersion},
                          {"version", version},
                          {"build", build},
                          {"minimumMacOS", minimumMacOS},
                          {"sha256", sha256},
                          {"homebrewAvailable", homebrewAvailable}};
}

std::string AppRelease::encode() const {
    return toJSON().dump();
}

ReleaseVersion AppRelease::releaseVersion() const {
    auto made = ReleaseVersion::make(version, build);
    if (!made)
        throw UpdateCheckError::invalidResponse();
    return *made;
}

std::string AppRelease::packageArchitecture() {
    // The target this program was compiled for, spelt as dpkg names it; the
    // check never runs a program to learn it.
#if defined(__x86_64__)
    return "amd64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#elif defined(__arm__)
    return "armhf";
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
    return "ppc64el";
#elif defined(__s390x__)
    return "s390x";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#else
#error "No Debian architecture name is known for this target."
#endif
}

std::string AppRelease::downloadURL() const {
    // Linux takes the release's Debian package beside the disk image.
    return ProductSite::address() + "/downloads/Vessora-" + version + "_" + packageArchitecture() +
           ".deb";
}

std::string AppRelease::websiteURL() {
    return ProductSite::address() + "/#install";
}

std::string AppRelease::upgradeCommand() {
    // Homebrew on Linux has no casks: the application is a formula there.
    return "brew update\nbrew upgrade ornat77/vessora/vessora";
}

UpdateAvailability AppRelease::availability(const ReleaseVersion& installed,
                                            const std::optional<SystemVersion>& system) const {
    if (!(releaseVersion() > installed))
        return UpdateAvailability::current;
    if (!system)
        return UpdateAvailability::available;
    const auto minimum = minimumSystem(minimumMacOS);
    if (!minimum)
        throw UpdateCheckError::invalidResponse();
    const std::array<std::int64_t, 3> running{system->major, system->minor, system->patch};
    return running < *minimum ? UpdateAvailability::requiresNewerMacOS
                              : UpdateAvailability::available;
}

} // namespace vessora
