// Every file and folder of one environment, derived from the data root and
// the environment's record. This is the only place that joins these paths;
// the names here are the on-disk layout the rest of the engine relies on.
// Members compute their path on each call and create nothing on disk.
// Folder paths carry no trailing "/". Derive paths from validated records
// only: an invalid id or formula gives odd paths.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <filesystem>
#include <string>

namespace vessora {

class StackPaths {
public:
    StackPaths(std::filesystem::path root, StackProfile profile);

    // The data root's own package-install log, "logs/homebrew-install.log",
    // shared by every environment.
    static std::filesystem::path installLog(const std::filesystem::path& root);
    // ".migration-staging": one folder per running import, never needed
    // after the run that made it.
    static std::filesystem::path migrationStaging(const std::filesystem::path& root);

    const std::filesystem::path& root() const { return root_; }
    const StackProfile& profile() const { return profile_; }

    std::filesystem::path directory() const;
    std::filesystem::path logs() const;
    std::filesystem::path config() const;
    std::filesystem::path tools() const;
    // The default web folder, filled with the welcome page.
    std::filesystem::path managedWeb() const;
    // The imported copy of a project.
    std::filesystem::path project() const;
    // One MariaDB data directory per formula: a new series starts fresh.
    std::filesystem::path data() const;
    // The folder the site serves: the custom folder, a folder of the project
    // copy, or the managed folder.
    std::filesystem::path web() const;
    // What the web server is given: the managed folder itself, or the private
    // link to web() that WebDirectory::prepareMount keeps.
    std::filesystem::path servedWeb() const;
    std::filesystem::path healthDirectory() const;
    std::filesystem::path healthScript() const;
    std::filesystem::path phpMyAdmin() const;
    std::filesystem::path phpConfig() const;
    std::filesystem::path fpmConfig() const;
    std::filesystem::path nginxConfig() const;
    std::filesystem::path apacheConfig() const;
    std::filesystem::path databaseConfig() const;
    std::filesystem::path phpMyAdminConfig() const;
    std::filesystem::path tls() const;
    std::filesystem::path tlsIdentity() const;
    std::filesystem::path tlsCertificate() const;
    std::filesystem::path tlsPrivateKey() const;
    std::filesystem::path tlsImportCertificate() const;
    std::filesystem::path migrationReport() const;
    // "logs/sql-import.log": what the SQL client said while it loaded an
    // imported dump, kept beside the server logs.
    std::filesystem::path importLog() const;
    // "config/database-password": the application account's stored password.
    std::filesystem::path databasePassword() const;
    // "config/.migration-client.cnf": the import client's password, only
    // while the client runs.
    std::filesystem::path migrationClientOptions() const;
    // "servers": one record per server launched and not yet seen to end.
    std::filesystem::path serverRecords() const;

    // "Vessora_pma_" + 16 hex digits that depend on the resolved data root
    // and the id, so two data roots never share phpMyAdmin sessions.
    std::string phpMyAdminSessionCookieName() const;
    std::string phpMyAdminSecureSessionCookieName() const;

private:
    std::filesystem::path root_;
    StackProfile profile_;
};

} // namespace vessora
