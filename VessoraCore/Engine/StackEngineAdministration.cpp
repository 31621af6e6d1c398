// The database operations of a running environment and the application
// account's credentials. Each takes the busy flag like every guarded
// operation, so it never overlaps a start, a stop or another change.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <algorithm>

namespace vessora {

bool StackEngine::fullyRunning(const std::string& id) const {
    ProcessList list;
    {
        std::lock_guard lock(mutex_);
        const auto entry = processes_.find(id);
        if (entry == processes_.end())
            return false;
        list = entry->second;
    }
    return list.size() == 3 && std::all_of(list.begin(), list.end(), [](const auto& process) {
               return process->isRunning();
           });
}

DatabaseAdmin StackEngine::databaseAdmin(const std::string& id) {
    const StackProfile profile = find(id);
    if (!fullyRunning(id))
        throw VessoraError(
            L10n::text("Start the environment to manage its active MariaDB instance."));
    std::filesystem::path prefix = brew_.prefix(profile.mariaDB);
    return DatabaseAdmin(profile, std::move(prefix), socketFile(id), loginName());
}

DatabaseAdminSnapshot StackEngine::databaseAdminSnapshot(const std::string& id) {
    BusyGuard guard(busy_);
    return databaseAdmin(id).snapshot();
}

void StackEngine::createDatabase(const std::string& id, const std::string& name,
                                 bool grantApplicationAccess) {
    BusyGuard guard(busy_);
    databaseAdmin(id).createDatabase(name, grantApplicationAccess);
}

void StackEngine::createDatabaseUser(const std::string& id, const std::string& name,
                                     const std::string& password, const std::string& database,
                                     DatabaseAccess access) {
    BusyGuard guard(busy_);
    databaseAdmin(id).createUser(name, password, database, access);
}

void StackEngine::setDatabaseAccess(const std::string& id, const std::string& user,
                                    const std::string& host,
                                    const std::vector<DatabaseAccessChange>& changes) {
    BusyGuard guard(busy_);
    databaseAdmin(id).setAccess(user, host, changes);
}

void StackEngine::changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                             const std::string& host, const std::string& password) {
    BusyGuard guard(busy_);
    databaseAdmin(id).changePassword(user, host, password);
}

void StackEngine::deleteDatabaseUser(const std::string& id, const std::string& user,
                                     const std::string& host) {
    BusyGuard guard(busy_);
    databaseAdmin(id).deleteUser(user, host);
}

std::string StackEngine::executeSQL(const std::string& id, const std::string& statement) {
    BusyGuard guard(busy_);
    const StackProfile profile = find(id);
    if (!fullyRunning(id))
        throw VessoraError(L10n::text("The environment is not fully running."));
    return sql(profile, brew_.prefix(profile.mariaDB), statement, false);
}

DatabaseCredentials StackEngine::databaseCredentials(const std::string& id) {
    if (busy_.load())
        throw VessoraError(L10n::text("Another Vessora action is still in progress."));
    const StackProfile profile = findInPlace(id);
    const StackPaths paths(root_, profile);
    PrivateFile::createDirectories(paths.config());
    return DatabaseCredentials{profile.databaseName, profile.databasePort,
                               applicationPassword(paths)};
}

void StackEngine::setDatabasePassword(const std::string& id, const std::string& password) {
    BusyGuard guard(busy_);
    const StackProfile profile = findInPlace(id);
    if (hasProcesses(id))
        throw VessoraError(L10n::text("Stop the environment before changing its settings."));
    DatabasePassword::validate(password);
    const StackPaths paths(root_, profile);
    PrivateFile::createDirectories(paths.config());
    write(password, paths.databasePassword());
}

} // namespace vessora
