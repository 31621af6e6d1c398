// Loading an imported SQL dump into a starting environment's database.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Database/SQLQuoting.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/BulkLoadSettings.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <cstdlib>
#include <regex>
#include <sstream>

namespace vessora {

namespace fs = std::filesystem;

namespace {

std::string optionValue(const std::string& password) {
    std::string result = "\"";
    for (const char c : password) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

constexpr std::size_t importDetailLimit = 300;

// The client's first error line, at most importDetailLimit bytes, else the
// exit status.
std::string importFailureDetail(const std::string& output, int status) {
    // A server error, or the client's own refusal of a backslash command
    // ("ERROR at line 3: Unknown command '\!'."): its whole first line, so
    // the server's reason reaches the user.
    std::smatch match;
    if (!std::regex_search(output, match,
                           std::regex("ERROR [0-9]+(?: \\([A-Z0-9]+\\))?(?: at line [0-9]+)?|"
                                      "ERROR at line [0-9]+")))
        return std::to_string(status);
    const std::size_t begin = std::size_t(match.position(0));
    std::string line = output.substr(begin, output.find('\n', begin) - begin);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    if (line.size() > importDetailLimit) {
        std::size_t cut = importDetailLimit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut; // never inside a character
        line = line.substr(0, cut) + "…";
    }
    return line;
}

// The server's counts of the statements that act on databases, by their
// status names.
struct DatabaseCounts {
    std::int64_t created = 0;
    std::int64_t dropped = 0;
    std::int64_t altered = 0;
    std::int64_t changed = 0;
};

const char* const countsQuery =
    "SHOW GLOBAL STATUS WHERE Variable_name IN "
    "('Com_create_db', 'Com_drop_db', 'Com_alter_db', 'Com_change_db');";

DatabaseCounts databaseCounts(const std::string& output) {
    DatabaseCounts counts;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string name = line.substr(0, tab);
        const std::int64_t value = std::strtoll(line.c_str() + tab + 1, nullptr, 10);
        if (name == "Com_create_db")
            counts.created = value;
        else if (name == "Com_drop_db")
            counts.dropped = value;
        else if (name == "Com_alter_db")
            counts.altered = value;
        else if (name == "Com_change_db")
            counts.changed = value;
    }
    return counts;
}

// After a load: the database is there, and the server ran just the
// database statements preparation left in the dump.
void confirmLoad(const std::string& database, const SQLDump::Summary& prepared,
                 const DatabaseCounts& before, const DatabaseCounts& after, bool present) {
    if (!present)
        throw VessoraError(L10n::text(
            "The SQL dump removed the database “%@” while it loaded, so nothing of it was "
            "imported. Remove the DROP DATABASE statement from the dump, or export the database "
            "again.",
            {database}));
    std::string ran;
    const auto unread = [&](std::string_view statement, std::int64_t count) {
        if (count != 0)
            ran += (ran.empty() ? "" : ", ") + std::string(statement) + " " + std::to_string(count);
    };
    unread("CREATE DATABASE", after.created - before.created);
    unread("DROP DATABASE", after.dropped - before.dropped);
    unread("ALTER DATABASE", after.altered - before.altered - prepared.alterations);
    unread("USE", after.changed - before.changed - prepared.selections);
    if (!ran.empty())
        throw VessoraError(L10n::text(
            "While the SQL dump loaded, the server ran database statements that preparing it "
            "could not see (%@), so the database “%@” may not hold what the dump meant. Remove "
            "those statements from the dump, or export the database again.",
            {ran, database}));
}

} // namespace

void StackEngine::importDatabase(const StackPaths& paths, const fs::path& prefix,
                                 const fs::path& input, const std::string& password,
                                 const std::optional<SQLDump::Summary>& prepared) {
    const StackProfile& profile = paths.profile();
    const RemovedOnExit options(paths.migrationClientOptions());
    // The client's packet limit matches the server's, so statements up to
    // 64 MiB (plus the packet's command byte) pass in both directions.
    write("[client]\npassword=" + optionValue(password) + "\nmax-allowed-packet=65M\n",
          options.path());
    // Raised only while the client runs: the server's file keeps its values.
    const BulkLoadSettings bulkLoad(
        [&](const std::string& statement) { return sql(profile, prefix, statement, false); });
    // Nothing else runs on the environment's private server meanwhile.
    const DatabaseCounts before =
        prepared ? databaseCounts(sql(profile, prefix, countsQuery, false)) : DatabaseCounts{};
    const CommandResult result = Command::run(
        prefix / "bin" / "mariadb",
        {"--defaults-file=" + options.path().string(), "--protocol=tcp", "--host=127.0.0.1",
         "--port=" + std::to_string(profile.databasePort), "--user=vessora",
         "--database=" + profile.databaseName, "--default-character-set=utf8mb4", "--sandbox",
         "--binary-mode", "--local-infile=0", "--skip-reconnect", "--connect-timeout=5", "--batch"},
        {.log = paths.importLog(), .timeout = 300, .inputFile = input, .outputLimit = 64000});
    if (result.status == 0) {
        if (prepared) {
            const DatabaseCounts after = databaseCounts(sql(profile, prefix, countsQuery, false));
            const std::string present =
                sql(profile, prefix,
                    "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
                        SQLQuoting::stringLiteral(profile.databaseName) + ";",
                    false);
            confirmLoad(profile.databaseName, *prepared, before, after, present.starts_with("1"));
        }
        return;
    }
    throw VessoraError(L10n::text(
        "SQL import failed (%@). The new environment has been stopped. Check version "
        "compatibility, collations, DEFINER clauses and qualified database names before retrying.",
        {importFailureDetail(result.output, result.status)}));
}

} // namespace vessora
