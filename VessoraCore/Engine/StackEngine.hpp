// StackEngine: the one object that owns a data root and every environment in
// it - the records, the server processes it launched, the last failure text
// of each environment, the shared router and the helper client.
//
// Operations are blocking calls made from worker threads. A mutex guards the
// tables (records, processes, failures, flags) and is never held across an
// external wait (a command, a pause, a request, the helper). The guarded
// operations (create, update, remove, install, configureLocalHosts,
// renewCertificate, and those later files add) run one at a time: a second
// one is refused with "Another Vessora action is still in progress." while
// the busy flag is set, and the flag is cleared on every way out. The
// always-served queries (allProfiles, installations, certificateInfo,
// localHostConnected) never look at the flag and take the mutex only briefly.
//
// Construction resolves and locks the data root ("engine.lock", flock,
// close-on-exec, so no server inherits it), loads or seeds "profiles.json",
// finishes interrupted deletions and prepares the private MariaDB socket
// folder under /tmp. A second engine on the same root, in this process or
// another, is refused. Destruction only releases the lock: running servers
// must have been stopped before.
#pragma once

#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"
#include "VessoraCore/Engine/EngineHostService.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"
#include "VessoraCore/Packages/Homebrew.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
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
        // Between two attempts of the MariaDB and health-page waits.
        std::chrono::milliseconds readinessPause{250};
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
    void loadProfiles();
    void prepareSocketDirectory();

    // Record lookup: a copy of the first record with this id, else
    // "Unknown environment.".
    StackProfile find(const std::string& id) const;
    bool hasProcesses(const std::string& id) const;
    std::filesystem::path socketFile(const std::string& id) const;

    StackProfile createUnlocked(const std::string& name, const std::string& php,
                                const std::string& mariaDB, bool phpMyAdminEnabled,
                                const std::string& webserver, bool httpsEnabled,
                                const std::optional<std::string>& documentRoot,
                                const std::string& databaseName,
                                const std::optional<std::string>& hostname, bool virtualHost,
                                bool standardPorts);
    // Writes "profiles.json", then adopts the list.
    void store(std::vector<StackProfile> profiles);

    // Folders, passwords and every configuration file of one start; returns
    // the application database password.
    std::string prepare(const StackPaths& paths, const std::filesystem::path& dbPrefix,
                        const std::filesystem::path& webPrefix, const std::string& token);
    // Whole, atomic, 0600 from the first byte.
    void write(std::string_view text, const std::filesystem::path& file) const;
    std::string localPassword(const std::filesystem::path& file) const;
    std::string applicationPassword(const StackPaths& paths) const;

    // One SQL text through the MariaDB client over the environment's socket.
    std::string sql(const StackProfile& profile, const std::filesystem::path& prefix,
                    const std::string& statement, bool sensitive) const;
    // The login name MariaDB knows the running user by.
    static std::string loginName();

    // Readiness at start. requireAlive() fails at the first launched process
    // of the environment that has exited; the waits poll a bounded number of
    // times and fail at once when a server exits meanwhile.
    void requireAlive(const std::string& id) const;
    void waitForDatabase(const StackProfile& profile, const std::filesystem::path& dbPrefix) const;
    void waitForHTTP(const StackProfile& profile, const std::string& token) const;
    void waitForPhpMyAdmin(const StackProfile& profile) const;

    // Router and helper in step with what runs.
    HostServiceRequest hostRequest() const;
    void syncRouter(const std::optional<std::string>& excluding);
    // Sends hostRequest() when local addresses are on.
    void sendHostRequest();

    // Ends the environment's processes, last launched first; keeps in the
    // table only what survived. Never throws.
    void stopProcesses(const std::string& id);

    const std::filesystem::path root_;
    const Homebrew brew_;
    const std::shared_ptr<EngineHostService> hostClient_;
    const std::unique_ptr<VirtualHostRouter> router_;
    const EnvironmentFiles environmentFiles_;
    const StopPauses stopPauses_;
    const std::chrono::milliseconds readinessPause_;
    UniqueFd lockFD_;
    std::filesystem::path socketDirectory_;

    std::atomic<bool> busy_{false};
    mutable std::mutex mutex_; // guards everything below
    bool localHostsEnabled_ = false;
    std::vector<StackProfile> profiles_;
    std::map<std::string, ProcessList> processes_;
    std::map<std::string, std::string> failures_;
};

} // namespace vessora
