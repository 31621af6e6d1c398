// The fake engine's project import: phases through gates, then a record and
// a report as the engine would leave them.
#include "tests/Vessora/Support/FakeAppEngine.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"

namespace vessora {

void FakeAppEngine::setMigrationPhases(std::vector<MigrationPhase> phases) {
    std::lock_guard lock(mutex_);
    migrationPhases_ = std::move(phases);
}

void FakeAppEngine::setMigrationOutcome(bool succeeded, std::string message,
                                        std::optional<std::int64_t> tableCount) {
    std::lock_guard lock(mutex_);
    migrationSucceeds_ = succeeded;
    migrationMessage_ = std::move(message);
    migrationTables_ = tableCount;
}

std::optional<MigrationRequest> FakeAppEngine::lastMigrationRequest() const {
    std::lock_guard lock(mutex_);
    return lastMigration_;
}

std::string FakeAppEngine::phaseGate(MigrationPhase phase) {
    switch (phase) {
    case MigrationPhase::checking:
        return "migrate.checking";
    case MigrationPhase::installing:
        return "migrate.installing";
    case MigrationPhase::copying:
        return "migrate.copying";
    case MigrationPhase::importing:
        return "migrate.importing";
    case MigrationPhase::verifying:
        return "migrate.verifying";
    }
    return "migrate";
}

MigrationResult FakeAppEngine::migrate(const MigrationRequest& request,
                                       const MigrationProgress& progress) {
    const BusyClaim claim = enterGuarded("migrate", request.name);
    std::vector<MigrationPhase> phases;
    {
        std::lock_guard lock(mutex_);
        lastMigration_ = request;
        phases = migrationPhases_;
    }
    for (const MigrationPhase phase : phases) {
        progress(phase);
        pass(phaseGate(phase));
    }

    std::lock_guard lock(mutex_);
    ++created_;
    StackProfile profile;
    profile.id = "env-fake-" + std::to_string(created_);
    profile.name = UnicodeText::trimmed(request.name);
    profile.php = request.php;
    profile.mariaDB = request.mariaDB;
    profile.httpPort = 18080 + created_;
    profile.phpPort = 19080 + created_;
    profile.databasePort = 23300 + created_;
    profile.phpMyAdminEnabled = request.phpMyAdminEnabled;
    profile.webserver = request.webserver;
    profile.httpsEnabled = request.httpsEnabled;
    if (request.httpsEnabled)
        profile.httpsPort = 18443 + created_;
    if (request.mode == ProjectImportMode::existing)
        profile.documentRoot = request.publicDirectory.empty()
                                   ? request.projectFolder.string()
                                   : (request.projectFolder / request.publicDirectory).string();
    else
        profile.projectSubdirectory = request.publicDirectory;
    profile.databaseName = request.databaseName;
    profiles_.push_back(profile);
    statuses_[profile.id] =
        migrationSucceeds_
            ? StackStatus{true, "Running", {{"MariaDB", 201}, {"PHP", 202}, {"nginx", 203}}}
            : StackStatus{false, "Migration incomplete", {}};

    MigrationReport report;
    report.environmentID = profile.id;
    report.environmentName = profile.name;
    report.sourceProject = request.projectFolder.string();
    report.publicDirectory = request.publicDirectory;
    report.mode = request.mode;
    report.databaseName = request.databaseName;
    if (request.sqlFile)
        report.sqlFileName = request.sqlFile->filename().string();
    report.tableCount = migrationTables_;
    report.succeeded = migrationSucceeds_;
    report.message = migrationMessage_;
    report.php = request.php;
    report.mariaDB = request.mariaDB;
    report.webserver = request.webserver;
    return {profile, report};
}

} // namespace vessora
