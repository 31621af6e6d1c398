#include "VessoraCore/Storage/FileMove.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace vessora::FileMove {

namespace fs = std::filesystem;

namespace {

fs::path parentOf(const fs::path& path) {
    fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

} // namespace

void syncFolder(const fs::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.get());
}

void move(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        throw fs::filesystem_error("Could not move item", from, to,
                                   std::error_code(errno, std::generic_category()));
    }
    syncFolder(parentOf(to));
    syncFolder(parentOf(from));
}

} // namespace vessora::FileMove
