// StackEngine: the one object that owns a data root and every environment in
// it - the records, the server processes it launched, the last failure text
// of each environment, the shared router and the helper client.
//
// Operations are blocking calls made from worker threads. A mutex guards the
// tables (records, processes, failures, flags) and is never held across an
// external wait (a command, a pause, a request, the helper). The guarded
// operations (create, update, remove, install, configureLocalHosts,
// renewCertificate, start, stop, stopAll, and those later files add) run one
// at a time: a second
// one is refused with "Another Vessora action is still in progress." while
// the busy flag is set, and the flag is cleared on every way out. The
// always-served queries (allProfiles, installations, certificateInfo,
// localHostConnected, statuses) never look at the flag and take the mutex
// only briefly; statuses() sets the flag itself around the stops of its
// supervision, and only while no operation holds it.
//
// Construction resolves and locks the data root ("engine.lock", a record lock,
// which no child shares and which goes with the process that holds it, so a
// killed run never keeps the next one out), loads or seeds "profiles.json",
// finishes interrupted deletions and prepares the private MariaDB socket folder
// under /tmp. A second engine on the same root, in this process or another, is
// refused. Then it ends the servers a killed run of this root left behind
// (through their records) and removes that run's import leftovers. Destruction
// releases the lock and, when no server of this engine runs any more, removes
// its own socket folder; running servers must have been stopped before.
#pragma once

#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"
#include "VessoraCore/Database/DatabaseAccess.hpp"
#include "VessoraCore/Database/DatabaseAccessChange.hpp"
#include "VessoraCore/Database/DatabaseAdmin.hpp"
#include "VessoraCore/Database/DatabaseAdminSnapshot.hpp"
#include "VessoraCore/Database/DatabaseCredentials.hpp"
#include "VessoraCore/Engine/EngineHostService.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Import/MigrationPhase.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "VessoraCore/Import/MigrationResult.hpp"
#include "VessoraCore/Import/SQLDumpSummary.hpp"
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"
#include "VessoraCore/Packages/Homebrew.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Process/VersionProbes.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraCore/Records/StackStatus.hpp"
#include "VessoraCore/Storage/EnvironmentFiles.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

class StackEngine {
public:
    // The pauses of the stop escalation: after the first signal (100 checks),
    // after terminate (20 checks) and after SIGKILL (20 checks).
    struct StopPauses {
        std::chrono::milliseconds first{100};
        std::chrono::milliseconds second{100};
        std::chrono::milliseconds kill{50};
    };

    struct Options {
        std::filesystem::path root;
        std::filesystem::path brew = VESSORA_BREW_PATH;
        // None: the real client of the helper's socket.
        std::shared_ptr<EngineHostService> hostClient;
        VirtualHostRouter::Ports routerPorts;
        // None: deleted environments go to the user's Trash.
        TrashHandler trashHandler;
        StopPauses stopPauses;
        // Between two attempts of the MariaDB and health-page waits, at
        // most: a pause ends early once the server can answer.
        std::chrono::milliseconds readinessPause{250};
        // Whether a port may go to a new environment; none: free right now
        // (PortCheck::isAvailable). Tests narrow it to ports of their own.
        std::function<bool(std::int64_t)> portAvailable;
    };

    // Throws VessoraError with a finished sentence, or the system's error.
    explicit StackEngine(Options options);
    ~StackEngine();
    StackEngine(const StackEngine&) = delete;
    StackEngine& operator=(const StackEngine&) = delete;

    // $XDG_DATA_HOME/Vessora, else ~/.local/share/Vessora.
    static std::filesystem::path defaultRoot();
    // "/tmp/vessora-UID-" + the first 8 bytes of SHA-256(root path) in hex.
    static std::filesystem::path socketDirectoryFor(const std::filesystem::path& resolvedRoot);

    // Fixed at construction; readable from any thread.
    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& socketDirectory() const { return socketDirectory_; }

    // Always served.
    std::vector<StackProfile> allProfiles() const;
    InstallationStatus installations() const;
    LocalCertificateInfo certificateInfo(const std::string& id) const;
    bool localHostConnected();
    // One status per record, keyed by id. Also the supervision: while no
    // operation runs it stops environments whose helper connection, router
    // or server process went away, and records why. Never throws.
    std::map<std::string, StackStatus> statuses();

