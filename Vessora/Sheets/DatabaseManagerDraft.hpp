// DatabaseManagerDraft: everything the database management sheet of one
// environment holds and does, without a widget: the loaded inventory, the
// selected account and its pending access levels, the error and success
// lines, the flags of its forms and child sheets, the forms' fields, the
// rules that enable its buttons, and its actions.
//
// Every engine call is one AppModel::perform action (no package refresh),
// so it is the application's single running action and is refused while
// another runs. A change reloads the inventory in the same action; after a
// failure the inventory is reloaded once more so the sheet shows the
// server's current state. Results are applied on the main thread when the
// action has ended; a draft that is gone by then gets nothing.
//
// Load rule: once startLoading() was called, the inventory is loaded each
// time the environment is seen running while nothing is busy, and dropped
// whenever it is seen stopped. A failed load is repeated only by refresh()
// or by stopping and starting the environment.
//
// Every setter emits changed() when the value changed.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "VessoraCore/Database/DatabaseAccess.hpp"
#include "VessoraCore/Database/DatabaseAdminSnapshot.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <QObject>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class DatabaseManagerDraft : public QObject {
    Q_OBJECT

public:
    static constexpr int databasesTab = 0;
    static constexpr int usersTab = 1;
    // The host of every account the sheet creates.
    static constexpr const char* localHost = "127.0.0.1";

    // `profile`: the saved record, kept unchanged while the draft lives.
    DatabaseManagerDraft(AppModel& model, StackProfile profile, QObject* parent = nullptr);

    AppModel& model() const { return model_; }
    const StackProfile& profile() const { return profile_; }

    // Fields.
    int tab() const { return tab_; }
    const std::optional<DatabaseAdminSnapshot>& snapshot() const { return snapshot_; }
    const std::optional<std::string>& selectedUserID() const { return selectedUserID_; }
    // Pending levels of the selected account, one per manageable database.
    const std::map<std::string, DatabaseAccess>& access() const { return access_; }
    bool attemptedLoad() const { return attemptedLoad_; }
    const std::optional<std::string>& error() const { return error_; }
    const std::optional<std::string>& notice() const { return notice_; }
    bool showCredentials() const { return showCredentials_; }
    bool showDatabase() const { return showDatabase_; }
    bool showUser() const { return showUser_; }
    bool showPassword() const { return showPassword_; }
    bool confirmDelete() const { return confirmDelete_; }
    const std::string& databaseName() const { return databaseName_; }
    bool grantApplication() const { return grantApplication_; }
    const std::string& userName() const { return userName_; }
    const std::string& password() const { return password_; }
    const std::string& confirmation() const { return confirmation_; }
    const std::string& initialDatabase() const { return initialDatabase_; }
    DatabaseAccess initialAccess() const { return initialAccess_; }

    void setTab(int tab);
    // A new selection rebuilds the pending levels for that account.
    void setSelectedUserID(std::optional<std::string> id);
    // A pending level; sent only by saveAccess().
    void setAccess(const std::string& database, DatabaseAccess level);
    void setShowCredentials(bool shown);
    void setShowDatabase(bool shown);
    // Closing the new-user or change-password form empties both password
    // fields, however it closes.
    void setShowUser(bool shown);
    void setShowPassword(bool shown);
    void setConfirmDelete(bool shown);
    void setDatabaseName(std::string name);
    void setGrantApplication(bool grant);
    void setUserName(std::string name);
    void setPassword(std::string password);
    void setConfirmation(std::string confirmation);
    void setInitialDatabase(std::string database);
    void setInitialAccess(DatabaseAccess access);

    // Derived values.
    // The environment's status says running.
    bool running() const;
    // The account of the snapshot whose id is the selection.
    std::optional<DatabaseAccount> user() const;
    // Some pending level differs from the selected account's current one.
    bool dirty() const;
    // The typed password is acceptable and equals its confirmation.
    bool validSecret() const;
    // The snapshot's databases whose names pass the database-name rule.
    std::vector<ManagedDatabase> manageableDatabases() const;

    // What the sheet and its forms enable.
    bool canStartEnvironment() const;
    bool canCreateDatabase() const;
    bool canCreateUser() const;
    bool canSavePassword() const;
    // Neither an action runs nor access changes are pending.
    bool canDismiss() const;

    // Runs the load rule now and whenever `running` or the model's busy flag
    // changes. Call once, when the sheet appears.
    void startLoading();

    // Loads the inventory (nothing while busy).
    void refresh();
    // Discards pending levels: the selected account's current ones.
    void resetAccess();
    // Runs one change, then reloads the inventory and selects `selectUser`
    // (or keeps the selection); on success runs `onSuccess` and sets the
    // notice, on failure shows the change's error. Nothing while busy.
    void perform(std::optional<std::string> selectUser, std::function<void()> onSuccess,
                 AppModel::Action action);
    // Sends the pending levels that differ from the account's current ones.
    void saveAccess(const DatabaseAccount& account);
    // Stores a loaded inventory and chooses the selection: the wanted (or
    // current) account while it exists, else the application account, else
    // the first.
    void apply(DatabaseAdminSnapshot snapshot, std::optional<std::string> selectUser);

    // The buttons.
    void startEnvironment();
    void openCredentials();
    void openNewDatabase();
    void openNewUser();
    void openChangePassword();
    void requestDeleteUser();
    void createDatabase();
    void createUser();
    void changePassword();
    void deleteUser();

signals:
    void changed();

private:
    template <typename Value>
    void assign(Value& field, Value value);
    void setError(std::optional<std::string> text);
    void setNotice(std::optional<std::string> text);
    void runLoadRule();

    AppModel& model_;
    const StackProfile profile_;

    int tab_ = databasesTab;
    std::optional<DatabaseAdminSnapshot> snapshot_;
    std::optional<std::string> selectedUserID_;
    std::map<std::string, DatabaseAccess> access_;
    bool attemptedLoad_ = false;
    std::optional<std::string> error_;
    std::optional<std::string> notice_;
    bool showCredentials_ = false;
    bool showDatabase_ = false;
    bool showUser_ = false;
    bool showPassword_ = false;
    bool confirmDelete_ = false;
    std::string databaseName_;
    bool grantApplication_ = true;
    std::string userName_;
    std::string password_;
    std::string confirmation_;
    std::string initialDatabase_;
    DatabaseAccess initialAccess_ = DatabaseAccess::readWrite;

    // The load rule's last (running, busy) pair; none before its first run.
    std::optional<std::pair<bool, bool>> loadKey_;
};

template <typename Value>
void DatabaseManagerDraft::assign(Value& field, Value value) {
    if (field == value)
        return;
    field = std::move(value);
    emit changed();
}

} // namespace vessora
