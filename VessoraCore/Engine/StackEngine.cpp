#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Process/ServerSweep.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/LocalAddresses/HostServiceClient.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vessora {

namespace fs = std::filesystem;

namespace {

// The real helper client behind the engine's view of it.
class HelperClientService : public EngineHostService {
public:
    void apply(const HostServiceRequest& request) override { client_.apply(request); }
    bool isConnected() override { return client_.isConnected(); }
    void closeConnection() override { client_.invalidate(); }

private:
    HostServiceClient client_;
};

} // namespace

StackEngine::BusyGuard::BusyGuard(std::atomic<bool>& busy) : busy_(busy) {
    if (busy_.exchange(true))
        throw VessoraError(L10n::text("Another Vessora action is still in progress."));
}

StackEngine::StackEngine(Options options)
    : root_(resolveRoot(options.root)), brew_(options.brew),
      hostClient_(options.hostClient ? std::move(options.hostClient)
                                     : std::make_shared<HelperClientService>()),
      router_(std::make_unique<VirtualHostRouter>(root_, options.routerPorts)),
      environmentFiles_(root_, std::move(options.trashHandler)), stopPauses_(options.stopPauses),
      readinessPause_(options.readinessPause),
      portAvailable_(options.portAvailable
                         ? std::move(options.portAvailable)
                         : std::function<bool(std::int64_t)>(PortCheck::isAvailable)) {
    PrivateFile::createDirectories(root_);
    lockRoot();
    // From here on a failure closes lockFD_ as the half-built engine unwinds.
    loadProfiles();
    stopLeftoverServers();
    removeImportLeftovers();
    environmentFiles_.recover(profiles_);
    socketDirectory_ = socketDirectoryFor(root_);
    prepareSocketDirectory();
}

StackEngine::~StackEngine() {
    // Only this root's folder, and only once nothing of ours can use it; a
    // server still running keeps its socket there.
    std::lock_guard lock(mutex_);
    if (processes_.empty() && !socketDirectory_.empty()) {
        std::error_code ignored;
        fs::remove_all(socketDirectory_, ignored);
    }
}

void StackEngine::stopLeftoverServers() {
    std::vector<fs::path> folders{root_ / ".router" / "servers"};
    for (const StackProfile& profile : profiles_)
        folders.push_back(StackPaths(root_, profile).serverRecords());
    ServerSweep::stopRecorded(folders);
}

void StackEngine::removeImportLeftovers() {
    std::error_code ignored;
    fs::remove_all(StackPaths::migrationStaging(root_), ignored);
    for (const StackProfile& profile : profiles_)
        fs::remove(StackPaths(root_, profile).migrationClientOptions(), ignored);
}

fs::path StackEngine::serverRecords(const std::string& id) const {
    return StackPaths(root_, find(id)).serverRecords();
}

fs::path StackEngine::resolveRoot(const fs::path& given) {
    const auto refuseUnquotable = [](const std::string& text) {
        if (text.find_first_of("\n\r") != std::string::npos)
            throw VessoraError(L10n::text("The data path must not contain a newline."));
        // nginx and Apache read no escape for it, and PHP expands "${...}"
        // inside its quoted settings.
        if (text.find('$') != std::string::npos)
            throw VessoraError(L10n::text("The data path must not contain a dollar sign."));
        // PHP takes every ";" in the session folder's setting for a field
        // separator, so sessions would go to a relative folder.
        if (text.find(';') != std::string::npos)
            throw VessoraError(L10n::text("The data path must not contain a semicolon."));
    };
    refuseUnquotable(given.string());
    std::error_code error;
    fs::path resolved = StandardPath::resolved(fs::absolute(given), error);
    if (error)
        throw fs::filesystem_error("Could not resolve the data path", given, error);
    resolved = StandardPath::withoutTrailingSlash(resolved);
    refuseUnquotable(resolved.string());
    return resolved;
}

