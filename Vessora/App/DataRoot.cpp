#include "Vessora/App/DataRoot.hpp"

#include "VessoraCore/Engine/StackEngine.hpp"

#include <cstdlib>

namespace vessora::DataRoot {

EnvironmentLookup processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str()))
            return std::string(value);
        return std::nullopt;
    };
}

std::filesystem::path choose(const BuildInfo& build, const EnvironmentLookup& environment) {
    if (build.bundleIdentifier == BuildInfo::developmentIdentifier && environment) {
        const std::optional<std::string> preview = environment(previewVariable);
        if (preview && !preview->empty() && preview->front() == '/')
            return std::filesystem::path(*preview);
    }
    return StackEngine::defaultRoot();
}

} // namespace vessora::DataRoot
