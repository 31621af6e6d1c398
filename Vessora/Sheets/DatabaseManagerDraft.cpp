#include "Vessora/Sheets/DatabaseManagerDraft.hpp"

#include "Vessora/Sheets/DatabaseSheetText.hpp"
#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <QPointer>
#include <QString>

#include <algorithm>
#include <exception>
#include <memory>

namespace vessora {
namespace {

// What one action's worker brings back to the draft.
struct Outcome {
    // The inventory after the change (or the load) succeeded.
    std::optional<DatabaseAdminSnapshot> snapshot;
    // The first failure, and the inventory reloaded after it.
    std::optional<std::string> failure;
    std::optional<DatabaseAdminSnapshot> reloaded;
};

} // namespace

DatabaseManagerDraft::DatabaseManagerDraft(AppModel& model, StackProfile profile, QObject* parent)
    : QObject(parent), model_(model), profile_(std::move(profile)) {}

void DatabaseManagerDraft::setTab(int tab) {
    assign(tab_, tab);
}

void DatabaseManagerDraft::setSelectedUserID(std::optional<std::string> id) {
    if (selectedUserID_ == id)
        return;
    selectedUserID_ = std::move(id);
    resetAccess();
    emit changed();
}

void DatabaseManagerDraft::setAccess(const std::string& database, DatabaseAccess level) {
    std::map<std::string, DatabaseAccess> levels = access_;
    levels[database] = level;
    assign(access_, std::move(levels));
}

void DatabaseManagerDraft::setShowCredentials(bool shown) {
    assign(showCredentials_, shown);
}

void DatabaseManagerDraft::setShowDatabase(bool shown) {
    assign(showDatabase_, shown);
}

void DatabaseManagerDraft::setShowUser(bool shown) {
    if (!shown) {
        setPassword({});
        setConfirmation({});
    }
    assign(showUser_, shown);
}

void DatabaseManagerDraft::setShowPassword(bool shown) {
    if (!shown) {
        setPassword({});
        setConfirmation({});
    }
    assign(showPassword_, shown);
}

void DatabaseManagerDraft::setConfirmDelete(bool shown) {
    assign(confirmDelete_, shown);
}

void DatabaseManagerDraft::setDatabaseName(std::string name) {
    assign(databaseName_, std::move(name));
}

void DatabaseManagerDraft::setGrantApplication(bool grant) {
    assign(grantApplication_, grant);
}

void DatabaseManagerDraft::setUserName(std::string name) {
    assign(userName_, std::move(name));
}

void DatabaseManagerDraft::setPassword(std::string password) {
    assign(password_, std::move(password));
}

void DatabaseManagerDraft::setConfirmation(std::string confirmation) {
    assign(confirmation_, std::move(confirmation));
}

void DatabaseManagerDraft::setInitialDatabase(std::string database) {
    assign(initialDatabase_, std::move(database));
}

void DatabaseManagerDraft::setInitialAccess(DatabaseAccess access) {
    assign(initialAccess_, access);
}

void DatabaseManagerDraft::setError(std::optional<std::string> text) {
    assign(error_, std::move(text));
}

void DatabaseManagerDraft::setNotice(std::optional<std::string> text) {
    assign(notice_, std::move(text));
}

bool DatabaseManagerDraft::running() const {
    const auto status = model_.statuses().find(profile_.id);
    return status != model_.statuses().end() && status->second.running;
}

std::optional<DatabaseAccount> DatabaseManagerDraft::user() const {
    if (!snapshot_ || !selectedUserID_)
        return std::nullopt;
    for (const DatabaseAccount& account : snapshot_->users)
        if (DatabaseSheetText::same(account.id(), *selectedUserID_))
            return account;
    return std::nullopt;
}

bool DatabaseManagerDraft::dirty() const {
    const std::optional<DatabaseAccount> account = user();
    if (!account)
        return false;
    return std::any_of(access_.begin(), access_.end(), [&](const auto& entry) {
        return entry.second != account->access(entry.first);
    });
}

bool DatabaseManagerDraft::validSecret() const {
    return DatabasePassword::isValid(password_) &&
           DatabaseSheetText::same(password_, confirmation_);
}

std::vector<ManagedDatabase> DatabaseManagerDraft::manageableDatabases() const {
    std::vector<ManagedDatabase> result;
    if (!snapshot_)
        return result;
    for (const ManagedDatabase& database : snapshot_->databases)
        if (database.supportsNativeManagement())
            result.push_back(database);
    return result;
}

bool DatabaseManagerDraft::canStartEnvironment() const {
    if (model_.busy())
        return false;
    const std::map<std::string, bool>& installed = model_.installed();
    for (const std::string& formula : profile_.formulae()) {
        const auto entry = installed.find(formula);
        if (entry == installed.end() || !entry->second)
            return false;
    }
    return true;
}

bool DatabaseManagerDraft::canCreateDatabase() const {
    if (model_.busy())
        return false;
    try {
        DatabaseName::validate(databaseName_);
    } catch (const std::exception&) {
        return false;
    }
    if (!snapshot_)
        return true;
    const QString typed = QString::fromStdString(databaseName_);
    return std::none_of(
        snapshot_->databases.begin(), snapshot_->databases.end(),
        [&](const ManagedDatabase& database) {
            return QString::fromStdString(database.name).compare(typed, Qt::CaseInsensitive) == 0;
        });
}

bool DatabaseManagerDraft::canCreateUser() const {
    return !model_.busy() && !userName_.empty() && validSecret() && !initialDatabase_.empty();
}

bool DatabaseManagerDraft::canSavePassword() const {
    return !model_.busy() && validSecret();
}

bool DatabaseManagerDraft::canDismiss() const {
    return !model_.busy() && !dirty();
}

void DatabaseManagerDraft::startLoading() {
    if (loadKey_)
        return;
    connect(&model_, &AppModel::statusesChanged, this, &DatabaseManagerDraft::runLoadRule);
    connect(&model_, &AppModel::busyChanged, this, &DatabaseManagerDraft::runLoadRule);
    runLoadRule();
}

void DatabaseManagerDraft::runLoadRule() {
    const std::pair<bool, bool> key{running(), model_.busy()};
    if (loadKey_ == key)
        return;
    loadKey_ = key;
    if (!key.first) {
        // Stopped: the next running period loads afresh.
        assign(snapshot_, std::optional<DatabaseAdminSnapshot>());
        assign(attemptedLoad_, false);
    } else if (!key.second && !attemptedLoad_) {
        refresh();
    }
}

void DatabaseManagerDraft::refresh() {
    if (model_.busy())
        return;
    assign(attemptedLoad_, true);
    setError(std::nullopt);
    setNotice(std::nullopt);
    auto outcome = std::make_shared<Outcome>();
    model_.perform(
        L10n::text("Loading databases…"), false,
        [id = profile_.id, outcome](AppEngine& engine) {
            try {
                outcome->snapshot = engine.databaseAdminSnapshot(id);
            } catch (...) {
                outcome->failure = WorkerBridge::errorText(std::current_exception());
                throw;
            }
        },
        [draft = QPointer<DatabaseManagerDraft>(this), outcome](bool) {
            if (!draft)
                return;
            if (outcome->snapshot)
                draft->apply(std::move(*outcome->snapshot), std::nullopt);
            else if (outcome->failure)
                draft->setError(outcome->failure);
        });
}

void DatabaseManagerDraft::resetAccess() {
    std::map<std::string, DatabaseAccess> levels;
    if (const std::optional<DatabaseAccount> account = user())
        for (const ManagedDatabase& database : manageableDatabases())
            levels[database.name] = account->access(database.name);
    assign(access_, std::move(levels));
}

void DatabaseManagerDraft::perform(std::optional<std::string> selectUser,
                                   std::function<void()> onSuccess, AppModel::Action action) {
    if (model_.busy())
        return;
    setError(std::nullopt);
    setNotice(std::nullopt);
    auto outcome = std::make_shared<Outcome>();
    model_.perform(
        L10n::text("Updating database management…"), false,
        [id = profile_.id, action = std::move(action), outcome](AppEngine& engine) {
            std::exception_ptr failure;
            try {
                action(engine);
                outcome->snapshot = engine.databaseAdminSnapshot(id);
                return;
            } catch (...) {
                failure = std::current_exception();
            }
            // The change's own error is the one shown; the reload after it
            // only keeps the sheet current.
            outcome->failure = WorkerBridge::errorText(failure);
            try {
                outcome->reloaded = engine.databaseAdminSnapshot(id);
            } catch (...) {
            }
            std::rethrow_exception(failure);
        },
        [draft = QPointer<DatabaseManagerDraft>(this), selectUser = std::move(selectUser),
         onSuccess = std::move(onSuccess), outcome](bool) {
            if (!draft)
                return;
            if (!outcome->failure && outcome->snapshot) {
                draft->apply(std::move(*outcome->snapshot), selectUser);
                if (onSuccess)
                    onSuccess();
                // Kept in English: the sheet looks it up when it draws, so a
                // new interface language applies to it too.
                draft->setNotice(L10n::text("Changes applied. Reconnect clients to use their "
                                            "current permissions and password.",
                                            {}, AppLanguage::english));
                return;
            }
            if (outcome->reloaded)
                draft->apply(std::move(*outcome->reloaded), std::nullopt);
            draft->setError(outcome->failure);
        });
}

void DatabaseManagerDraft::saveAccess(const DatabaseAccount& account) {
    std::vector<DatabaseAccessChange> changes;
    for (const auto& [database, level] : access_) {
        if (level == account.access(database))
            continue;
        const auto held = account.privileges.find(database);
        changes.push_back(
            {database, held == account.privileges.end() ? std::set<std::string>() : held->second,
             level});
    }
    perform(std::nullopt, {},
            [id = profile_.id, user = account.name, host = account.host,
             changes = std::move(changes)](AppEngine& engine) {
                engine.setDatabaseAccess(id, user, host, changes);
            });
}

void DatabaseManagerDraft::apply(DatabaseAdminSnapshot snapshot,
                                 std::optional<std::string> selectUser) {
    snapshot_ = std::move(snapshot);
    const std::optional<std::string> wanted = selectUser ? selectUser : selectedUserID_;
    const std::vector<DatabaseAccount>& users = snapshot_->users;
    std::optional<std::string> chosen;
    const auto has = [&](const std::string& id) {
        return std::any_of(users.begin(), users.end(), [&](const DatabaseAccount& account) {
            return DatabaseSheetText::same(account.id(), id);
        });
    };
    const auto application =
        std::find_if(users.begin(), users.end(),
                     [](const DatabaseAccount& account) { return account.isApplication; });
    if (wanted && has(*wanted))
        chosen = wanted;
    else if (application != users.end())
        chosen = application->id();
    else if (!users.empty())
        chosen = users.front().id();
    selectedUserID_ = std::move(chosen);
    resetAccess();
    emit changed();
}

void DatabaseManagerDraft::startEnvironment() {
    if (!canStartEnvironment())
        return;
    model_.perform(L10n::text("Starting %@…", {profile_.name}), false,
                   [id = profile_.id](AppEngine& engine) { engine.start(id); });
}

void DatabaseManagerDraft::openCredentials() {
    if (model_.busy())
        return;
    setShowCredentials(true);
}

void DatabaseManagerDraft::openNewDatabase() {
    setError(std::nullopt);
    setNotice(std::nullopt);
    setDatabaseName({});
    setGrantApplication(true);
    setShowDatabase(true);
}

void DatabaseManagerDraft::openNewUser() {
    setError(std::nullopt);
    setNotice(std::nullopt);
    setUserName({});
    setPassword({});
    setConfirmation({});
    setInitialDatabase(profile_.databaseName);
    setInitialAccess(DatabaseAccess::readWrite);
    setShowUser(true);
}

void DatabaseManagerDraft::openChangePassword() {
    setError(std::nullopt);
    setNotice(std::nullopt);
    setPassword({});
    setConfirmation({});
    setShowPassword(true);
}

void DatabaseManagerDraft::requestDeleteUser() {
    setConfirmDelete(true);
}

void DatabaseManagerDraft::createDatabase() {
    if (!canCreateDatabase())
        return;
    perform(
        std::nullopt, [this] { setShowDatabase(false); },
        [id = profile_.id, name = databaseName_, grant = grantApplication_](AppEngine& engine) {
            engine.createDatabase(id, name, grant);
        });
}

void DatabaseManagerDraft::createUser() {
    if (!canCreateUser())
        return;
    perform(
        userName_ + "@" + localHost, [this] { setShowUser(false); },
        [id = profile_.id, name = userName_, password = password_, database = initialDatabase_,
         access = initialAccess_](AppEngine& engine) {
            engine.createDatabaseUser(id, name, password, database, access);
        });
}

void DatabaseManagerDraft::changePassword() {
    const std::optional<DatabaseAccount> account = user();
    if (!account || !canSavePassword())
        return;
    perform(
        std::nullopt, [this] { setShowPassword(false); },
        [id = profile_.id, name = account->name, host = account->host, password = password_](
            AppEngine& engine) { engine.changeDatabaseUserPassword(id, name, host, password); });
}

void DatabaseManagerDraft::deleteUser() {
    setConfirmDelete(false);
    const std::optional<DatabaseAccount> account = user();
    if (!account)
        return;
    perform(std::nullopt, {},
            [id = profile_.id, name = account->name, host = account->host](AppEngine& engine) {
                engine.deleteDatabaseUser(id, name, host);
            });
}

} // namespace vessora