void StackEngine::lockRoot() {
    const fs::path file = root_ / "engine.lock";
    const std::string refused =
        L10n::text("Another Vessora instance is already using this data directory.");
    // Two engines of this process must not both pass the check below.
    static std::mutex lockStep;
    std::lock_guard step(lockStep);
    // Opening the file a second time and closing it again would drop this
    // process's lock on it, so another engine here is caught first.
    if (openHere(file))
        throw VessoraError(refused);
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        throw VessoraError(L10n::text("Could not lock the Vessora data directory."));
    // A record lock belongs to the process that took it: no child shares
    // it, and it goes the moment that process dies. A copy of the
    // descriptor held by a child of a killed run (one caught between its
    // launch and its exec) therefore never keeps the next run out.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_SETLK, &whole) != 0) {
        if (errno == EACCES || errno == EAGAIN)
            throw VessoraError(refused);
        throw VessoraError(L10n::text("Could not lock the Vessora data directory."));
    }
    // Earlier builds take only this lock: they stay out while we run. It is
    // not a refusal here, since such a child's copy may still hold it.
    (void)::flock(fd.get(), LOCK_EX | LOCK_NB);
    lockFD_ = std::move(fd);
}

bool StackEngine::openHere(const fs::path& file) {
    struct stat target {};
    if (::lstat(file.c_str(), &target) != 0)
        return false;
    std::error_code error;
    for (fs::directory_iterator item("/proc/self/fd", error), end; !error && item != end;
         item.increment(error)) {
        const std::string name = item->path().filename().string();
        struct stat info {};
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            ::fstat(std::stoi(name), &info) == 0 && info.st_dev == target.st_dev &&
            info.st_ino == target.st_ino)
            return true;
    }
    return false;
}

void StackEngine::loadProfiles() {
    const fs::path file = profilesFile();
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    if (error && error != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("Could not read the environment records", file, error);
    if (!fs::exists(status)) {
        std::vector<StackProfile> defaults = StackProfile::defaults();
        environmentFiles_.persist(defaults, file);
        profiles_ = std::move(defaults);
        return;
    }
    profiles_ = EnvironmentFiles::load(file);
    StackProfile::validate(profiles_);
}

fs::path StackEngine::socketDirectoryFor(const fs::path& resolvedRoot) {
    const std::string text = StandardPath::withoutTrailingSlash(resolvedRoot).string();
    const std::string hex = Sha256::hex(text, 8);
    return fs::path("/tmp") / ("vessora-" + std::to_string(::getuid()) + "-" + hex);
}

void StackEngine::prepareSocketDirectory() {
    const fs::path& folder = socketDirectory_;
    std::error_code error;
    // exists() follows a link: only an item whose target exists counts.
    if (fs::exists(folder, error)) {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0)
            throw fs::filesystem_error("Could not inspect the socket folder", folder,
                                       std::error_code(errno, std::generic_category()));
        if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 07777) != 0700)
            throw VessoraError(L10n::text("Unsafe socket directory: %@", {folder.string()}));
        return;
    }
    if (error && error != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("Could not inspect the socket folder", folder, error);
    if (::mkdir(folder.c_str(), 0700) != 0)
        throw fs::filesystem_error("Could not create the socket folder", folder,
                                   std::error_code(errno, std::generic_category()));
    // The umask may have narrowed it further; the check above wants 0700 exactly.
    if (::chmod(folder.c_str(), 0700) != 0)
        throw fs::filesystem_error("Could not create the socket folder", folder,
                                   std::error_code(errno, std::generic_category()));
}

fs::path StackEngine::defaultRoot() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return fs::path(data) / "Vessora";
    const char* home = std::getenv("HOME");
    // Without a home folder there is no per-user place; the current folder
    // would be a surprise, so say so.
    if (!home || home[0] != '/')
        throw VessoraError(L10n::text("Could not find the folder for application data."));
    return fs::path(home) / ".local" / "share" / "Vessora";
}

std::vector<StackProfile> StackEngine::allProfiles() const {
    std::lock_guard lock(mutex_);
    return profiles_;
}

InstallationStatus StackEngine::installations() const {
    return brew_.installations();
}

StackProfile StackEngine::find(const std::string& id) const {
    std::lock_guard lock(mutex_);
    for (const StackProfile& profile : profiles_)
        if (profile.id == id)
            return profile;
    throw VessoraError(L10n::text("Unknown environment."));
}

StackProfile StackEngine::findInPlace(const std::string& id) const {
    StackProfile profile = find(id);
    environmentFiles_.requireNotPending(id);
    return profile;
}

bool StackEngine::hasProcesses(const std::string& id) const {
    std::lock_guard lock(mutex_);
    return processes_.count(id) != 0;
}

fs::path StackEngine::profilesFile() const {
    return root_ / "profiles.json";
}

fs::path StackEngine::socketFile(const std::string& id) const {
    return socketDirectory_ / (id + ".sock");
}

} // namespace vessora
