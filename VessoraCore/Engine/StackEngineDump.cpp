// Loading an imported SQL dump into a starting environment's database.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/BulkLoadSettings.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <regex>

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

} // namespace

void StackEngine::importDatabase(const StackPaths& paths, const fs::path& prefix,
                                 const fs::path& input, const std::string& password) {
    const StackProfile& profile = paths.profile();
    const RemovedOnExit options(paths.config() / ".migration-client.cnf");
    // The client's packet limit matches the server's, so statements up to
    // 64 MiB (plus the packet's command byte) pass in both directions.
    write("[client]\npassword=" + optionValue(password) + "\nmax-allowed-packet=65M\n",
          options.path());
    // Raised only while the client runs: the server's file keeps its values.
    const BulkLoadSettings bulkLoad(
        [&](const std::string& statement) { return sql(profile, prefix, statement, false); });
    const CommandResult result = Command::run(
        prefix / "bin" / "mariadb",
        {"--defaults-file=" + options.path().string(), "--protocol=tcp", "--host=127.0.0.1",
         "--port=" + std::to_string(profile.databasePort), "--user=vessora",
         "--database=" + profile.databaseName, "--default-character-set=utf8mb4", "--sandbox",
         "--binary-mode", "--local-infile=0", "--skip-reconnect", "--connect-timeout=5", "--batch"},
        {.timeout = 300, .inputFile = input, .outputLimit = 64000});
    if (result.status == 0)
        return;
    // A server error, or the client's own refusal of a backslash command
    // ("ERROR at line 3: Unknown command '\!'.").
    std::smatch match;
    const std::string detail =
        std::regex_search(result.output, match,
                          std::regex("ERROR [0-9]+(?: \\([A-Z0-9]+\\))?(?: at line [0-9]+)?|"
                                     "ERROR at line [0-9]+"))
            ? match.str()
            : std::to_string(result.status);
    throw VessoraError(L10n::text(
        "SQL import failed (%@). The new environment has been stopped. Check version "
        "compatibility, collations, DEFINER clauses and qualified database names before retrying.",
        {detail}));
}

} // namespace vessora