    // Guarded.
    StackProfile create(const std::string& name, const std::string& php, const std::string& mariaDB,
                        bool phpMyAdminEnabled, const std::string& webserver, bool httpsEnabled,
                        const std::optional<std::string>& documentRoot,
                        const std::string& databaseName, const std::optional<std::string>& hostname,
                        bool virtualHost, bool standardPorts);
    void update(const StackProfile& profile);
    void remove(const std::string& id);
    void install(const std::string& id);
    void configureLocalHosts(bool enabled);
    void renewCertificate(const std::string& id);
    // Starts the environment's servers and proves they answer; on failure
    // everything it launched is stopped, the error is kept as the
    // environment's status text and thrown.
    void start(const std::string& id);
    // Throws "A service could not be stopped." when a process survives.
    void stop(const std::string& id);
    // The router, then every environment with processes; throws "Some
    // services could not be stopped." when a process survives.
    void stopAll();

    // Database administration of a running environment: refused unless its
    // three server processes all run; the work is DatabaseAdmin's, which
    // reads the server afresh for every account change.
    DatabaseAdminSnapshot databaseAdminSnapshot(const std::string& id);
    void createDatabase(const std::string& id, const std::string& name,
                        bool grantApplicationAccess);
    void createDatabaseUser(const std::string& id, const std::string& name,
                            const std::string& password, const std::string& database,
                            DatabaseAccess access);
    void setDatabaseAccess(const std::string& id, const std::string& user, const std::string& host,
                           const std::vector<DatabaseAccessChange>& changes);
    void changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                    const std::string& host, const std::string& password);
    void deleteDatabaseUser(const std::string& id, const std::string& user,
                            const std::string& host);
    // One SQL text through the client as the login user; its output.
    std::string executeSQL(const std::string& id, const std::string& statement);
    // The application account's connection data, running or stopped. Only
    // refused while busy (it does not take the flag); creates the stored
    // password when there is none yet.
    DatabaseCredentials databaseCredentials(const std::string& id);
    // Stores the application account's password for the next start; refused
    // while the environment has processes. The server is not touched.
    void setDatabasePassword(const std::string& id, const std::string& password);

    // Project import: checks the request, prepares the dump in a private staging
    // folder (".migration-staging/<UUID>/import.sql", removed on every way out),
    // installs missing packages when allowed, creates the environment with its
    // first report (written before its record is stored), copies the project in
    // copy mode, starts the environment with the dump loaded and counts its
    // tables. `progress` is called on the calling thread once per phase it
    // enters, before that phase's work; an exception it throws fails the import
    // like any other error. Until the first report ("Migration in progress.") is
    // written, failures throw; after it, the environment is stopped, marked
    // "Migration incomplete" and the failed report is returned instead.
    using MigrationProgress = std::function<void(MigrationPhase)>;
    MigrationResult migrate(const MigrationRequest& request, const MigrationProgress& progress);

