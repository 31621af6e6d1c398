// Create, update and delete: the operations that change the set of
// environments and their records.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraCore/Records/EnvironmentPorts.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <algorithm>
#include <cctype>
#include <exception>

namespace vessora {

namespace fs = std::filesystem;

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

StackProfile StackEngine::create(const std::string& name, const std::string& php,
                                 const std::string& mariaDB, bool phpMyAdminEnabled,
                                 const std::string& webserver, bool httpsEnabled,
                                 const std::optional<std::string>& documentRoot,
                                 const std::string& databaseName,
                                 const std::optional<std::string>& hostname, bool virtualHost,
                                 bool standardPorts) {
    BusyGuard guard(busy_);
    return createUnlocked(name, php, mariaDB, phpMyAdminEnabled, webserver, httpsEnabled,
                          documentRoot, databaseName, hostname, virtualHost, standardPorts, {});
}

StackProfile StackEngine::createUnlocked(
    const std::string& name, const std::string& php, const std::string& mariaDB,
    bool phpMyAdminEnabled, const std::string& webserver, bool httpsEnabled,
    const std::optional<std::string>& documentRoot, const std::string& databaseName,
    const std::optional<std::string>& hostname, bool virtualHost, bool standardPorts,
    const std::function<void(const StackProfile&)>& beforeStore) {
    std::vector<StackProfile> profiles = allProfiles();
    const EnvironmentPorts::Allocation ports =
        EnvironmentPorts::allocate(profiles, httpsEnabled, portAvailable_);

    StackProfile profile;
    profile.id = "env-" + lowercased(Uuid::random());
    profile.name = UnicodeText::trimmed(name);
    profile.php = php;
    profile.mariaDB = mariaDB;
    profile.httpPort = ports.http;
    profile.phpPort = ports.php;
    profile.databasePort = ports.database;
    profile.phpMyAdminEnabled = phpMyAdminEnabled;
    profile.webserver = webserver;
    profile.httpsEnabled = httpsEnabled;
    profile.httpsPort = httpsEnabled ? ports.https : std::nullopt;
    profile.documentRoot = documentRoot;
    profile.projectSubdirectory = std::nullopt;
    DatabaseName::validate(databaseName);
    profile.databaseName = databaseName;
    profile.hostname = LocalHostname::normalized(hostname);
    profile.virtualHost = virtualHost;
    profile.standardPorts = standardPorts;

    profiles.push_back(profile);
    StackProfile::validate(profiles);
    const StackPaths paths(root_, profile);
    WebDirectory::validate(paths);

    const fs::path folder = paths.directory();
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder, error)))
        throw VessoraError(L10n::text("The new environment folder already exists."));

    try {
        PrivateFile::createDirectories(paths.managedWeb());
        PrivateFile::createDirectories(paths.config());
        PrivateFile::createDirectories(paths.logs());
        if (!profile.documentRoot)
            write(Configuration::welcomePage(), paths.managedWeb() / "index.php");
        if (profile.httpsEnabled)
            LocalHTTPS::prepare(paths, false);
        if (beforeStore)
            beforeStore(profile);
        store(profiles);
    } catch (...) {
        fs::remove_all(folder, error);
        throw;
    }

    sendHostRequest();
    return profile;
}

void StackEngine::store(std::vector<StackProfile> profiles) {
    environmentFiles_.persist(profiles, profilesFile());
    std::lock_guard lock(mutex_);
    profiles_ = std::move(profiles);
}

void StackEngine::update(const StackProfile& given) {
    BusyGuard guard(busy_);
    const StackProfile stored = findInPlace(given.id);
    if (given.databaseName != stored.databaseName)
        throw VessoraError(L10n::text("The database name is fixed after creation. Import into "
                                      "a new environment to use another name."));
    if (hasProcesses(given.id))
        throw VessoraError(L10n::text("Stop the environment before changing its settings."));

    StackProfile profile = given;
    profile.name = UnicodeText::trimmed(given.name);
    profile.hostname = LocalHostname::normalized(given.hostname);

    std::vector<StackProfile> profiles = allProfiles();
    for (StackProfile& entry : profiles)
        if (entry.id == profile.id) {
            entry = profile;
            break;
        }
    StackProfile::validate(profiles);
    const StackPaths paths(root_, profile);
    WebDirectory::validate(paths);

    if (profile.httpsEnabled) {
        // validate() guarantees a port while HTTPS is on.
        PortCheck::requireAvailable(profile.httpsPort.value_or(0));
        // A new name needs a new certificate. Otherwise one that still
        // passes every check stays, since users trust it by hand; one that
        // fails (expired, or made for a name set while HTTPS was off) is
        // replaced, as renewal refuses while HTTPS is off.
        if (profile.hostname != stored.hostname)
            LocalHTTPS::prepare(paths, true);
        else
            LocalHTTPS::refresh(paths);
    }
    store(std::move(profiles));
    sendHostRequest();
}

void StackEngine::remove(const std::string& id) {
    BusyGuard guard(busy_);
    const StackProfile profile = find(id);
    syncRouter(id);
    stopProcesses(id);
    if (hasProcesses(id))
        throw VessoraError(L10n::text(
            "The environment could not be stopped completely. Its data has not been deleted."));

    try {
        environmentFiles_.remove(profile, allProfiles());
    } catch (...) {
        adoptStoredProfiles();
        throw;
    }
    {
        std::lock_guard lock(mutex_);
        std::erase_if(profiles_, [&](const StackProfile& entry) { return entry.id == id; });
    }
    sendHostRequest();
    {
        std::lock_guard lock(mutex_);
        failures_.erase(id);
    }
    std::error_code ignored;
    fs::remove(socketFile(id), ignored);
}

void StackEngine::adoptStoredProfiles() {
    // The delete's own error is the one to report; a records file that
    // cannot be read now is met again by the next launch.
    try {
        std::vector<StackProfile> stored = EnvironmentFiles::load(profilesFile());
        std::lock_guard lock(mutex_);
        profiles_ = std::move(stored);
    } catch (const std::exception&) {
    }
}

} // namespace vessora
