// MariaDB at start: the one-time data-directory set-up and the statements
// that (re)create the accounts and the identity row every start relies on.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <algorithm>
#include <regex>

namespace vessora {

namespace fs = std::filesystem;

std::string StackEngine::setupStatement(const StackProfile& profile, const std::string& password) {
    const std::string account = SQLQuoting::accountLiteral("vessora", "127.0.0.1");
    const std::string quotedPassword = SQLQuoting::stringLiteral(password);
    return "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';\nCREATE DATABASE IF NOT EXISTS " +
           SQLQuoting::identifier(profile.databaseName) +
           " CHARACTER SET utf8mb4;\nCREATE USER IF NOT EXISTS " + account + " IDENTIFIED BY " +
           quotedPassword + ";\nALTER USER " + account + " IDENTIFIED BY " + quotedPassword +
           ";\nGRANT ALL PRIVILEGES ON " + SQLQuoting::grantPattern(profile.databaseName) +
           ".* TO " + account +
           ";\nCREATE DATABASE IF NOT EXISTS vessora_internal;\n"
           "CREATE TABLE IF NOT EXISTS vessora_internal.setup_identity (name VARCHAR(80) PRIMARY "
           "KEY);\nINSERT IGNORE INTO vessora_internal.setup_identity VALUES (" +
           SQLQuoting::stringLiteral(profile.id) +
           ");\nGRANT SELECT ON "
           "vessora_internal.setup_identity TO " +
           account + ";";
}

std::string StackEngine::phpMyAdminStatement(const std::optional<std::string>& password) {
    if (!password)
        return "DROP USER IF EXISTS 'vessora_admin'@'127.0.0.1';";
    // Hexadecimal digits only: nothing to quote.
    return "CREATE USER IF NOT EXISTS 'vessora_admin'@'127.0.0.1' IDENTIFIED BY '" + *password +
           "';\nALTER USER 'vessora_admin'@'127.0.0.1' IDENTIFIED BY '" + *password +
           "';\nGRANT ALL PRIVILEGES ON *.* TO 'vessora_admin'@'127.0.0.1' WITH GRANT OPTION;";
}

namespace {

// "ERROR 1146 (42S02) at line 3: ..." as the client reports a failing
// statement of its input. Built at first use, not at program start.
const std::regex& failedLine() {
    static const std::regex line("^(ERROR [0-9]+ \\([0-9A-Z]+\\) at line )([0-9]+)(:)",
                                 std::regex::ECMAScript | std::regex::multiline);
    return line;
}

// Written once the data directory is set up.
fs::path initializedMarker(const StackPaths& paths) {
    return paths.data() / ".vessora-initialized";
}

} // namespace

void StackEngine::setUpAccounts(const StackProfile& profile, const fs::path& prefix,
                                const std::string& password,
                                const std::optional<std::string>& phpMyAdminPassword) const {
    const std::string setup = setupStatement(profile, password);
    CommandResult result =
        runSQL(profile, prefix, setup + "\n" + phpMyAdminStatement(phpMyAdminPassword));
    if (result.status == 0)
        return;
    // The client stops at the first failing statement, as the first of two
    // runs would have stopped the start. A failure it places after the
    // set-up's lines is the second text's own, told at the line a run of
    // that text alone would have named; anything else, a failed connection
    // included, is the set-up's.
    const auto setupLines = std::count(setup.begin(), setup.end(), '\n') + 1;
    std::smatch match;
    const bool second = std::regex_search(result.output, match, failedLine()) &&
                        match[2].length() < 10 && std::stol(match[2].str()) > setupLines;
    if (!second || phpMyAdminPassword)
        throw VessoraError(L10n::text(
            "Could not configure database credentials. The environment has been stopped."));
    result.output = match.prefix().str() + match[1].str() +
                    std::to_string(std::stol(match[2].str()) - setupLines) + match[3].str() +
                    match.suffix().str();
    throw VessoraError(result.failureMessage("mariadb"));
}

bool StackEngine::databaseInitialized(const StackPaths& paths) {
    return fs::exists(fs::symlink_status(initializedMarker(paths)));
}

void StackEngine::initializeDatabase(const StartPlan& plan) {
    const fs::path data = plan.paths.data();
    const fs::path marker = initializedMarker(plan.paths);
    if (databaseInitialized(plan.paths))
        return;
    // A data directory with files but no marker may hold someone's data
    // from an interrupted set-up: never initialise over it.
    if (fs::directory_iterator(data) != fs::directory_iterator())
        throw VessoraError(L10n::text(
            "Incomplete data directory: %@. Inspect and move it manually before trying again.",
            {data.string()}));
    const CommandResult result =
        Command::run(plan.dbPrefix / "bin" / "mariadb-install-db",
                     {"--no-defaults", "--basedir=" + plan.dbPrefix.string(),
                      "--datadir=" + data.string(), "--auth-root-authentication-method=socket",
                      "--auth-root-socket-user=" + loginName(), "--skip-test-db"},
                     // Every MariaDB server that starts clears the "#sql" files of its
                     // temporary folder; a private one keeps the set-up's own temporary
                     // tables away from servers starting elsewhere.
                     {.log = plan.paths.logs() / "database-init.log",
                      .timeout = 180,
                      .environment = {{"TMPDIR", (plan.paths.directory() / "tmp").string()}}});
    if (result.status != 0)
        throw VessoraError(result.failureMessage("mariadb-install-db"));
    write(plan.profile.mariaDB, marker);
}

} // namespace vessora
