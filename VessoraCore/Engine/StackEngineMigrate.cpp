// The project import: an existing folder, with at most one SQL dump, becomes
// a new running environment. Until the first report is written a failure
// throws and leaves nothing behind but, when only the helper request after
// storing failed, the stored environment. After it a failure stops the
// environment and is written into the report, which is returned.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/ProjectCopy.hpp"
#include "VessoraCore/Import/SQLDump.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"

#include <charconv>
#include <exception>
#include <regex>

namespace vessora {

namespace fs = std::filesystem;

namespace {

// The built-in settings with the request's name, packages, phpMyAdmin flag
// and database: checks the record rules before anything is made.
StackProfile sampleRecord(const MigrationRequest& request, const std::string& name) {
    StackProfile sample = StackProfile::defaults().front();
    sample.name = name;
    sample.php = request.php;
    sample.mariaDB = request.mariaDB;
    sample.webserver = request.webserver;
    sample.phpMyAdminEnabled = request.phpMyAdminEnabled;
    sample.databaseName = request.databaseName;
    return sample;
}

// The served folder of an import that serves the project where it lies.
std::string servedFolder(const MigrationRequest& request) {
    const std::string project = StandardPath::withoutTrailingSlash(request.projectFolder).string();
    return request.publicDirectory.empty() ? project : project + "/" + request.publicDirectory;
}

// The releases of the environment's MariaDB, as its dump's version gates
// name them: the installed server's own once it is there, else any of the
// series the request names (the start holds the server to that series).
SQLDumpRelease releaseOf(const std::string& formula, const std::optional<std::string>& installed) {
    std::smatch match;
    if (installed &&
        std::regex_search(*installed, match, std::regex("([0-9]+)[.]([0-9]+)[.]([0-9]+)"))) {
        const long version =
            std::stol(match[1]) * 10000 + std::stol(match[2]) * 100 + std::stol(match[3]);
        return {version, version};
    }
    if (std::regex_search(formula, match, std::regex("@([0-9]+)[.]([0-9]+)$"))) {
        const long series = std::stol(match[1]) * 10000 + std::stol(match[2]) * 100;
        return {series, series + 99};
    }
    return {};
}

std::optional<std::int64_t> wholeNumber(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace

MigrationResult StackEngine::migrate(const MigrationRequest& request,
                                     const MigrationProgress& progress) {
    BusyGuard guard(busy_);
    const auto enter = [&progress](MigrationPhase phase) {
        if (progress)
            progress(phase);
    };
    enter(MigrationPhase::checking);

    const std::string name = UnicodeText::trimmed(request.name);
    request.validate(root_);
    const StackProfile sample = sampleRecord(request, name);
    StackProfile::validate({sample});
    for (const StackProfile& existing : allProfiles())
        if (UnicodeText::folded(existing.name) == UnicodeText::folded(name))
            throw VessoraError(L10n::text("An environment named “%@” already exists.", {name}));

    // Removed on every way out, before the busy flag is cleared.
    const RemovedOnExit staging(StackPaths::migrationStaging(root_) / Uuid::random());
    PrivateFile::createDirectories(staging.path());
    const InstallationStatus installation = brew_.installations();
    std::optional<fs::path> dump;
    SQLDump::Summary summary;
    if (request.sqlFile) {
        std::optional<std::string> installed;
        const auto entry = installation.installed.find(request.mariaDB);
        if (entry != installation.installed.end() && entry->second) {
            try {
                installed =
                    versionProbes_.output(brew_.prefix(request.mariaDB) / "bin" / "mariadbd",
                                          {"--no-defaults", "--version"});
            } catch (const std::exception&) {
                // The series the request names still tells.
            }
        }
        dump = staging.path() / "import.sql";
        summary = SQLDump::prepare(*request.sqlFile, *dump, request.databaseName,
                                   releaseOf(request.mariaDB, installed));
    }

    std::vector<std::string> missing;
    for (const std::string& formula : sample.formulae()) {
        const auto entry = installation.installed.find(formula);
        if (entry == installation.installed.end() || !entry->second)
            missing.push_back(formula);
    }
    if (!missing.empty()) {
        if (!request.installMissingPackages)
            throw VessoraError(L10n::text(
                "Install the selected packages first, or enable installation in the import "
                "review."));
        {
            std::lock_guard lock(mutex_);
            if (!processes_.empty())
                throw VessoraError(L10n::text("Stop all environments before installing packages."));
        }
        enter(MigrationPhase::installing);
        // No start runs meanwhile (busy), so none keeps a prefix from before.
        forgetPrefixes();
        brew_.install(missing, StackPaths::installLog(root_));
    }

    MigrationReport report;
    report.environmentName = name;
    report.sourceProject = request.projectFolder.string();
    report.publicDirectory = request.publicDirectory;
    report.mode = request.mode;
    report.databaseName = request.databaseName;
    if (request.sqlFile)
        report.sqlFileName = request.sqlFile->filename().string();
    report.sourceDatabase = summary.sourceDatabase;
    report.sqlStatements = summary.statementCount;
    report.succeeded = false;
    report.message = L10n::text("Migration in progress.");
    report.php = request.php;
    report.mariaDB = request.mariaDB;
    report.webserver = request.webserver;
    fs::path reportFile;

    // The first report is in place before the record is stored, so a run
    // killed from then on leaves an environment that shows its import as
    // incomplete rather than one that looks merely stopped.
    const auto writeFirstReport = [&](const StackProfile& created) {
        report.environmentID = created.id;
        reportFile = StackPaths(root_, created).migrationReport();
        report.save(reportFile);
    };
    StackProfile profile;
    try {
        profile = createUnlocked(
            name, request.php, request.mariaDB, request.phpMyAdminEnabled, request.webserver,
            request.httpsEnabled,
            request.mode == ProjectImportMode::existing ? std::optional(servedFolder(request))
                                                        : std::nullopt,
            request.databaseName, std::nullopt, false, false, writeFirstReport);
    } catch (...) {
        // Only the helper request after storing fails with the record kept;
        // that environment is stored without a report.
        if (!reportFile.empty()) {
            std::error_code ignored;
            fs::remove(reportFile, ignored);
        }
        throw;
    }

    try {
        enter(MigrationPhase::copying);
        if (request.mode == ProjectImportMode::copy)
            profile = copyProject(profile, request);
        enter(MigrationPhase::importing);
        startUnlocked(profile.id, dump, true,
                      dump ? std::optional<SQLDump::Summary>(summary) : std::nullopt);
        enter(MigrationPhase::verifying);
        report.tableCount = countTables(profile);
        report.succeeded = true;
        report.message = L10n::text("Stack verification passed. Update your project’s connection "
                                    "settings, then open the site to verify the application.");
        report.save(reportFile);
    } catch (const std::exception& error) {
        abandonMigration(profile.id, report, error.what());
    } catch (...) {
        abandonMigration(profile.id, report, L10n::text("An unknown error occurred."));
    }
    return {profile, report};
}

StackProfile StackEngine::copyProject(StackProfile profile, const MigrationRequest& request) {
    std::error_code error;
    const fs::path source = StandardPath::resolved(request.projectFolder, error);
    if (error)
        throw fs::filesystem_error("Could not resolve the project folder", request.projectFolder,
                                   error);
    ProjectCopy::copy(source, StackPaths(root_, profile).project());

    profile.projectSubdirectory = request.publicDirectory;
    WebDirectory::validate(StackPaths(root_, profile));
    std::vector<StackProfile> profiles = allProfiles();
    for (StackProfile& entry : profiles)
        if (entry.id == profile.id)
            entry = profile;
    StackProfile::validate(profiles);
    store(std::move(profiles));
    return profile;
}

std::optional<std::int64_t> StackEngine::countTables(const StackProfile& profile) const {
    const std::string output =
        sql(profile, brew_.prefix(profile.mariaDB),
            "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA=" +
                SQLQuoting::stringLiteral(profile.databaseName) + ";",
            false);
    return wholeNumber(UnicodeText::trimmed(output));
}

void StackEngine::abandonMigration(const std::string& id, MigrationReport& report,
                                   const std::string& description) {
    stopProcesses(id);
    report.succeeded = false;
    report.message = description;
    try {
        report.save(StackPaths(root_, find(id)).migrationReport());
    } catch (const std::exception&) {
        // The start refuses the environment either way: its report never
        // says it succeeded.
    }
    std::lock_guard lock(mutex_);
    failures_[id] = L10n::text("Migration incomplete");
}

} // namespace vessora
