#include "VessoraCore/Storage/FileMove.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vessora::FileMove {

namespace fs = std::filesystem;

namespace {

fs::path parentOf(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

int renameWithoutReplacing(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

// 0, or the error: EEXIST when something is at the destination.
int checkedRename(const fs::path& from, const fs::path& to) {
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

void syncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.get());
}

void move(const fs::path& from, const fs::path& to) {
    move(from, to, renameWithoutReplacing);
}

void move(const fs::path& from, const fs::path& to, NoReplaceRename rename) {
    int error = rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (error == EINVAL)
        error = checkedRename(from, to);
    if (error != 0)
        throw fs::filesystem_error("Could not move item", from, to,
                                   std::error_code(error, std::generic_category()));
    syncFolder(parentOf(to));
    syncFolder(parentOf(from));
}

} // namespace vessora::FileMove
