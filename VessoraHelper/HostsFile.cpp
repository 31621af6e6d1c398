#include "VessoraHelper/HostsFile.hpp"

#include "VessoraHelper/RandomUUID.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"
#include "VessoraHostProtocol/Utf8.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vessora::HostsFile {
namespace {

[[noreturn]] void fail(const char* sentence) {
    throw HostServiceError(sentence);
}

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

int openRetrying(const std::filesystem::path& path, int flags, mode_t mode = 0) {
    int fd;
    do
        fd = ::open(path.c_str(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A file that is closed and then unlinked when the call ends.
class TemporaryFile {
public:
    TemporaryFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~TemporaryFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_; }

private:
    std::filesystem::path path_;
    int fd_;
};

// A new, private (0600) file named with the staging prefix, or none.
std::optional<TemporaryFile> createStagingFile(const Location& location) {
    const std::filesystem::path path =
        location.folder / (std::string(Location::stagingPrefix) + randomUUID());
    const int fd = openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::nullopt;
    return std::optional<TemporaryFile>(std::in_place, path, fd);
}

// Reads from offset 0 to end of file, but never more than maxSize + 1 bytes.
std::string readAll(int fd, const std::string& what) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() <= maxSize) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwErrno("read " + what);
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (bytes.size() > maxSize + 1)
        bytes.resize(maxSize + 1);
    return bytes;
}

void writeAll(const FileCalls& calls, int fd, const std::string& bytes, const std::string& what) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = calls.write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            throwErrno("write " + what);
        done += static_cast<std::size_t>(wrote);
    }
}

// The backup is made once: written whole to a private file, flushed, then
// linked into place, so a failure never leaves a partial backup behind.
void backUpOnce(const Location& location, const std::string& bytes) {
    struct stat existing {};
    const std::filesystem::path backup = location.backup();
    if (::lstat(backup.c_str(), &existing) == 0)
        return;
    if (errno != ENOENT)
        fail(backupFailed);
    std::optional<TemporaryFile> file = createStagingFile(location);
    if (!file)
        fail(backupFailed);
    writeAll(location.calls, file->fd(), bytes, backup.string());
    if (location.calls.fsync(file->fd()) != 0)
        throwErrno("fsync " + backup.string());
    if (location.calls.link(file->path().c_str(), backup.c_str()) != 0 && errno != EEXIST)
        fail(backupFailed);
}

// A staging name: the prefix and a UUID in its upper-case text form.
bool isStagingName(std::string_view name) {
    const std::string_view prefix = Location::stagingPrefix;
    if (name.size() != prefix.size() + 36 || !name.starts_with(prefix))
        return false;
    name.remove_prefix(prefix.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// A call killed between staging and clean-up leaves its staging file
// behind. Under the lock no other call is staging, so every one found is
// stale. Best effort: a file that cannot be removed does no harm.
void removeStaleStagingFiles(const Location& location) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(location.folder, error), end;
         !error && entry != end; entry.increment(error)) {
        if (isStagingName(entry->path().filename().string()))
            ::unlink(entry->path().c_str());
    }
}

// Makes the renamed entry durable: without it a power loss can bring the
// old file back after success was reported.
void syncFolder(const Location& location) {
    const Descriptor folder(openRetrying(location.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || location.calls.fsync(folder.fd()) != 0)
        fail(saveFailed);
}

} // namespace

void apply(const Location& location, std::uint32_t userID, const std::vector<std::string>& names) {
    const Descriptor lock(
        openRetrying(location.lock(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.valid())
        fail(lockFailed);
    struct stat lockStatus {};
    if (::fstat(lock.fd(), &lockStatus) != 0 || lockStatus.st_uid != location.owner ||
        lockStatus.st_nlink != 1 || !S_ISREG(lockStatus.st_mode))
        fail(unsafeLock);
    int locked;
    do
        locked = ::flock(lock.fd(), LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0)
        fail(unsafeLock);
    removeStaleStagingFiles(location);

    const std::filesystem::path hostsPath = location.hosts();
    const Descriptor hosts(openRetrying(hostsPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!hosts.valid())
        fail(openFailed);
    struct stat status {};
    if (::fstat(hosts.fd(), &status) != 0 || status.st_uid != location.owner ||
        status.st_nlink != 1 || !S_ISREG(status.st_mode) || (status.st_mode & 022) != 0 ||
        static_cast<std::uint64_t>(status.st_size) - 1 > maxSize - 1)
        fail(unsafeHosts);

    const std::string old = readAll(hosts.fd(), hostsPath.string());
    if (old.size() != static_cast<std::uint64_t>(status.st_size))
        fail(changedMeanwhile); // someone is writing it right now
    if (!Utf8::isValid(old))
        fail(notUTF8);
    const std::string replaced = ManagedHosts::replacing(old, userID, names);
    if (replaced == old)
        return;
    // A file past the limit would be refused by every later call, even the
    // one that removes the section again.
    if (replaced.size() > maxSize)
        fail(tooLarge);

    backUpOnce(location, old);

    std::optional<TemporaryFile> staging = createStagingFile(location);
    if (!staging)
        fail(stageFailed);
    const FileCalls& calls = location.calls;
    writeAll(calls, staging->fd(), replaced, staging->path().string());
    if (calls.fchown(staging->fd(), status.st_uid, status.st_gid) != 0 ||
        calls.fchmod(staging->fd(), status.st_mode & 0777) != 0 || calls.fsync(staging->fd()) != 0)
        fail(saveFailed);

    if (location.beforeRaceCheck)
        location.beforeRaceCheck();
    struct stat now {};
    if (::lstat(hostsPath.c_str(), &now) != 0 || now.st_ino != status.st_ino ||
        now.st_mtim.tv_sec != status.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != status.st_mtim.tv_nsec)
        fail(changedMeanwhile);
    {
        const Descriptor again(openRetrying(hostsPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!again.valid())
            throwErrno("open " + hostsPath.string());
        if (readAll(again.fd(), hostsPath.string()) != old)
            fail(changedMeanwhile);
    }

    if (calls.rename(staging->path().c_str(), hostsPath.c_str()) != 0)
        fail(replaceFailed);
    syncFolder(location);
}

} // namespace vessora::HostsFile
