// The SQL runner: one statement text through the MariaDB client, over the
// environment's private socket, as the user running the application.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <pwd.h>
#include <unistd.h>

namespace vessora {

std::string StackEngine::loginName() {
    // The data directory grants socket access to the effective user's name.
    const passwd* entry = ::getpwuid(::geteuid());
    if (!entry || !entry->pw_name)
        throw VessoraError(L10n::text("Could not determine the current user's login name."));
    return entry->pw_name;
}

CommandResult StackEngine::runSQL(const StackProfile& profile, const std::filesystem::path& prefix,
                                  const std::string& statement) const {
    return Command::run(prefix / "bin" / "mariadb",
                        {"--no-defaults", "--protocol=socket",
                         "--socket=" + socketFile(profile.id).string(), "--user=" + loginName(),
                         "--default-character-set=utf8mb4", "--connect-timeout=2", "--batch",
                         "--skip-column-names"},
                        {.timeout = 10, .input = statement});
}

std::string StackEngine::sql(const StackProfile& profile, const std::filesystem::path& prefix,
                             const std::string& statement, bool sensitive) const {
    const CommandResult result = runSQL(profile, prefix, statement);
    if (result.status == 0)
        return result.output;
    if (sensitive)
        throw VessoraError(L10n::text(
            "Could not configure database credentials. The environment has been stopped."));
    throw VessoraError(result.failureMessage("mariadb"));
}

} // namespace vessora
