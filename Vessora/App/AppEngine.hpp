// The engine as the application sees it: the public operations of
// StackEngine that the interface calls. StackEngineAdapter is the real one;
// tests give a fake. Later areas add their operations here and to both
// implementations.
//
// Every call blocks: the model makes them on worker threads only (see
// WorkerBridge), never on the main thread. root() and openedProfiles() are
// values kept from the opening and never wait. The guarded operations refuse
// with "Another Vessora action is still in progress." while another one runs
// and throw their failure as an exception whose what() is a finished
// sentence. The queries are always served; allProfiles(), statuses() and
// localHostConnected() never throw.
#pragma once

#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"
#include "VessoraCore/Database/DatabaseAccess.hpp"
#include "VessoraCore/Database/DatabaseAccessChange.hpp"
#include "VessoraCore/Database/DatabaseAdminSnapshot.hpp"
#include "VessoraCore/Database/DatabaseCredentials.hpp"
#include "VessoraCore/Import/MigrationPhase.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "VessoraCore/Import/MigrationResult.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraCore/Records/StackStatus.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class AppEngine {
public:
    virtual ~AppEngine() = default;

    // The data root the engine was opened with, links resolved; fixed.
    virtual std::filesystem::path root() const = 0;
    // The records as the engine loaded them when it opened; fixed, so the
    // first frame can show them before any worker has run.
    virtual std::vector<StackProfile> openedProfiles() const = 0;

    // Always served.
    virtual std::vector<StackProfile> allProfiles() = 0;
    virtual std::map<std::string, StackStatus> statuses() = 0;
    virtual InstallationStatus installations() = 0;
    virtual bool localHostConnected() = 0;
    virtual LocalCertificateInfo certificateInfo(const std::string& id) = 0;

    // Guarded.
    virtual StackProfile
    create(const std::string& name, const std::string& php, const std::string& mariaDB,
           bool phpMyAdminEnabled, const std::string& webserver, bool httpsEnabled,
           const std::optional<std::string>& documentRoot, const std::string& databaseName,
           const std::optional<std::string>& hostname, bool virtualHost, bool standardPorts) = 0;
    virtual void update(const StackProfile& profile) = 0;
    virtual void remove(const std::string& id) = 0;
    virtual void install(const std::string& id) = 0;
    virtual void configureLocalHosts(bool enabled) = 0;
    virtual void renewCertificate(const std::string& id) = 0;
    virtual void start(const std::string& id) = 0;
    virtual void stop(const std::string& id) = 0;
    virtual void stopAll() = 0;

    // Database administration of a running environment (all three server
    // processes live), guarded. Each account change reads the server afresh.
    virtual DatabaseAdminSnapshot databaseAdminSnapshot(const std::string& id) = 0;
    virtual void createDatabase(const std::string& id, const std::string& name,
                                bool grantApplicationAccess) = 0;
    virtual void createDatabaseUser(const std::string& id, const std::string& name,
                                    const std::string& password, const std::string& database,
                                    DatabaseAccess access) = 0;
    virtual void setDatabaseAccess(const std::string& id, const std::string& user,
                                   const std::string& host,
                                   const std::vector<DatabaseAccessChange>& changes) = 0;
    virtual void changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                            const std::string& host,
                                            const std::string& password) = 0;
    virtual void deleteDatabaseUser(const std::string& id, const std::string& user,
                                    const std::string& host) = 0;
    virtual std::string executeSQL(const std::string& id, const std::string& statement) = 0;
    // The application account's connection data, running or stopped; refused
    // only while another operation runs (it does not take the flag itself).
    virtual DatabaseCredentials databaseCredentials(const std::string& id) = 0;
    // Stores the application account's password for the next start; refused
    // while the environment has processes.
    virtual void setDatabasePassword(const std::string& id, const std::string& password) = 0;

    // Project import, guarded: `progress` is called on the calling worker
    // once per phase the import enters, before that phase's work. A failure
    // before the new environment's first report throws; after it the
    // environment is kept stopped and the failed report is returned.
    using MigrationProgress = std::function<void(MigrationPhase)>;
    virtual MigrationResult migrate(const MigrationRequest& request,
                                    const MigrationProgress& progress) = 0;
};

} // namespace vessora
