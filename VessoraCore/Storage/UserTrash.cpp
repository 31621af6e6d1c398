#include "VessoraCore/Storage/UserTrash.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/FileMove.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vessora {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    throw VessoraError(L10n::text("The home folder of the current user is unknown."));
}

std::string localDeletionDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

dev_t deviceOf(const fs::path& path, bool followLink) {
    struct stat info {};
    int result = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result != 0)
        throwErrno("Could not read file attributes", path, errno);
    return info.st_dev;
}

bool occupied(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 || errno != ENOENT;
}

} // namespace

UserTrash::UserTrash() : root_(defaultRoot()) {}

UserTrash::UserTrash(fs::path root) : root_(std::move(root)) {}

fs::path UserTrash::defaultRoot() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return fs::path(data) / "Trash";
    return homeFolder() / ".local" / "share" / "Trash";
}

std::string UserTrash::encodePath(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

fs::path UserTrash::trashItem(const fs::path& item) const {
    return trashItem(item, item);
}

fs::path UserTrash::trashItem(const fs::path& item, const fs::path& origin) const {
    const fs::path original = StandardPath::standardized(fs::absolute(item));
    const fs::path recorded = StandardPath::standardized(fs::absolute(origin));
    const fs::path files = root_ / "files";
    const fs::path info = root_ / "info";
    dev_t itemDevice = deviceOf(original, false);
    PrivateFile::createDirectories(files);
    PrivateFile::createDirectories(info);

    auto otherFileSystem = [&] {
        return VessoraError(
            L10n::text("Could not move %@ to the Trash because it is on another file system.",
                       {original.string()}));
    };
    if (deviceOf(files, true) != itemDevice)
        throw otherFileSystem();

    const std::string base = recorded.filename().string();
    const std::string description = "[Trash Info]\nPath=" + encodePath(recorded.string()) +
                                    "\nDeletionDate=" + localDeletionDate() + "\n";
    for (int number = 1; number <= 10000; ++number) {
        const std::string name = number == 1 ? base : base + "." + std::to_string(number);
        const fs::path infoFile = info / (name + ".trashinfo");
        const fs::path target = files / name;

        // The info file comes first: creating it exclusively reserves the name.
        UniqueFd reservation(
            ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!reservation) {
            if (errno == EEXIST)
                continue;
            throwErrno("Could not create file", infoFile, errno);
        }
        reservation.reset();
        try {
            // A leftover item without an info file still owns its name.
            if (occupied(target)) {
                ::unlink(infoFile.c_str());
                continue;
            }
            PrivateFile::writeKeepingMode(infoFile, description);
            FileMove::move(original, target);
        } catch (const fs::filesystem_error& error) {
            ::unlink(infoFile.c_str());
            if (error.code() == std::errc::file_exists)
                continue;
            if (error.code() == std::errc::cross_device_link)
                throw otherFileSystem();
            throw;
        } catch (...) {
            ::unlink(infoFile.c_str());
            throw;
        }
        FileMove::syncFolder(info);
        return target;
    }
    throwErrno("Could not find a free name in the Trash", files, EEXIST);
}

} // namespace vessora
