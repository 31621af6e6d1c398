// DatabaseDraft: the state and the two engine calls of the credentials sheet
// of one environment's application account, without a widget. load() reads
// the account's current password; save() stores a new one for the next
// start. Both run on the model's workers (never through perform(), so they
// do not take the model's busy flag) and post their result back to the main
// thread; a draft that is gone by then gets nothing. Without an engine both
// do nothing. The password is held in memory only and never logged.
//
// Every setter emits changed() when the value changed.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QObject>

#include <optional>
#include <string>

namespace vessora {

class DatabaseDraft : public QObject {
    Q_OBJECT

public:
    DatabaseDraft(AppModel& model, StackProfile profile, QObject* parent = nullptr);

    AppModel& model() const { return model_; }
    const StackProfile& profile() const { return profile_; }

    // The password as last loaded or saved; none until a load succeeded.
    const std::optional<std::string>& original() const { return original_; }
    const std::string& password() const { return password_; }
    const std::string& confirmation() const { return confirmation_; }
    // A save runs.
    bool busy() const { return busy_; }
    // A save succeeded while this draft lived.
    bool saved() const { return saved_; }
    const std::optional<std::string>& error() const { return error_; }

    void setPassword(std::string password);
    void setConfirmation(std::string confirmation);

    // Some server process of the environment is live (even one starting).
    bool running() const;
    // The field holds another text than the loaded or saved password.
    bool edited() const;

    // What the sheet enables and shows.
    bool canEditPassword() const;
    bool canEditConfirmation() const;
    bool canCopyPassword() const;
    bool canSave() const;
    bool canDismiss() const { return !busy_; }
    bool showsSavedLabel() const { return saved_ && !edited(); }

    // Reads the credentials; call once, when the sheet appears.
    void load();
    // Stores the typed password for the next start.
    void save();

signals:
    void changed();

private:
    template <typename Value>
    void assign(Value& field, Value value);

    AppModel& model_;
    const StackProfile profile_;
    std::optional<std::string> original_;
    std::string password_;
    std::string confirmation_;
    bool busy_ = false;
    bool saved_ = false;
    std::optional<std::string> error_;
};

template <typename Value>
void DatabaseDraft::assign(Value& field, Value value) {
    if (field == value)
        return;
    field = std::move(value);
    emit changed();
}

} // namespace vessora
