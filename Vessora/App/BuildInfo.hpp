// What kind of build this program is. A development build (the CMake option
// VESSORA_DEVELOPMENT_BUILD) has the bundle identifier "vessora-dev.prototype"
// and no release version or build number, so it never passes for a release;
// a release build has the identifier of the application and CMake's project
// version with the configured build number. current() is this program's;
// tests build their own.
#pragma once

#include <string>

namespace vessora {

struct BuildInfo {
    static constexpr const char* developmentIdentifier = "vessora-dev.prototype";

    bool development = false;
    std::string bundleIdentifier;
    // Both empty in a development build.
    std::string version;
    std::string build;

    static BuildInfo current();
    static BuildInfo developmentBuild();
    static BuildInfo release(std::string version, std::string build);
};

} // namespace vessora
