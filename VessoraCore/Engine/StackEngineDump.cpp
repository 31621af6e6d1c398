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

} // namespace

void StackEngine::importDatabase(const StackPaths& paths, const fs::path& prefix,
                                 const fs::path& input, const std::string& password) {
    const StackProfile& profile = paths.profile();
    const RemovedOnExit options(paths.migrationClientOptions());
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
        {.log = paths.importLog(), .timeout = 300, .inputFile = input, .outputLimit = 64000});
    if (result.status == 0)
        return;
    throw VessoraError(L10n::text(
        "SQL import failed (%@). The new environment has been stopped. Check version "
        "compatibility, collations, DEFINER clauses and qualified database names before retrying.",
        {importFailureDetail(result.output, result.status)}));
}

} // namespace vessora
