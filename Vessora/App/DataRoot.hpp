// Which data root the application opens. Only a development build (bundle
// identifier "vessora-dev.prototype") reads VESSORA_PREVIEW_ROOT, and only an
// absolute path there counts; everything else gets the engine's default root.
#pragma once

#include "Vessora/App/BuildInfo.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vessora::DataRoot {

inline constexpr const char* previewVariable = "VESSORA_PREVIEW_ROOT";

// Reads one variable of the process environment; none when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

EnvironmentLookup processEnvironment();

// Throws the engine's error when there is no default root (no home folder).
std::filesystem::path choose(const BuildInfo& build, const EnvironmentLookup& environment);

} // namespace vessora::DataRoot
