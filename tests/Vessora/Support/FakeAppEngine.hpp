// An engine for the application's tests. It answers from state the test
// sets, records every call (with the thread it came from), refuses a guarded
// operation while another one runs, exactly as the engine does, and can make
// any operation fail or wait on a gate until the test releases it.
//
// Operation names are the AppEngine member names: "allProfiles",
// "statuses", "installations", "localHostConnected", "certificateInfo",
// "create", "update", "remove", "install", "configureLocalHosts",
// "renewCertificate", "start", "stop", "stopAll", and the database
// operations "databaseAdminSnapshot", "createDatabase", "createDatabaseUser",
// "setDatabaseAccess", "changeDatabaseUserPassword", "deleteDatabaseUser",
// "executeSQL", "databaseCredentials", "setDatabasePassword", and
// "migrate".
//
// Successful guarded operations change the state the way the engine would:
// create appends a record and returns it, update replaces, remove deletes,
// start marks the environment running with three processes, stop and
// stopAll mark it stopped, configureLocalHosts(enabled) sets the helper
// connection to `enabled`. certificateInfo answers what the test set for
// the id when it is called (after its gate), else an empty record.
//
// The database operations work on one inventory per environment, set with
// setDatabaseSnapshot() (empty by default). Like the engine they refuse an
// environment that does not run with three processes, check every rule the
// administration checks (names, passwords, protected accounts, privileges
// changed meanwhile) and then change the inventory as the server would.
// Passwords never reach the call log; read them back with
// userPassword() and applicationPassword().
//
// migrate() claims the busy flag at the gate "migrate", then reports each
// phase of setMigrationPhases() in order and passes the gate phaseGate()
// of that phase right after reporting it (hold it to stop the import
// there, fail it to throw after that report). Then it stores a new record
// built from the request (its name trimmed, as the engine does) and
// returns it with a report whose outcome setMigrationOutcome() chose; a
// succeeded import leaves the environment running, a failed one stopped
// and "Migration incomplete".
#pragma once

#include "Vessora/App/AppEngine.hpp"
#include "VessoraCore/Import/MigrationPhase.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vessora {

class FakeAppEngine : public AppEngine {
public:
    // How long a held call waits at most before it gives up and throws, so
    // a broken test cannot hang the suite.
    static constexpr std::chrono::seconds holdLimit{30};

    // Starts with the two built-in records, all stopped, nothing installed.
    explicit FakeAppEngine(std::filesystem::path root = "/nonexistent/vessora-fake-root");

    // What the queries answer.
    void setProfiles(std::vector<StackProfile> profiles);
    std::vector<StackProfile> storedProfiles() const;
    void setStatus(const std::string& id, StackStatus status);
    void setInstallations(InstallationStatus installations);
    void setConnected(bool connected);
    void setCertificateInfo(const std::string& id, LocalCertificateInfo info);

    // Every later call of `operation` throws VessoraError(text); none clears.
    void fail(const std::string& operation, std::optional<std::string> text);
    // Every later call of `operation` throws a value that is no exception.
    void failWithoutException(const std::string& operation);
    // Calls of `operation` wait until release() (at most holdLimit).
    void hold(const std::string& operation);
    void release(const std::string& operation);
    void releaseAll();
    // Whether a call of `operation` waits at its gate now. Tests on the
    // main thread poll it while spinning the event loop: the calls they wait
    // for are often started from it.
    bool isHeld(const std::string& operation) const;
    // Holds the engine's busy flag, as another running operation would.
    void setBusy(bool busy);

    // The database inventory of an environment.
    void setDatabaseSnapshot(const std::string& id, DatabaseAdminSnapshot snapshot);
    DatabaseAdminSnapshot databaseSnapshot(const std::string& id) const;
    // The next setDatabaseAccess applies this many changes and then throws
    // `text`, as a statement failing in the middle of the list would.
    void failAccessChangeAfter(std::size_t appliedChanges, std::string text);
    // Passwords as stored: per account id ("name@host") and the application
    // account's of an environment (none until read or set).
    std::optional<std::string> userPassword(const std::string& id,
                                            const std::string& accountID) const;
    std::optional<std::string> applicationPassword(const std::string& id) const;
    void setApplicationPassword(const std::string& id, std::string password);

    // The import.
    void setMigrationPhases(std::vector<MigrationPhase> phases);
    void setMigrationOutcome(bool succeeded, std::string message,
                             std::optional<std::int64_t> tableCount);
    std::optional<MigrationRequest> lastMigrationRequest() const;
    // "migrate.checking", "migrate.installing", ...
    static std::string phaseGate(MigrationPhase phase);

