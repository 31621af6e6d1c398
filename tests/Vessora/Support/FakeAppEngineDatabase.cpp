// The fake engine's database operations: the administration's rules on an
// inventory held in memory.
#include "tests/Vessora/Support/FakeAppEngine.hpp"

#include "VessoraCore/Database/DatabaseAccountName.hpp"
#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <algorithm>
#include <tuple>

namespace vessora {
namespace {

const std::string localHost = "127.0.0.1";

[[noreturn]] void refuse(const char* sentence) {
    throw VessoraError(L10n::text(sentence));
}

[[noreturn]] void serverError(const std::string& detail) {
    throw VessoraError(L10n::text("Database operation failed (%@). Refresh to review the current "
                                  "state. No existing data was deleted.",
                                  {detail}));
}

// As the engine requires: three live server processes.
bool fullyRunning(const std::map<std::string, StackStatus>& statuses, const std::string& id) {
    const auto status = statuses.find(id);
    return status != statuses.end() && status->second.running &&
           status->second.processes.size() == 3;
}

bool hasDatabase(const DatabaseAdminSnapshot& snapshot, const std::string& name) {
    return std::any_of(snapshot.databases.begin(), snapshot.databases.end(),
                       [&](const ManagedDatabase& database) { return database.name == name; });
}

DatabaseAccount* findAccount(DatabaseAdminSnapshot& snapshot, const std::string& user,
                             const std::string& host) {
    for (DatabaseAccount& account : snapshot.users)
        if (account.name == user && account.host == host)
            return &account;
    return nullptr;
}

DatabaseAccount& requireEditable(DatabaseAdminSnapshot& snapshot, const std::string& user,
                                 const std::string& host) {
    DatabaseAccount* account = findAccount(snapshot, user, host);
    if (!account || !account->canEdit)
        refuse("This account is protected or has advanced privileges. Manage it in phpMyAdmin.");
    return *account;
}

void grant(DatabaseAccount& account, const std::string& database, DatabaseAccess access) {
    const std::vector<std::string>& names = DatabaseAccessLevels::privileges(access);
    if (names.empty())
        account.privileges.erase(database);
    else
        account.privileges[database] = std::set<std::string>(names.begin(), names.end());
}

} // namespace

void FakeAppEngine::setDatabaseSnapshot(const std::string& id, DatabaseAdminSnapshot snapshot) {
    std::lock_guard lock(mutex_);
    databases_[id] = std::move(snapshot);
}

DatabaseAdminSnapshot FakeAppEngine::databaseSnapshot(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto entry = databases_.find(id);
    return entry == databases_.end() ? DatabaseAdminSnapshot{} : entry->second;
}

void FakeAppEngine::failAccessChangeAfter(std::size_t appliedChanges, std::string text) {
    std::lock_guard lock(mutex_);
    accessFailure_ = std::make_pair(appliedChanges, std::move(text));
}

std::optional<std::string> FakeAppEngine::userPassword(const std::string& id,
                                                       const std::string& accountID) const {
    std::lock_guard lock(mutex_);
    const auto environment = userPasswords_.find(id);
    if (environment == userPasswords_.end())
        return std::nullopt;
    const auto entry = environment->second.find(accountID);
    if (entry == environment->second.end())
        return std::nullopt;
    return entry->second;
}

std::optional<std::string> FakeAppEngine::applicationPassword(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto entry = applicationPasswords_.find(id);
    if (entry == applicationPasswords_.end())
        return std::nullopt;
    return entry->second;
}

void FakeAppEngine::setApplicationPassword(const std::string& id, std::string password) {
    std::lock_guard lock(mutex_);
    applicationPasswords_[id] = std::move(password);
}

DatabaseAdminSnapshot& FakeAppEngine::runningDatabaseLocked(const std::string& id) {
    findLocked(id);
    if (!fullyRunning(statuses_, id))
        refuse("Start the environment to manage its active MariaDB instance.");
    return databases_[id];
}

DatabaseAdminSnapshot FakeAppEngine::databaseAdminSnapshot(const std::string& id) {
    const BusyClaim claim = enterGuarded("databaseAdminSnapshot", id);
    std::lock_guard lock(mutex_);
    return runningDatabaseLocked(id);
}

void FakeAppEngine::createDatabase(const std::string& id, const std::string& name,
                                   bool grantApplicationAccess) {
    const BusyClaim claim = enterGuarded("createDatabase", id + ", " + name);
    std::lock_guard lock(mutex_);
    DatabaseAdminSnapshot& snapshot = runningDatabaseLocked(id);
    DatabaseName::validate(name);
    if (hasDatabase(snapshot, name))
        serverError("ERROR 1007 (HY000)");
    ManagedDatabase database{name, 0, "utf8mb4_general_ci", name == findLocked(id)->databaseName};
    const auto at = std::find_if(snapshot.databases.begin(), snapshot.databases.end(),
                                 [&](const ManagedDatabase& other) { return other.name > name; });
    snapshot.databases.insert(at, database);
    if (!grantApplicationAccess)
        return;
    if (DatabaseAccount* application = findAccount(snapshot, "vessora", localHost))
        grant(*application, name, DatabaseAccess::admin);
}

void FakeAppEngine::createDatabaseUser(const std::string& id, const std::string& name,
                                       const std::string& password, const std::string& database,
                                       DatabaseAccess access) {
    const BusyClaim claim = enterGuarded("createDatabaseUser", id + ", " + name + ", " + database +
                                                                   ", " + rawValue(access));
    std::lock_guard lock(mutex_);
    DatabaseAdminSnapshot& snapshot = runningDatabaseLocked(id);
    DatabaseAccountName::validateNew(name, administrator);
    DatabasePassword::validate(password);
    DatabaseName::validate(database);
    if (!hasDatabase(snapshot, database))
        refuse("The selected database no longer exists. Refresh the list.");
    if (access == DatabaseAccess::custom)
        refuse("Choose an access level.");
    if (findAccount(snapshot, name, localHost))
        serverError("ERROR 1396 (HY000)");
    DatabaseAccount account{name, localHost, true, false, {}};
    grant(account, database, access);
    const auto at = std::find_if(
        snapshot.users.begin(), snapshot.users.end(), [&](const DatabaseAccount& other) {
            return std::tie(other.name, other.host) > std::tie(account.name, account.host);
        });
    snapshot.users.insert(at, account);
    userPasswords_[id][account.id()] = password;
}

void FakeAppEngine::setDatabaseAccess(const std::string& id, const std::string& user,
                                      const std::string& host,
                                      const std::vector<DatabaseAccessChange>& changes) {
    std::string argument = id + ", " + user + "@" + host;
    for (const DatabaseAccessChange& change : changes)
        argument += ", " + change.database + "=" + rawValue(change.access);
    const BusyClaim claim = enterGuarded("setDatabaseAccess", argument);
    std::lock_guard lock(mutex_);
    DatabaseAdminSnapshot& snapshot = runningDatabaseLocked(id);
    DatabaseAccount& account = requireEditable(snapshot, user, host);
    std::set<std::string> named;
    for (const DatabaseAccessChange& change : changes)
        if (!named.insert(change.database).second)
            refuse("Choose one access level per database.");
    const std::string primary = findLocked(id)->databaseName;
    for (const DatabaseAccessChange& change : changes) {
        DatabaseName::validate(change.database);
        if (!hasDatabase(snapshot, change.database))
            refuse("The selected database no longer exists. Refresh the list.");
        if (change.access == DatabaseAccess::custom ||
            (account.isApplication && change.database == primary))
            refuse("The application account’s primary database access is managed by Vessora.");
        const auto held = account.privileges.find(change.database);
        const std::set<std::string> current =
            held == account.privileges.end() ? std::set<std::string>() : held->second;
        if (current != change.previousPrivileges)
            refuse("Permissions changed in another client. Refresh and review them before "
                   "saving.");
    }
    std::optional<std::pair<std::size_t, std::string>> failure;
    failure.swap(accessFailure_);
    for (std::size_t index = 0; index < changes.size(); ++index) {
        if (failure && index == failure->first)
            throw VessoraError(failure->second);
        grant(account, changes[index].database, changes[index].access);
    }
    if (failure)
        throw VessoraError(failure->second);
}

void FakeAppEngine::changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                               const std::string& host,
                                               const std::string& password) {
    const BusyClaim claim =
        enterGuarded("changeDatabaseUserPassword", id + ", " + user + "@" + host);
    std::lock_guard lock(mutex_);
    DatabaseAdminSnapshot& snapshot = runningDatabaseLocked(id);
    DatabasePassword::validate(password);
    const DatabaseAccount& account = requireEditable(snapshot, user, host);
    if (!account.canChangePassword())
        refuse("Use DB credentials to change the application account’s password.");
    userPasswords_[id][account.id()] = password;
}

