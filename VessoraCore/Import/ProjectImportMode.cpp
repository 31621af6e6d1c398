#include "VessoraCore/Import/ProjectImportMode.hpp"

namespace vessora {

std::string rawValue(ProjectImportMode mode) {
    switch (mode) {
    case ProjectImportMode::existing:
        return "existing";
    case ProjectImportMode::copy:
        return "copy";
    }
    return "existing";
}

std::optional<ProjectImportMode> projectImportMode(std::string_view raw) {
    if (raw == "existing") {
        return ProjectImportMode::existing;
    }
    if (raw == "copy") {
        return ProjectImportMode::copy;
    }
    return std::nullopt;
}

} // namespace vessora
