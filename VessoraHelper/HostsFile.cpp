#include "VessoraHelper/HostsFile.hpp"

#include "VessoraHelper/RandomUUID.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"
#include "VessoraHostProtocol/Utf8.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
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

void writeAll(int fd, const std::string& bytes, const std::string& what) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
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
    writeAll(file->fd(), bytes, backup.string());
    if (::fsync(file->fd()) != 0)
        throwErrno("fsync " + backup.string());
    if (::link(file->path().c_str(), backup.c_str()) != 0 && errno != EEXIST)
        fail(backupFailed);
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
    writeAll(staging->fd(), replaced, staging->path().string());
    if (::fchown(staging->fd(), status.st_uid, status.st_gid) != 0 ||
        ::fchmod(staging->fd(), status.st_mode & 0777) != 0 || ::fsync(staging->fd()) != 0)
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

    if (::rename(staging->path().c_str(), hostsPath.c_str()) != 0)
        fail(replaceFailed);
}

} // namespace vessora::HostsFile
