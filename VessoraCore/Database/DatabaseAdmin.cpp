// The client run, the guards and the five administration commands.
#include "VessoraCore/Database/DatabaseAdmin.hpp"

#include "VessoraCore/Database/DatabaseAccountName.hpp"
#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"

#include <algorithm>
#include <regex>
#include <set>

namespace vessora {

namespace fs = std::filesystem;

namespace {

const std::string applicationAccount = SQLQuoting::accountLiteral("vessora", "127.0.0.1");

} // namespace

DatabaseAdmin::DatabaseAdmin(StackProfile profile, fs::path prefix, fs::path socket,
                             std::string administrator, Runner runner)
    : profile_(std::move(profile)), prefix_(std::move(prefix)), socket_(std::move(socket)),
      administrator_(std::move(administrator)), runner_(std::move(runner)) {}

CommandResult DatabaseAdmin::execute(const std::string& sql) const {
    CommandResult result =
        runner_(prefix_ / "bin" / "mariadb",
                {"--no-defaults", "--protocol=socket", "--socket=" + socket_.string(),
                 "--user=" + administrator_, "--default-character-set=utf8mb4",
                 "--connect-timeout=2", "--batch", "--raw", "--skip-column-names"},
                {.timeout = timeout,
                 .input = "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';\n" + sql,
                 .outputLimit = outputLimit});
    if (result.status == 0)
        return result;
    std::smatch match;
    const std::string detail =
        std::regex_search(result.output, match, std::regex("ERROR [0-9]+(?: \\([A-Z0-9]+\\))?"))
            ? match.str()
            : std::to_string(result.status);
    throw VessoraError(L10n::text("Database operation failed (%@). Refresh to review the current "
                                  "state. No existing data was deleted.",
                                  {detail}));
}

std::string DatabaseAdmin::readAll(const std::string& sql) const {
    CommandResult result = execute(sql);
    // Cut at a line boundary the rest would still decode, silently missing
    // databases, accounts or the grants that protect an account.
    if (result.outputTruncated)
        throw VessoraError(L10n::text("The database inventory is larger than 4 MiB and cannot be "
                                      "read completely. No changes were made."));
    return std::move(result.output);
}

DatabaseAdminSnapshot DatabaseAdmin::snapshot() const {
    return decode(readAll(inventoryQuery()), profile_, administrator_);
}

std::string DatabaseAdmin::privilegeSQL(DatabaseAccess access) {
    if (access == DatabaseAccess::admin)
        return "ALL PRIVILEGES";
    if (access != DatabaseAccess::readOnly && access != DatabaseAccess::readWrite)
        return "";
    std::vector<std::string> names = DatabaseAccessLevels::privileges(access);
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

void DatabaseAdmin::requireDatabase(const std::string& name,
                                    const DatabaseAdminSnapshot& snapshot) {
    DatabaseName::validate(name);
    if (std::none_of(snapshot.databases.begin(), snapshot.databases.end(),
                     [&](const ManagedDatabase& database) { return database.name == name; }))
        throw VessoraError(L10n::text("The selected database no longer exists. Refresh the list."));
}

DatabaseAccount DatabaseAdmin::requireEditable(const std::string& user, const std::string& host,
                                               const DatabaseAdminSnapshot& snapshot) {
    const auto account = std::find_if(
        snapshot.users.begin(), snapshot.users.end(),
        [&](const DatabaseAccount& item) { return item.name == user && item.host == host; });
    if (account == snapshot.users.end() || !account->canEdit)
        throw VessoraError(L10n::text(
            "This account is protected or has advanced privileges. Manage it in phpMyAdmin."));
    return *account;
}

void DatabaseAdmin::createDatabase(const std::string& name, bool grantApplicationAccess) const {
    DatabaseName::validate(name);
    std::string sql = "CREATE DATABASE " + SQLQuoting::identifier(name) +
                      " CHARACTER SET utf8mb4;" +
                      leftoverRevokes(readAll(leftoverGrantsQuery(name)), name);
    if (grantApplicationAccess)
        sql += "\nGRANT ALL PRIVILEGES ON " + SQLQuoting::grantPattern(name) + ".* TO " +
               applicationAccount + ";";
    run(sql);
}

void DatabaseAdmin::createUser(const std::string& name, const std::string& password,
                               const std::string& database, DatabaseAccess access) const {
    DatabaseAccountName::validateNew(name, administrator_);
    DatabasePassword::validate(password);
    requireDatabase(database, snapshot());
    if (access == DatabaseAccess::custom)
        throw VessoraError(L10n::text("Choose an access level."));
    const std::string account = SQLQuoting::accountLiteral(name, "127.0.0.1");
    run("CREATE USER " + account + " IDENTIFIED BY " + SQLQuoting::stringLiteral(password) + ";");
    if (access != DatabaseAccess::none)
        run("GRANT " + privilegeSQL(access) + " ON " + SQLQuoting::grantPattern(database) +
            ".* TO " + account + ";");
}

void DatabaseAdmin::setAccess(const std::string& user, const std::string& host,
                              const std::vector<DatabaseAccessChange>& changes) const {
    const DatabaseAdminSnapshot current = snapshot();
    const DatabaseAccount account = requireEditable(user, host, current);

    std::set<std::string> named;
    for (const DatabaseAccessChange& change : changes)
        if (!named.insert(change.database).second)
            throw VessoraError(L10n::text("Choose one access level per database."));

    for (const DatabaseAccessChange& change : changes) {
        requireDatabase(change.database, current);
        if (change.access == DatabaseAccess::custom ||
            (account.isApplication && change.database == profile_.databaseName))
            throw VessoraError(L10n::text(
                "The application account’s primary database access is managed by Vessora."));
        const auto held = account.privileges.find(change.database);
        const std::set<std::string> privileges =
            held == account.privileges.end() ? std::set<std::string>() : held->second;
        if (privileges != change.previousPrivileges)
            throw VessoraError(L10n::text(
                "Permissions changed in another client. Refresh and review them before saving."));
    }

    const std::string literal = SQLQuoting::accountLiteral(user, host);
    for (const DatabaseAccessChange& change : changes) {
        const std::string pattern = SQLQuoting::grantPattern(change.database);
        if (!change.previousPrivileges.empty())
            run("REVOKE ALL PRIVILEGES ON " + pattern + ".* FROM " + literal + ";");
        if (change.access != DatabaseAccess::none)
            run("GRANT " + privilegeSQL(change.access) + " ON " + pattern + ".* TO " + literal +
                ";");
    }
}

void DatabaseAdmin::changePassword(const std::string& user, const std::string& host,
                                   const std::string& password) const {
    DatabasePassword::validate(password);
    const DatabaseAccount account = requireEditable(user, host, snapshot());
    if (!account.canChangePassword())
        throw VessoraError(
            L10n::text("Use DB credentials to change the application account’s password."));
    run("ALTER USER " + SQLQuoting::accountLiteral(user, host) + " IDENTIFIED BY " +
        SQLQuoting::stringLiteral(password) + ";");
}

void DatabaseAdmin::deleteUser(const std::string& user, const std::string& host) const {
    const DatabaseAccount account = requireEditable(user, host, snapshot());
    if (!account.canDelete())
        throw VessoraError(L10n::text("Built-in accounts cannot be removed."));
    run("DROP USER " + SQLQuoting::accountLiteral(user, host) + ";");
}

} // namespace vessora
