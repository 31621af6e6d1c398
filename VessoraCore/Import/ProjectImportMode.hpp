// How a project import serves the project: "existing" serves the chosen
// folder where it is, "copy" serves a copy inside the environment. The raw
// texts are what the import report stores.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora {

enum class ProjectImportMode { existing, copy };

std::string rawValue(ProjectImportMode mode);

// Exactly "existing" or "copy" (case-sensitive); anything else gives none.
std::optional<ProjectImportMode> projectImportMode(std::string_view raw);

} // namespace vessora