private:
    friend struct StackEngineTesting;
    using ProcessList = std::vector<std::shared_ptr<ManagedProcess>>;

    // Sets the busy flag for one guarded operation and clears it at the end.
    class BusyGuard {
    public:
        explicit BusyGuard(std::atomic<bool>& busy);
        ~BusyGuard() { busy_.store(false); }
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

    private:
        std::atomic<bool>& busy_;
    };

    // Construction steps.
    static std::filesystem::path resolveRoot(const std::filesystem::path& given);
    void lockRoot();
    // True when a descriptor of this process refers to that file.
    static bool openHere(const std::filesystem::path& file);
    void loadProfiles();
    void prepareSocketDirectory();
    // Servers a killed run of this data root left running, found only
    // through the records it kept, are ended (SIGTERM, time, SIGKILL).
    void stopLeftoverServers();
    // Import staging folders and client option files of a killed run.
    void removeImportLeftovers();
    std::filesystem::path serverRecords(const std::string& id) const;

    // Record lookup: a copy of the first record with this id, else
    // "Unknown environment.".
    StackProfile find(const std::string& id) const;
    // The same for an operation that works in the environment's folder:
    // refused while that folder is in the deletion journal, until the next
    // construction has put it back.
    StackProfile findInPlace(const std::string& id) const;
    bool hasProcesses(const std::string& id) const;
    std::filesystem::path socketFile(const std::string& id) const;
    // "profiles.json": every environment record.
    std::filesystem::path profilesFile() const;

    // The working values of one start, from its checks to its launches.
    struct StartPlan {
        StackProfile profile;
        StackPaths paths;
        std::filesystem::path phpPrefix;
        std::filesystem::path dbPrefix;
        std::filesystem::path webPrefix;
        std::string token;
        std::string applicationPassword;
        std::optional<std::string> phpMyAdminPassword;
    };

    // The start run; the caller holds the busy flag. `migrating` skips the
    // import-report check (the import starts the environment it creates).
    // `prepared`: what preparing the dump counted, which the load is held to.
    void startUnlocked(const std::string& id, const std::optional<std::filesystem::path>& importSQL,
                       bool migrating, const std::optional<SQLDump::Summary>& prepared = {});
    // Checks, program versions, HTTPS identity and every generated file.
    StartPlan prepareStart(const StackProfile& profile);
    // Configuration tests, data directory, MariaDB and its accounts, the
    // dump, PHP-FPM and the web server, readiness, router and helper.
    void launchStart(const StartPlan& plan, const std::optional<std::filesystem::path>& importSQL,
                     const std::optional<SQLDump::Summary>& prepared = {});
    // Takes an environment down after a failure and keeps the failure text:
    // out of the router (the router stops when that fails), its processes
    // stopped, the helper told. Errors of these steps are dropped: the
    // failure is what the caller reports.
    void takeDown(const std::string& id, const std::string& description);
    // Stops every environment with processes that the predicate picks and
    // keeps the failure text for each; for the supervision of the poll.
    void stopEach(const std::function<bool(const StackProfile&)>& affected,
                  const std::string& failure);
    // The set-up script of every start: application database and account,
    // the internal identity table; then the phpMyAdmin administrator's.
    static std::string setupStatement(const StackProfile& profile, const std::string& password);
    static std::string phpMyAdminStatement(const std::optional<std::string>& password);
    // Both in one client run, failing with the message and output that two
    // runs of sql() one after the other would have given.
    void setUpAccounts(const StackProfile& profile, const std::filesystem::path& prefix,
                       const std::string& password,
                       const std::optional<std::string>& phpMyAdminPassword) const;
    // Initialises the MariaDB data directory unless its marker exists.
    void initializeDatabase(const StartPlan& plan);
    static bool databaseInitialized(const StackPaths& paths);
    // Makes the environment's process entry and launches MariaDB into it.
    void launchDatabase(const StartPlan& plan);
    // Launches one server and appends it to the environment's processes.
    void launch(const std::string& id, std::string service, const std::filesystem::path& executable,
                const std::vector<std::string>& arguments, const std::filesystem::path& log,
                const std::map<std::string, std::string>& environment = {});
    // Loads an SQL dump into the application database as the application
    // account, over TCP, with the password in a private option file. With
    // `prepared`, the server's own statement counts must show that the load
    // ran just the database statements preparation left, and the database
    // must be there after it.
    void importDatabase(const StackPaths& paths, const std::filesystem::path& prefix,
                        const std::filesystem::path& input, const std::string& password,
                        const std::optional<SQLDump::Summary>& prepared = {});
    // True when an import report exists there and does not record success
    // (an unreadable or undecodable one included).
    static bool importUnfinished(const std::filesystem::path& report);

    // `beforeStore` runs once the new folder is made and before the record
    // is stored: whatever it writes there is in place before the
    // environment can be seen, and goes with the folder when storing fails.
    StackProfile
    createUnlocked(const std::string& name, const std::string& php, const std::string& mariaDB,
                   bool phpMyAdminEnabled, const std::string& webserver, bool httpsEnabled,
                   const std::optional<std::string>& documentRoot, const std::string& databaseName,
                   const std::optional<std::string>& hostname, bool virtualHost, bool standardPorts,
                   const std::function<void(const StackProfile&)>& beforeStore);
    // Writes "profiles.json", then adopts the list.
    void store(std::vector<StackProfile> profiles);
    // After a failed delete: adopts what "profiles.json" holds. An undo that
    // could not restore the records leaves the record out of the file (the
    // next launch finishes that deletion); a list still holding it would
    // write it back with the next save.
    void adoptStoredProfiles();

    // Folders, passwords and every configuration file of one start; returns
    // the application database password.
    std::string prepare(const StackPaths& paths, const std::filesystem::path& dbPrefix,
                        const std::filesystem::path& webPrefix, const std::string& token);
    // Whole, atomic, 0600 from the first byte.
    void write(std::string_view text, const std::filesystem::path& file) const;
    // The same for the configuration every start generates again: not
    // flushed to disk, since nothing reads it before the next start rewrites
    // it.
    void writeConfiguration(std::string_view text, const std::filesystem::path& file) const;
    std::string localPassword(const std::filesystem::path& file) const;
    std::string applicationPassword(const StackPaths& paths) const;

    // One SQL text through the MariaDB client over the environment's socket.
    CommandResult runSQL(const StackProfile& profile, const std::filesystem::path& prefix,
                         const std::string& statement) const;
    std::string sql(const StackProfile& profile, const std::filesystem::path& prefix,
                    const std::string& statement, bool sensitive) const;
    // The login name MariaDB knows the running user by.
    static std::string loginName();

    // Readiness at start. requireAlive() fails at the first launched process
    // of the environment that has exited; the waits poll a bounded number of
    // times and fail at once when a server exits meanwhile.
    void requireAlive(const std::string& id) const;
    // A copy of the environment's entry in the process table (empty: none).
    ProcessList launched(const std::string& id) const;
    void waitForDatabase(const StackProfile& profile, const std::filesystem::path& dbPrefix) const;
    void waitForHTTP(const StackProfile& profile, const std::string& token) const;
    void waitForPhpMyAdmin(const StackProfile& profile) const;

    // Router and helper in step with what runs.
    HostServiceRequest hostRequest() const;
    void syncRouter(const std::optional<std::string>& excluding);
    // Sends hostRequest() when local addresses are on.
    void sendHostRequest();

    // Ends the environment's processes, last launched first; keeps in the
    // table only what survived. Workers left behind by a master that died on
    // its own are killed with their group. Never throws.
    void stopProcesses(const std::string& id);

    // The administration object of an environment whose three server
    // processes all run; the caller holds the busy flag.
    DatabaseAdmin databaseAdmin(const std::string& id);
    bool fullyRunning(const std::string& id) const;

    // The import's steps after its first report: the copy in copy mode with
    // the record that serves it, the table count of the verification, and
    // the failure path (stopped, report failed, "Migration incomplete").
    StackProfile copyProject(StackProfile profile, const MigrationRequest& request);
    std::optional<std::int64_t> countTables(const StackProfile& profile) const;
    void abandonMigration(const std::string& id, MigrationReport& report,
                          const std::string& description);

    // A formula's keg for the start, asked of Homebrew once while the path
    // Homebrew answered still leads there, until forgotten; forgetPrefixes()
    // after a failed start or an installation.
    std::filesystem::path startPrefix(const std::string& formula);
    void forgetPrefixes();

    const std::filesystem::path root_;
    const Homebrew brew_;
    const std::shared_ptr<EngineHostService> hostClient_;
    const std::unique_ptr<VirtualHostRouter> router_;
    // Not const only so tests can replace its records writer.
    EnvironmentFiles environmentFiles_;
    const StopPauses stopPauses_;
    const std::chrono::milliseconds readinessPause_;
    const std::function<bool(std::int64_t)> portAvailable_;
    UniqueFd lockFD_;
    std::filesystem::path socketDirectory_;

    // What the start asks of the installed programs, kept between starts:
    // version answers while each program file is unchanged, and Homebrew
    // prefixes while their links are unchanged, until a start fails or
    // packages are installed.
    VersionProbes versionProbes_;
    std::mutex prefixMutex_;
    std::map<std::string, BrewPrefix> prefixes_;

    std::atomic<bool> busy_{false};
    mutable std::mutex mutex_; // guards everything below
    bool localHostsEnabled_ = false;
    std::vector<StackProfile> profiles_;
    std::map<std::string, ProcessList> processes_;
    std::map<std::string, std::string> failures_;
    // For tests only: called when the poll has seen an exited process of
    // this environment, just before it tries to take the busy flag.
    std::function<void(const std::string&)> exitSeen_;
};

} // namespace vessora
