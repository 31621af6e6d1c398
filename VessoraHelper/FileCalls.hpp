// The system calls by which HostsFile changes files, behind one table: the
// order of writes, flushes and renames is what keeps the hosts file whole
// after a crash or a power loss, and no normal run shows it. Tests replace
// entries to record that order or to make one call fail; by default each
// entry is the system's own function.
#pragma once

#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace vessora {

struct FileCalls {
    std::function<ssize_t(int fd, const void* bytes, std::size_t size)> write = ::write;
    std::function<int(int fd, uid_t owner, gid_t group)> fchown = ::fchown;
    std::function<int(int fd, mode_t mode)> fchmod = ::fchmod;
    // Also flushes a folder's entries when `fd` is an open folder.
    std::function<int(int fd)> fsync = ::fsync;
    std::function<int(const char* from, const char* to)> link = ::link;
    std::function<int(const char* from, const char* to)> rename = ::rename;
};

} // namespace vessora
