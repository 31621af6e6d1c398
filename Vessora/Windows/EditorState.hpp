// What the environment editor and its parts read: the shared model, the
// saved record the editor was made for, its draft, and the values derived
// from them on every redraw. Holds no state of its own.
//
// The shortcuts, the header's Start rule and the install bar read the saved
// record; the form reads and writes the draft.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraCore/Records/StackStatus.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace vessora {

class AppModel;
class ProfileDraft;

class EditorState {
public:
    EditorState(AppModel& model, StackProfile saved, ProfileDraft& draft);

    AppModel& model() const { return model_; }
    const StackProfile& saved() const { return saved_; }
    ProfileDraft& draft() const { return draft_; }

    // The model's status of the saved record; before the first poll a
    // stopped "Checking…" without processes.
    StackStatus status() const;
    // Every formula of the saved record is known to be installed.
    bool ready() const;
    // The form and "Save changes" are locked: an action runs, or the
    // environment runs or still has processes.
    bool disabled() const;
    // The draft differs from the saved record in some field.
    bool unsaved() const;

    // The engine's data root, or the chosen one without an engine.
    std::filesystem::path dataRoot() const;
    StackPaths savedPaths() const;

    // The web folder as the form shows it: the custom folder, else the
    // folder of an imported project, else none (the managed folder).
    std::optional<std::string> webSelection() const;
    // A chosen folder becomes the custom folder; none returns to the
    // managed folder. Either way the project subfolder is cleared.
    void setWebSelection(std::optional<std::string> path) const;

private:
    AppModel& model_;
    StackProfile saved_;
    ProfileDraft& draft_;
};

} // namespace vessora
