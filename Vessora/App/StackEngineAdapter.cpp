#include "Vessora/App/StackEngineAdapter.hpp"

namespace vessora {

StackEngineAdapter::StackEngineAdapter(StackEngine::Options options)
    : engine_(std::move(options)), opened_(engine_.allProfiles()) {}

std::shared_ptr<AppEngine> StackEngineAdapter::open(const std::filesystem::path& root) {
    StackEngine::Options options;
    options.root = root;
    return std::make_shared<StackEngineAdapter>(std::move(options));
}

std::filesystem::path StackEngineAdapter::root() const {
    return engine_.root();
}

std::vector<StackProfile> StackEngineAdapter::openedProfiles() const {
    return opened_;
}

std::vector<StackProfile> StackEngineAdapter::allProfiles() {
    return engine_.allProfiles();
}

std::map<std::string, StackStatus> StackEngineAdapter::statuses() {
    return engine_.statuses();
}

InstallationStatus StackEngineAdapter::installations() {
    return engine_.installations();
}

bool StackEngineAdapter::localHostConnected() {
    return engine_.localHostConnected();
}

LocalCertificateInfo StackEngineAdapter::certificateInfo(const std::string& id) {
    return engine_.certificateInfo(id);
}

StackProfile StackEngineAdapter::create(const std::string& name, const std::string& php,
                                        const std::string& mariaDB, bool phpMyAdminEnabled,
                                        const std::string& webserver, bool httpsEnabled,
                                        const std::optional<std::string>& documentRoot,
                                        const std::string& databaseName,
                                        const std::optional<std::string>& hostname,
                                        bool virtualHost, bool standardPorts) {
    return engine_.create(name, php, mariaDB, phpMyAdminEnabled, webserver, httpsEnabled,
                          documentRoot, databaseName, hostname, virtualHost, standardPorts);
}

void StackEngineAdapter::update(const StackProfile& profile) {
    engine_.update(profile);
}

void StackEngineAdapter::remove(const std::string& id) {
    engine_.remove(id);
}

void StackEngineAdapter::install(const std::string& id) {
    engine_.install(id);
}

void StackEngineAdapter::configureLocalHosts(bool enabled) {
    engine_.configureLocalHosts(enabled);
}

void StackEngineAdapter::renewCertificate(const std::string& id) {
    engine_.renewCertificate(id);
}

void StackEngineAdapter::start(const std::string& id) {
    engine_.start(id);
}

void StackEngineAdapter::stop(const std::string& id) {
    engine_.stop(id);
}

void StackEngineAdapter::stopAll() {
    engine_.stopAll();
}

DatabaseAdminSnapshot StackEngineAdapter::databaseAdminSnapshot(const std::string& id) {
    return engine_.databaseAdminSnapshot(id);
}

void StackEngineAdapter::createDatabase(const std::string& id, const std::string& name,
                                        bool grantApplicationAccess) {
    engine_.createDatabase(id, name, grantApplicationAccess);
}

void StackEngineAdapter::createDatabaseUser(const std::string& id, const std::string& name,
                                            const std::string& password,
                                            const std::string& database, DatabaseAccess access) {
    engine_.createDatabaseUser(id, name, password, database, access);
}

void StackEngineAdapter::setDatabaseAccess(const std::string& id, const std::string& user,
                                           const std::string& host,
                                           const std::vector<DatabaseAccessChange>& changes) {
    engine_.setDatabaseAccess(id, user, host, changes);
}

void StackEngineAdapter::changeDatabaseUserPassword(const std::string& id, const std::string& user,
                                                    const std::string& host,
                                                    const std::string& password) {
    engine_.changeDatabaseUserPassword(id, user, host, password);
}

void StackEngineAdapter::deleteDatabaseUser(const std::string& id, const std::string& user,
                                            const std::string& host) {
    engine_.deleteDatabaseUser(id, user, host);
}

std::string StackEngineAdapter::executeSQL(const std::string& id, const std::string& statement) {
    return engine_.executeSQL(id, statement);
}

DatabaseCredentials StackEngineAdapter::databaseCredentials(const std::string& id) {
    return engine_.databaseCredentials(id);
}

void StackEngineAdapter::setDatabasePassword(const std::string& id, const std::string& password) {
    engine_.setDatabasePassword(id, password);
}

MigrationResult StackEngineAdapter::migrate(const MigrationRequest& request,
                                            const MigrationProgress& progress) {
    return engine_.migrate(request, progress);
}

} // namespace vessora
