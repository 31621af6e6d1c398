#include "VessoraCore/Foundation/PrivateFile.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::PrivateFile {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    auto value = generator();
    for (int i = 0; i < 12; ++i) {
        out += digits[value & 0xF];
        value >>= 4;
    }
    return out;
}

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("Could not write file", path, errno);
        }
        bytes.remove_prefix(std::size_t(written));
    }
}

void syncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.get());
}

enum class Flush { toDisk, no };

// mode: the final mode, or nothing to let the umask decide for a new file.
void replace(const fs::path& file, std::string_view bytes, std::optional<mode_t> mode,
             Flush flush = Flush::toDisk) {
    fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    fs::path temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temporary = folder / ("." + file.filename().string() + "." + randomSuffix() + ".tmp");
        fd.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        mode ? 0600 : 0666));
        if (!fd && errno != EEXIST)
            fail("Could not create file", temporary, errno);
    }
    if (!fd)
        fail("Could not create file", temporary, EEXIST);
    try {
        writeAll(fd.get(), bytes, temporary);
        if (mode && ::fchmod(fd.get(), *mode) != 0)
            fail("Could not set permissions", file, errno);
        if (flush == Flush::toDisk && ::fsync(fd.get()) != 0)
            fail("Could not write file", temporary, errno);
        fd.reset();
        if (::rename(temporary.c_str(), file.c_str()) != 0)
            fail("Could not replace file", file, errno);
    } catch (...) {
        fd.reset();
        ::unlink(temporary.c_str());
        throw;
    }
    if (flush == Flush::toDisk)
        syncFolder(folder);
}

} // namespace

void write(const fs::path& file, std::string_view bytes) {
    replace(file, bytes, mode_t(0600));
}

void writeRebuilt(const fs::path& file, std::string_view bytes) {
    replace(file, bytes, mode_t(0600), Flush::no);
}

void writeWithMode(const fs::path& file, std::string_view bytes, mode_t mode) {
    replace(file, bytes, mode);
}

void writeKeepingMode(const fs::path& file, std::string_view bytes) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        replace(file, bytes, mode_t(info.st_mode & 07777));
    } else if (errno == ENOENT) {
        replace(file, bytes, std::nullopt);
    } else {
        fail("Could not read file attributes", file, errno);
    }
}

void createDirectories(const fs::path& folder) {
    if (folder.empty())
        return;
    std::error_code error;
    if (fs::is_directory(folder, error))
        return;
    createDirectories(folder.parent_path() == folder ? fs::path() : folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0) {
        if (errno == EEXIST && fs::is_directory(folder, error))
            return;
        fail("Could not create folder", folder, errno);
    }
    // mkdir honours the umask; a stricter umask must not leave it unusable.
    ::chmod(folder.c_str(), 0700);
}

std::string read(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        fail("Could not open file", file, errno);
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            fail("Could not read file", file, errno);
        }
        if (count == 0)
            break;
        out.append(buffer, std::size_t(count));
    }
    return out;
}

} // namespace vessora::PrivateFile
