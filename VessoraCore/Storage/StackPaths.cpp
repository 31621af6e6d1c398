#include "VessoraCore/Storage/StackPaths.hpp"

#include "VessoraCore/Foundation/Sha256.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"

#include <memory>
#include <stdexcept>

namespace vessora {

namespace fs = std::filesystem;

namespace {} // namespace

StackPaths::StackPaths(fs::path root, StackProfile profile)
    : root_(std::move(root)), profile_(std::move(profile)) {}

fs::path StackPaths::installLog(const fs::path& root) {
    return root / "logs" / "homebrew-install.log";
}

fs::path StackPaths::migrationStaging(const fs::path& root) {
    return root / ".migration-staging";
}
fs::path StackPaths::migrationClientOptions() const {
    return config() / ".migration-client.cnf";
}
fs::path StackPaths::serverRecords() const {
    return directory() / "servers";
}
fs::path StackPaths::directory() const {
    return root_ / profile_.id;
}
fs::path StackPaths::logs() const {
    return directory() / "logs";
}
fs::path StackPaths::config() const {
    return directory() / "config";
}
fs::path StackPaths::tools() const {
    return directory() / "tools";
}
fs::path StackPaths::managedWeb() const {
    return directory() / "public";
}
fs::path StackPaths::project() const {
    return directory() / "project";
}
fs::path StackPaths::data() const {
    return directory() / "data" / profile_.mariaDB;
}

fs::path StackPaths::web() const {
    if (profile_.documentRoot)
        return StandardPath::withoutTrailingSlash(*profile_.documentRoot);
    if (profile_.projectSubdirectory) {
        if (profile_.projectSubdirectory->empty())
            return project();
        return project() / *profile_.projectSubdirectory;
    }
    return managedWeb();
}

fs::path StackPaths::servedWeb() const {
    if (!profile_.documentRoot && !profile_.projectSubdirectory)
        return managedWeb();
    return tools() / "web-root";
}

fs::path StackPaths::healthDirectory() const {
    return tools() / "health";
}
fs::path StackPaths::healthScript() const {
    return healthDirectory() / "health.php";
}
fs::path StackPaths::phpMyAdmin() const {
    return tools() / "phpmyadmin";
}
fs::path StackPaths::phpConfig() const {
    return config() / "php.ini";
}
fs::path StackPaths::fpmConfig() const {
    return config() / "php-fpm.conf";
}
fs::path StackPaths::nginxConfig() const {
    return config() / "nginx.conf";
}
fs::path StackPaths::apacheConfig() const {
    return config() / "httpd.conf";
}
fs::path StackPaths::databaseConfig() const {
    return config() / "mariadb.cnf";
}
fs::path StackPaths::phpMyAdminConfig() const {
    return config() / "phpmyadmin.inc.php";
}
fs::path StackPaths::tls() const {
    return config() / "tls";
}
fs::path StackPaths::tlsIdentity() const {
    return tls() / "identity";
}
fs::path StackPaths::tlsCertificate() const {
    return tlsIdentity() / "localhost.crt";
}
fs::path StackPaths::tlsPrivateKey() const {
    return tlsIdentity() / "localhost.key";
}
fs::path StackPaths::tlsImportCertificate() const {
    return tlsIdentity() / "localhost.cer";
}
fs::path StackPaths::migrationReport() const {
    return directory() / "migration-report.json";
}

fs::path StackPaths::importLog() const {
    return logs() / "sql-import.log";
}
fs::path StackPaths::databasePassword() const {
    return config() / "database-password";
}

std::string StackPaths::phpMyAdminSessionCookieName() const {
    std::error_code error;
    std::string resolvedRoot = StandardPath::resolved(root_, error).string();
    return "Vessora_pma_" + Sha256::hex(resolvedRoot + "/" + profile_.id, 8);
}

std::string StackPaths::phpMyAdminSecureSessionCookieName() const {
    return "__Secure-" + phpMyAdminSessionCookieName() + "_https";
}

} // namespace vessora