    int calls(const std::string& operation) const;
    // Every call in order: "start(studio)", "configureLocalHosts(true)", ...
    std::vector<std::string> log() const;
    // Whether any call came from this thread.
    bool calledFrom(std::thread::id thread) const;

    std::filesystem::path root() const override;
    // The records set so far, unrecorded and never held: the fake counts as
    // opened when the model takes it.
    std::vector<StackProfile> openedProfiles() const override;
    std::vector<StackProfile> allProfiles() override;
    std::map<std::string, StackStatus> statuses() override;
    InstallationStatus installations() override;
    bool localHostConnected() override;
    LocalCertificateInfo certificateInfo(const std::string& id) override;

    StackProfile create(const std::string& name, const std::string& php, const std::string& mariaDB,
                        bool phpMyAdminEnabled, const std::string& webserver, bool httpsEnabled,
                        const std::optional<std::string>& documentRoot,
                        const std::string& databaseName, const std::optional<std::string>& hostname,
                        bool virtualHost, bool standardPorts) override;
    void update(const StackProfile& profile) override;
    void remove(const std::string& id) override;
    void install(const std::string& id) override;
    void configureLocalHosts(bool enabled) override;
    void renewCertificate(const std::string& id) override;
    void start(const std::string& id) override;
    void stop(const std::string& id) override;
    void stopAll() override;

    DatabaseAdminSnapshot databaseAdminSnapshot(const std::string& id) override;
    void createDatabase(const std::string& id, const std::string& name,
                        bool grantApplicationAccess) override;
    void createDatabaseUser(const std::string& id, const std::string& name,
                            const std::string& password, const std::string& database,
                            DatabaseAccess access) override;
    void setDatabaseAccess(const std::string& id, const std::string& user, const std::string& host,
                           const std::vector<DatabaseAccessChange>& changes) override;
    void changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                    const std::string& host, const std::string& password) override;
    void deleteDatabaseUser(const std::string& id, const std::string& user,
                            const std::string& host) override;
    std::string executeSQL(const std::string& id, const std::string& statement) override;
    DatabaseCredentials databaseCredentials(const std::string& id) override;
    void setDatabasePassword(const std::string& id, const std::string& password) override;

    MigrationResult migrate(const MigrationRequest& request,
                            const MigrationProgress& progress) override;

    // The login name the fake administers as (a reserved account name).
    static constexpr const char* administrator = "localadmin";

private:
    void record(const std::string& operation, const std::string& argument);
    // Waits at the operation's gate, then throws its failure.
    void pass(const std::string& operation);
    // Records the call, then passes.
    void enter(const std::string& operation, const std::string& argument);
    // The same for a guarded operation, which also claims the busy flag;
    // the returned guard releases it.
    class BusyClaim {
    public:
        explicit BusyClaim(std::atomic<bool>* busy) : busy_(busy) {}
        BusyClaim(BusyClaim&& other) noexcept : busy_(other.busy_) { other.busy_ = nullptr; }
        BusyClaim& operator=(BusyClaim&&) = delete;
        ~BusyClaim() {
            if (busy_)
                busy_->store(false);
        }

    private:
        std::atomic<bool>* busy_;
    };
    BusyClaim enterGuarded(const std::string& operation, const std::string& argument);
    std::vector<StackProfile>::iterator findLocked(const std::string& id);
    // The inventory of a running environment, else the engine's refusal.
    DatabaseAdminSnapshot& runningDatabaseLocked(const std::string& id);

    const std::filesystem::path root_;
    std::atomic<bool> busy_{false};
    mutable std::mutex mutex_;
    std::condition_variable gate_;
    std::vector<StackProfile> profiles_;
    std::map<std::string, StackStatus> statuses_;
    InstallationStatus installations_;
    bool connected_ = false;
    std::map<std::string, LocalCertificateInfo> certificates_;
    std::map<std::string, std::string> failures_;
    std::set<std::string> strangeFailures_;
    std::set<std::string> held_;
    std::map<std::string, int> waiting_;
    std::vector<std::string> log_;
    std::vector<std::string> operations_;
    std::set<std::thread::id> threads_;
    int created_ = 0;
    std::map<std::string, DatabaseAdminSnapshot> databases_;
    std::map<std::string, std::map<std::string, std::string>> userPasswords_;
    std::map<std::string, std::string> applicationPasswords_;
    std::optional<std::pair<std::size_t, std::string>> accessFailure_;
    std::vector<MigrationPhase> migrationPhases_ = {
        MigrationPhase::checking, MigrationPhase::copying, MigrationPhase::importing,
        MigrationPhase::verifying};
    bool migrationSucceeds_ = true;
    std::string migrationMessage_ = "Stack verification passed.";
    std::optional<std::int64_t> migrationTables_ = 3;
    std::optional<MigrationRequest> lastMigration_;
};

} // namespace vessora
