#include "Vessora/Windows/EditorState.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <algorithm>

namespace vessora {

EditorState::EditorState(AppModel& model, StackProfile saved, ProfileDraft& draft)
    : model_(model), saved_(std::move(saved)), draft_(draft) {}

StackStatus EditorState::status() const {
    const auto& statuses = model_.statuses();
    const auto found = statuses.find(saved_.id);
    if (found != statuses.end())
        return found->second;
    StackStatus checking;
    checking.description = L10n::text("Checking…");
    return checking;
}

bool EditorState::ready() const {
    const auto& installed = model_.installed();
    const auto formulae = saved_.formulae();
    return std::all_of(formulae.begin(), formulae.end(), [&](const std::string& formula) {
        const auto found = installed.find(formula);
        return found != installed.end() && found->second;
    });
}

bool EditorState::disabled() const {
    const StackStatus current = status();
    return model_.busy() || current.running || !current.processes.empty();
}

bool EditorState::unsaved() const {
    return !(draft_.profile() == saved_);
}

std::filesystem::path EditorState::dataRoot() const {
    return model_.dataRoot();
}

StackPaths EditorState::savedPaths() const {
    return StackPaths(dataRoot(), saved_);
}

std::optional<std::string> EditorState::webSelection() const {
    const StackProfile& profile = draft_.profile();
    if (profile.documentRoot)
        return profile.documentRoot;
    if (profile.projectSubdirectory)
        return StackPaths(dataRoot(), profile).web().string();
    return std::nullopt;
}

void EditorState::setWebSelection(std::optional<std::string> path) const {
    draft_.edit([&](StackProfile& profile) {
        profile.documentRoot = std::move(path);
        profile.projectSubdirectory.reset();
    });
}

} // namespace vessora
