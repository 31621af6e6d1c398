// The start run: refusals, checks and preparation, then the launches and
// readiness checks, and the way back down when any of it fails.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/PhpMyAdminFiles.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"

#include <nlohmann/json.hpp>

#include <exception>
#include <future>
#include <optional>
#include <regex>

namespace vessora {

namespace fs = std::filesystem;

namespace {

// The value of a query that succeeded, or none when it threw.
std::optional<fs::path> resultOf(const std::shared_future<fs::path>& query) {
    try {
        return query.get();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void requireSuccess(const CommandResult& result, const std::string& program) {
    if (result.status != 0)
        throw VessoraError(result.failureMessage(program));
}

bool stringEqual(const nlohmann::json& object, const char* key, const std::string& expected) {
    const auto value = object.find(key);
    return value != object.end() && value->is_string() &&
           value->get_ref<const std::string&>() == expected;
}

} // namespace

bool StackEngine::importUnfinished(const fs::path& report) {
    std::error_code error;
    if (!fs::exists(report, error))
        return false;
    try {
        return !MigrationReport::fromJSON(JsonFields::parse(PrivateFile::read(report))).succeeded;
    } catch (const std::exception&) {
        return true;
    }
}

void StackEngine::start(const std::string& id) {
    BusyGuard guard(busy_);
    startUnlocked(id, std::nullopt, false);
}

void StackEngine::startUnlocked(const std::string& id, const std::optional<fs::path>& importSQL,
                                bool migrating, const std::optional<SQLDump::Summary>& prepared) {
    const StackProfile profile = findInPlace(id);
    if (!migrating && importUnfinished(StackPaths(root_, profile).migrationReport()))
        throw VessoraError(L10n::text("This migration is incomplete. Review its report, then "
                                      "remove the new environment and retry."));
    {
        std::lock_guard lock(mutex_);
        if (processes_.count(id) != 0)
            throw VessoraError(L10n::text("This environment is already running. Stop it first."));
        failures_.erase(id);
        if (profile.standardPorts && !localHostsEnabled_)
            throw VessoraError(L10n::text(
                "Enable local host setup before starting an environment without port numbers."));
    }
    try {
        launchStart(prepareStart(profile), importSQL, prepared);
    } catch (const std::exception& error) {
        takeDown(id, error.what());
        throw;
    }
}

StackEngine::StartPlan StackEngine::prepareStart(const StackProfile& profile) {
    // Apache's FastCGI proxy refuses every script whose file path holds a
    // "?", so from such a data root it could serve no PHP at all.
    if (profile.webserver == "httpd" && root_.string().find('?') != std::string::npos)
        throw VessoraError(L10n::text("Apache cannot serve PHP from a data path that contains a "
                                      "question mark. Choose nginx for this environment."));
    // A record stored before the grant-length rule still loads; its grants
    // could never be written.
    DatabaseName::validate(profile.databaseName);
    const StackPaths paths(root_, profile);
    WebDirectory::validate(paths);
    for (const std::int64_t port : profile.listeningPorts())
        PortCheck::requireAvailable(port);

    // Independent queries and checks run side by side, each version check as
    // soon as its prefix is known, and their results are judged in the order
    // of the steps, so the same error wins as when they run one after the
    // other.
    const auto prefixOf = [this](const std::string& formula) {
        return std::async(std::launch::async, [this, formula] { return startPrefix(formula); });
    };
    auto phpPrefix = prefixOf(profile.php).share();
    auto dbPrefix = prefixOf(profile.mariaDB).share();
    auto webPrefix = prefixOf(profile.webserver);
    std::future<fs::path> phpMyAdminPrefix;
    if (profile.phpMyAdminEnabled)
        phpMyAdminPrefix = prefixOf("phpmyadmin");
    // A failed prefix query leaves its check unrun; the query's own error is
    // the one judged.
    auto phpVersion =
        std::async(std::launch::async, [this, phpPrefix]() -> std::optional<std::string> {
            const auto prefix = resultOf(phpPrefix);
            if (!prefix)
                return std::nullopt;
            return versionProbes_.output(*prefix / "bin" / "php",
                                         {"-n", "-r", "echo PHP_VERSION;"});
        });
    auto mariaDBVersion =
        std::async(std::launch::async, [this, dbPrefix]() -> std::optional<std::string> {
            const auto prefix = resultOf(dbPrefix);
            if (!prefix)
                return std::nullopt;
            return versionProbes_.output(*prefix / "bin" / "mariadbd",
                                         {"--no-defaults", "--version"});
        });
    StartPlan plan{profile, paths, phpPrefix.get(), dbPrefix.get(), webPrefix.get()};

    PackageCatalog::requireMatchingSeries(*phpVersion.get(), profile.php);
    const std::string mariaDBOutput = *mariaDBVersion.get();
    std::smatch match;
    if (!std::regex_search(mariaDBOutput, match, std::regex("[0-9]+[.][0-9]+[.][0-9]+")))
        throw VessoraError(L10n::text("Could not verify the installed MariaDB version."));
    PackageCatalog::requireMatchingSeries(match.str(), profile.mariaDB);

    if (profile.httpsEnabled)
        LocalHTTPS::prepare(paths, false);
    plan.token = Uuid::random();
    plan.applicationPassword = prepare(paths, plan.dbPrefix, plan.webPrefix, plan.token);

    if (profile.phpMyAdminEnabled) {
        const fs::path source = phpMyAdminPrefix.get() / "share" / "phpmyadmin";
        PhpMyAdminFiles::prepare(paths, source);
        plan.phpMyAdminPassword = localPassword(paths.config() / "phpmyadmin-password");
        writeConfiguration(Configuration::phpMyAdmin(paths, *plan.phpMyAdminPassword),
                           paths.phpMyAdminConfig());
    }
    return plan;
}

void StackEngine::launchStart(const StartPlan& plan, const std::optional<fs::path>& importSQL,
                              const std::optional<SQLDump::Summary>& prepared) {
    const StackProfile& profile = plan.profile;
    const StackPaths& paths = plan.paths;
    const std::map<std::string, std::string> fpmEnvironment{
        {"PHP_INI_SCAN_DIR", (paths.config() / "ini.d").string()}};
    const bool apache = profile.webserver == "httpd";
    const fs::path environmentFolder = paths.directory().string() + "/";

    // Both configuration tests at once; PHP-FPM's verdict is read first.
    auto fpmTest = std::async(std::launch::async, [&] {
        return Command::run(
            plan.phpPrefix / "sbin" / "php-fpm",
            {"-t", "-c", paths.phpConfig().string(), "-y", paths.fpmConfig().string()},
            {.timeout = 60, .environment = fpmEnvironment});
    });
    auto webTest = std::async(std::launch::async, [&] {
        if (apache)
            return Command::run(plan.webPrefix / "bin" / "httpd",
                                {"-t", "-f", paths.apacheConfig().string()}, {.timeout = 60});
        return Command::run(
            plan.webPrefix / "bin" / "nginx",
            {"-t", "-p", environmentFolder.string(), "-c", paths.nginxConfig().string()},
            {.timeout = 60});
    });
    // With its data directory already set up, MariaDB comes up while the
    // tests run. Their verdicts are still judged first (before a launch
    // error), and a failing one takes the server down with the rest of the
    // start. A first start keeps the order: nothing touches a new data
    // directory before the tests have passed.
    const bool initialized = databaseInitialized(paths);
    std::exception_ptr launchError;
    if (initialized) {
        try {
            launchDatabase(plan);
        } catch (const std::exception&) {
            launchError = std::current_exception();
        }
    }
    requireSuccess(fpmTest.get(), "php-fpm");
    requireSuccess(webTest.get(), apache ? "httpd" : "nginx");
    if (launchError)
        std::rethrow_exception(launchError);
    if (!initialized) {
        initializeDatabase(plan);
        launchDatabase(plan);
    }
    waitForDatabase(profile, plan.dbPrefix);
    if (importSQL) {
        sql(profile, plan.dbPrefix, setupStatement(profile, plan.applicationPassword), true);
        importDatabase(paths, plan.dbPrefix, *importSQL, plan.applicationPassword, prepared);
        sql(profile, plan.dbPrefix, phpMyAdminStatement(plan.phpMyAdminPassword),
            plan.phpMyAdminPassword.has_value());
    } else {
        setUpAccounts(profile, plan.dbPrefix, plan.applicationPassword, plan.phpMyAdminPassword);
    }

    launch(profile.id, "PHP", plan.phpPrefix / "sbin" / "php-fpm",
           {"-F", "-c", paths.phpConfig().string(), "-y", paths.fpmConfig().string()},
           paths.logs() / "php-process.log", fpmEnvironment);
    if (apache)
        launch(profile.id, "Apache", plan.webPrefix / "bin" / "httpd",
               {"-DFOREGROUND", "-f", paths.apacheConfig().string()},
               paths.logs() / "apache-process.log");
    else
        launch(profile.id, "nginx", plan.webPrefix / "bin" / "nginx",
               {"-p", environmentFolder.string(), "-c", paths.nginxConfig().string()},
               paths.logs() / "nginx-process.log");

    waitForHTTP(profile, plan.token);
    if (const auto https = profile.backendHTTPSURL()) {
        const nlohmann::json health =
            nlohmann::json::parse(LocalHTTPS::get(*https + "/__vessora_health.php", paths));
        if (!health.is_object() || !stringEqual(health, "token", plan.token) ||
            !stringEqual(health, "identity", profile.id))
            throw VessoraError(
                L10n::text("The local HTTPS health check failed. See the environment logs."));
    }
    if (profile.phpMyAdminEnabled)
        waitForPhpMyAdmin(profile);

    syncRouter(std::nullopt);
    sendHostRequest();
}

void StackEngine::launch(const std::string& id, std::string service, const fs::path& executable,
                         const std::vector<std::string>& arguments, const fs::path& log,
                         const std::map<std::string, std::string>& environment) {
    auto process = std::make_shared<ManagedProcess>(std::move(service), executable, arguments, log,
                                                    environment, serverRecords(id));
    std::lock_guard lock(mutex_);
    processes_[id].push_back(std::move(process));
}

void StackEngine::launchDatabase(const StartPlan& plan) {
    {
        std::lock_guard lock(mutex_);
        processes_[plan.profile.id] = {};
    }
    launch(plan.profile.id, "MariaDB", plan.dbPrefix / "bin" / "mariadbd",
           {"--defaults-file=" + plan.paths.databaseConfig().string()},
           plan.paths.logs() / "mariadb-process.log");
}

fs::path StackEngine::startPrefix(const std::string& formula) {
    {
        std::lock_guard lock(prefixMutex_);
        // An upgrade made outside points the answer at another keg.
        if (const auto known = prefixes_.find(formula);
            known != prefixes_.end() && known->second.isCurrent())
            return known->second.keg;
    }
    BrewPrefix prefix = brew_.answeredPrefix(formula);
    std::lock_guard lock(prefixMutex_);
    return prefixes_.insert_or_assign(formula, std::move(prefix)).first->second.keg;
}

void StackEngine::forgetPrefixes() {
    std::lock_guard lock(prefixMutex_);
    prefixes_.clear();
}

void StackEngine::takeDown(const std::string& id, const std::string& description) {
    // The failure may come from a prefix that is no longer right.
    forgetPrefixes();
    try {
        syncRouter(id);
    } catch (const std::exception&) {
        router_->stop();
    }
    stopProcesses(id);
    try {
        sendHostRequest();
    } catch (const std::exception&) {
        // Dropped: the failure itself is what the caller reports.
    }
    std::lock_guard lock(mutex_);
    failures_[id] = description;
}

} // namespace vessora
