// Everything one start writes before a server runs: folders, the two
// password files and the generated configuration.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"

#include <algorithm>
#include <cctype>

namespace vessora {

namespace fs = std::filesystem;

std::string StackEngine::prepare(const StackPaths& paths, const fs::path& dbPrefix,
                                 const fs::path& webPrefix, const std::string& token) {
    const StackProfile& profile = paths.profile();
    const fs::path tmp = paths.directory() / "tmp";
    std::vector<fs::path> folders{paths.config(),
                                  paths.config() / "ini.d",
                                  paths.logs(),
                                  paths.managedWeb(),
                                  paths.healthDirectory(),
                                  paths.data(),
                                  tmp / "client",
                                  tmp / "fastcgi",
                                  tmp / "sessions",
                                  tmp / "uploads",
                                  tmp / "apache"};
    if (profile.phpMyAdminEnabled) {
        folders.push_back(tmp / "phpmyadmin" / "cache");
        folders.push_back(tmp / "phpmyadmin" / "sessions");
    }
    for (const fs::path& folder : folders)
        PrivateFile::createDirectories(folder);

    WebDirectory::prepareMount(paths);
    const std::string password = applicationPassword(paths);

    writeConfiguration(Configuration::php(paths), paths.phpConfig());
    writeConfiguration(Configuration::fpm(paths), paths.fpmConfig());
    if (profile.webserver == "httpd")
        writeConfiguration(Configuration::apache(paths, webPrefix), paths.apacheConfig());
    else
        writeConfiguration(Configuration::nginx(paths), paths.nginxConfig());
    writeConfiguration(Configuration::database(paths, dbPrefix, socketFile(profile.id)),
                       paths.databaseConfig());
    writeConfiguration(Configuration::probe(paths, password, token), paths.config() / "probe.php");
    writeConfiguration(Configuration::health(paths), paths.healthScript());

    if (!profile.documentRoot && !profile.projectSubdirectory)
        Configuration::ensureWelcomePage(paths.managedWeb() / "index.php");
    return password;
}

void StackEngine::write(std::string_view text, const fs::path& file) const {
    PrivateFile::write(file, text);
}

void StackEngine::writeConfiguration(std::string_view text, const fs::path& file) const {
    PrivateFile::writeRebuilt(file, text);
}

std::string StackEngine::localPassword(const fs::path& file) const {
    if (!fs::exists(file)) {
        std::string password = Uuid::random();
        std::erase(password, '-');
        write(password, file);
        return password;
    }
    const std::string text = PrivateFile::read(file);
    if (text.size() != 32 || !std::all_of(text.begin(), text.end(),
                                          [](unsigned char c) { return std::isxdigit(c) != 0; }))
        throw VessoraError(L10n::text("Invalid local database credentials."));
    return text;
}

std::string StackEngine::applicationPassword(const StackPaths& paths) const {
    const fs::path file = paths.databasePassword();
    if (!fs::exists(file))
        return localPassword(file);
    const std::string text = PrivateFile::read(file);
    DatabasePassword::validate(text);
    return text;
}

} // namespace vessora
