#include "VessoraCore/Import/ProjectCopy.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vessora::ProjectCopy {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

[[noreturn]] void specialFile() {
    throw VessoraError(L10n::text(
        "The project contains a special file that cannot be copied. Use the existing folder "
        "instead."));
}

constexpr mode_t permissionBits = 0777;

// Bytes from one descriptor to the other; the kernel's copy where it can.
void copyBytes(int from, int to, const fs::path& source) {
    bool kernelCopy = true;
    std::array<char, 256 * 1024> buffer{};
    while (true) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
            if (copied > 0)
                continue;
            if (copied == 0)
                return;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                fail("Could not copy", source);
            kernelCopy = false;
        }
        const ssize_t count = ::read(from, buffer.data(), buffer.size());
        if (count == 0)
            return;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            fail("Could not read", source);
        }
        for (ssize_t written = 0; written < count;) {
            const ssize_t step = ::write(to, buffer.data() + written, count - written);
            if (step < 0) {
                if (errno == EINTR)
                    continue;
                fail("Could not write", source);
            }
            written += step;
        }
    }
}

void copyFile(const fs::path& source, const fs::path& destination) {
    // O_NOFOLLOW: an item replaced by a link after the listing is not read.
    UniqueFd from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!from)
        fail("Could not open", source);
    struct stat info {};
    if (::fstat(from.get(), &info) != 0)
        fail("Could not inspect", source);
    if (!S_ISREG(info.st_mode))
        specialFile();
    UniqueFd to(
        ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to)
        fail("Could not create", destination);
    copyBytes(from.get(), to.get(), source);
    const std::array<timespec, 2> times{info.st_atim, info.st_mtim};
    if (::fchmod(to.get(), info.st_mode & permissionBits) != 0 ||
        ::futimens(to.get(), times.data()) != 0)
        fail("Could not copy the attributes of", destination);
    if (::close(to.release()) != 0)
        fail("Could not write", destination);
}

// A folder made private first and given its own mode once its contents are
// in place, so a read-only folder can still be filled.
struct Folder {
    fs::path path;
    mode_t mode;
    timespec accessed;
    timespec modified;
};

Folder makeFolder(const fs::path& source, const fs::path& destination) {
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0)
        fail("Could not inspect", source);
    if (::mkdir(destination.c_str(), 0700) != 0)
        fail("Could not create", destination);
    return {destination, info.st_mode & permissionBits, info.st_atim, info.st_mtim};
}

} // namespace

void copy(const fs::path& source, const fs::path& destination) {
    std::vector<Folder> folders{makeFolder(source, destination)};
    for (fs::recursive_directory_iterator item(source), end; item != end; ++item) {
        const fs::path target = destination / item->path().lexically_relative(source);
        const fs::file_status status = item->symlink_status();
        if (fs::is_symlink(status)) {
            fs::create_symlink(fs::read_symlink(item->path()), target);
        } else if (fs::is_directory(status)) {
            folders.push_back(makeFolder(item->path(), target));
        } else if (fs::is_regular_file(status)) {
            copyFile(item->path(), target);
        } else {
            specialFile();
        }
    }
    // Deepest first: setting a folder's time after its contents keeps it.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        const std::array<timespec, 2> times{folder->accessed, folder->modified};
        if (::chmod(folder->path.c_str(), folder->mode) != 0 ||
            ::utimensat(AT_FDCWD, folder->path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW) != 0)
            fail("Could not copy the attributes of", folder->path);
    }
}

} // namespace vessora::ProjectCopy
