// Administration of one running environment's MariaDB through its
// command-line client, connected over the environment's private socket as
// the login user (`administrator`). Built by the engine for one operation.
//
// Every call is one client run: "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';"
// and then the SQL text on standard input, 15 s time-out, at most 4 MiB of
// output. Statements are built from fixed text and SQLQuoting's forms.
// Each account change first reads the inventory afresh and refuses what the
// system does not manage or what changed since the window showed it; a
// failing statement ends the operation and leaves the statements before it
// applied (nothing is rolled back). Errors are VessoraError sentences, or
// the runner's own (time-out, launch) passed through.
//
// The runner is a parameter so tests can capture the exact arguments and
// SQL and answer with canned output.
#pragma once

#include "VessoraCore/Database/DatabaseAccess.hpp"
#include "VessoraCore/Database/DatabaseAccessChange.hpp"
#include "VessoraCore/Database/DatabaseAdminSnapshot.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

class DatabaseAdmin {
public:
    using Runner = std::function<CommandResult(const std::filesystem::path& executable,
                                               const std::vector<std::string>& arguments,
                                               const CommandOptions& options)>;

    static constexpr std::size_t outputLimit = 4 * 1024 * 1024;
    static constexpr double timeout = 15;

    // `prefix`: the MariaDB formula's installation folder ("bin/mariadb"
    // inside it); `socket`: the environment's MariaDB socket.
    DatabaseAdmin(StackProfile profile, std::filesystem::path prefix, std::filesystem::path socket,
                  std::string administrator, Runner runner = Command::run);

    const StackProfile& profile() const { return profile_; }
    const std::string& administrator() const { return administrator_; }

    // The inventory: one JSON object per output line (databases, accounts,
    // schema grants, and the accounts with rights the system does not manage).
    static const std::string& inventoryQuery();
    // The inventory's output as a snapshot. Throws the JSON decoder's error
    // at the first line that is not a JSON object with a text "kind" or that
    // holds a value of the wrong type; nothing partial is returned.
    static DatabaseAdminSnapshot decode(std::string_view output, const StackProfile& profile,
                                        std::string_view administrator);

    // Runs the inventory and decodes it. An inventory larger than the output
    // limit is refused rather than decoded in part.
    DatabaseAdminSnapshot snapshot() const;

    // CREATE DATABASE (utf8mb4), then the removal of every grant MariaDB
    // kept for a dropped database of exactly that name (database, table,
    // column and routine level, whoever holds them), then, when asked, all
    // privileges on it for the application account: the new database opens
    // to nobody else. One client run, so an existing database stops it
    // before any grant is touched. Reads no inventory.
    void createDatabase(const std::string& name, bool grantApplicationAccess) const;
    // A new account at 127.0.0.1 with the level on one existing database
    // (none: no grant at all).
    void createUser(const std::string& name, const std::string& password,
                    const std::string& database, DatabaseAccess access) const;
    // Checks every change before the first statement runs, then per change
    // REVOKE (when it had privileges) and GRANT (unless the level is none).
    void setAccess(const std::string& user, const std::string& host,
                   const std::vector<DatabaseAccessChange>& changes) const;
    void changePassword(const std::string& user, const std::string& host,
                        const std::string& password) const;
    void deleteUser(const std::string& user, const std::string& host) const;

private:
    // One client run; a non-zero exit becomes the "Database operation
    // failed" sentence with the server's error number and SQLSTATE.
    CommandResult execute(const std::string& sql) const;
    std::string run(const std::string& sql) const { return execute(sql).output; }
    // The output of a read, refused when the output limit cut it.
    std::string readAll(const std::string& sql) const;

    // The non-empty lines of the client's output.
    static std::vector<std::string_view> outputLines(std::string_view output);
    // One JSON line per stored grant on exactly this database's name, and
    // the REVOKE statements (each after a line feed) that remove them.
    static std::string leftoverGrantsQuery(const std::string& database);
    static std::string leftoverRevokes(std::string_view output, const std::string& database);

    // "ALL PRIVILEGES" for admin; the level's set sorted and joined with
    // ", " for readOnly and readWrite; empty otherwise.
    static std::string privilegeSQL(DatabaseAccess access);
    static void requireDatabase(const std::string& name, const DatabaseAdminSnapshot& snapshot);
    static DatabaseAccount requireEditable(const std::string& user, const std::string& host,
                                           const DatabaseAdminSnapshot& snapshot);

    StackProfile profile_;
    std::filesystem::path prefix_;
    std::filesystem::path socket_;
    std::string administrator_;
    Runner runner_;
};

} // namespace vessora
