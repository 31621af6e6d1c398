// The real engine behind AppEngine: one StackEngine, opened on construction
// and released with the adapter (which releases the data root's lock).
#pragma once

#include "Vessora/App/AppEngine.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"

#include <memory>

namespace vessora {

class StackEngineAdapter : public AppEngine {
public:
    // Opens the engine; throws its error (a finished sentence) when that fails.
    explicit StackEngineAdapter(StackEngine::Options options);

    // The engine of the program: the given root, the real helper client and
    // Homebrew, no trash handler (deleted environments go to the Trash).
    static std::shared_ptr<AppEngine> open(const std::filesystem::path& root);

    std::filesystem::path root() const override;
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

private:
    StackEngine engine_;
    const std::vector<StackProfile> opened_;
};

} // namespace vessora
