#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"

#include "VessoraCore/Storage/StandardPath.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vessora::LocalHTTPS {

namespace fs = std::filesystem;

namespace {

struct stat linkStatus(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        throw fs::filesystem_error("Could not read the attributes", path,
                                   std::error_code(errno, std::generic_category()));
    }
    return status;
}

} // namespace

void setMode(const fs::path& path, mode_t mode) {
    if (::chmod(path.c_str(), mode) != 0) {
        throw fs::filesystem_error("Could not set the permissions", path,
                                   std::error_code(errno, std::generic_category()));
    }
}

void requireDirectory(const fs::path& folder) {
    struct stat status = linkStatus(folder);
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid())
        throw identityError();
    // A link anywhere on the way makes the resolved path differ.
    std::error_code error;
    fs::path resolved = fs::canonical(folder, error);
    if (error ||
        StandardPath::standardized(resolved) != StandardPath::standardized(fs::absolute(folder)))
        throw identityError();
    setMode(folder, 0700);
}

void requireIdentityFiles(const StackPaths& paths) {
    for (const fs::path& folder :
         {paths.root(), paths.directory(), paths.config(), paths.tls(), paths.tlsIdentity()})
        requireDirectory(folder);
    for (const fs::path& file :
         {paths.tlsCertificate(), paths.tlsPrivateKey(), paths.tlsImportCertificate()}) {
        if (!S_ISREG(linkStatus(file).st_mode))
            throw identityError();
        setMode(file, 0600);
    }
}

} // namespace vessora::LocalHTTPS