void FakeAppEngine::deleteDatabaseUser(const std::string& id, const std::string& user,
                                       const std::string& host) {
    const BusyClaim claim = enterGuarded("deleteDatabaseUser", id + ", " + user + "@" + host);
    std::lock_guard lock(mutex_);
    DatabaseAdminSnapshot& snapshot = runningDatabaseLocked(id);
    const DatabaseAccount& account = requireEditable(snapshot, user, host);
    if (!account.canDelete())
        refuse("Built-in accounts cannot be removed.");
    userPasswords_[id].erase(account.id());
    snapshot.users.erase(std::find(snapshot.users.begin(), snapshot.users.end(), account));
}

std::string FakeAppEngine::executeSQL(const std::string& id, const std::string& statement) {
    const BusyClaim claim = enterGuarded("executeSQL", id + ", " + statement);
    std::lock_guard lock(mutex_);
    findLocked(id);
    if (!fullyRunning(statuses_, id))
        refuse("The environment is not fully running.");
    return {};
}

DatabaseCredentials FakeAppEngine::databaseCredentials(const std::string& id) {
    record("databaseCredentials", id);
    if (busy_.load())
        refuse("Another Vessora action is still in progress.");
    pass("databaseCredentials");
    std::lock_guard lock(mutex_);
    const StackProfile profile = *findLocked(id);
    // Like the engine, a first read makes the stored password.
    auto stored = applicationPasswords_.try_emplace(id, "generated-" + id).first;
    return DatabaseCredentials{profile.databaseName, profile.databasePort, stored->second};
}

void FakeAppEngine::setDatabasePassword(const std::string& id, const std::string& password) {
    const BusyClaim claim = enterGuarded("setDatabasePassword", id);
    std::lock_guard lock(mutex_);
    findLocked(id);
    const auto status = statuses_.find(id);
    if (status != statuses_.end() && !status->second.processes.empty())
        refuse("Stop the environment before changing its settings.");
    DatabasePassword::validate(password);
    applicationPasswords_[id] = password;
}

} // namespace vessora
