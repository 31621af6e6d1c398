#include "VessoraCore/Certificates/LocalHTTPS.hpp"

#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>

namespace vessora::LocalHTTPS {

namespace fs = std::filesystem;

namespace {

bool somethingExists(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool isSymbolicLink(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

void makeDirectory(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0) {
        throw fs::filesystem_error("Could not create the folder", folder,
                                   std::error_code(errno, std::generic_category()));
    }
}

void requireSuccess(const CommandResult& result) {
    if (result.status != 0)
        throw VessoraError(result.failureMessage("openssl"));
}

// Builds a new identity in `staging` and checks it in full.
void build(const StackPaths& paths, const fs::path& staging) {
    const StackProfile& profile = paths.profile();
    fs::path certificate = staging / paths.tlsCertificate().filename();
    fs::path key = staging / paths.tlsPrivateKey().filename();
    fs::path der = staging / paths.tlsImportCertificate().filename();

    std::string names = "subjectAltName=DNS:localhost,IP:127.0.0.1";
    if (profile.hostname)
        names += ",DNS:" + *profile.hostname;
    requireSuccess(runOpenssl({"req",
                               "-x509",
                               "-newkey",
                               "rsa:2048",
                               "-sha256",
                               "-nodes",
                               "-days",
                               "365",
                               "-batch",
                               "-subj",
                               "/CN=Vessora " + profile.id + "/O=Vessora local development",
                               "-addext",
                               names,
                               "-addext",
                               "basicConstraints=critical,CA:FALSE",
                               "-addext",
                               "keyUsage=critical,digitalSignature,keyEncipherment",
                               "-addext",
                               "extendedKeyUsage=serverAuth",
                               "-keyout",
                               key.string(),
                               "-out",
                               certificate.string()}));
    requireWrittenPair(certificate, key);
    requireSuccess(
        runOpenssl({"x509", "-in", certificate.string(), "-outform", "DER", "-out", der.string()}));
    requireWrittenDER(der);
    for (const fs::path& file : {certificate, key, der})
        setMode(file, 0600);
    validatePair(certificate, key, der, profile.hostname);
}

} // namespace

const fs::path& openssl() {
    static const fs::path path = "/usr/bin/openssl";
    return path;
}

VessoraError expiryError() {
    return VessoraError(L10n::text("The local HTTPS certificate is invalid or expired. Stop the "
                                   "environment and renew it in HTTPS & certificate."));
}

VessoraError identityError() {
    return VessoraError(L10n::text("The local HTTPS identity is incomplete, unsafe, or does not "
                                   "match. Stop the environment and renew its certificate."));
}

VessoraError unreadableError() {
    return VessoraError(L10n::text("Could not read the local HTTPS certificate."));
}

CommandResult runOpenssl(const std::vector<std::string>& arguments) {
    CommandOptions options;
    options.timeout = 60;
    return Command::run(openssl(), arguments, options);
}

namespace {

// What becomes of an identity that is already in force.
enum class Existing { keep, replaceFailing, replace };

bool passes(const StackPaths& paths) {
    try {
        validate(paths);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void prepareIdentity(const StackPaths& paths, Existing existing) {
    const StackProfile& profile = paths.profile();
    if (profile.hostname)
        LocalHostname::validate(*profile.hostname);

    for (const fs::path& folder : {paths.root(), paths.directory(), paths.config(), paths.tls()}) {
        if (!somethingExists(folder))
            makeDirectory(folder);
        requireDirectory(folder);
    }

    fs::path identity = paths.tlsIdentity();
    bool existed = somethingExists(identity);
    if (existed) {
        requireDirectory(identity);
        if (existing == Existing::keep) {
            validate(paths);
            return;
        }
        if (existing == Existing::replaceFailing && passes(paths))
            return;
    } else if (isSymbolicLink(identity)) {
        throw identityError();
    }

    const RemovedOnExit staging(paths.tls() / (".new-" + Uuid::random()));
    makeDirectory(staging.path());
    build(paths, staging.path());

    fs::path backup = paths.tls() / ("previous-" + Uuid::random());
    if (existed)
        fs::rename(identity, backup);
    try {
        fs::rename(staging.path(), identity);
    } catch (...) {
        if (existed) {
            std::error_code ignored;
            fs::rename(backup, identity, ignored);
        }
        throw;
    }
}

} // namespace

void prepare(const StackPaths& paths, bool renew) {
    prepareIdentity(paths, renew ? Existing::replace : Existing::keep);
}

void refresh(const StackPaths& paths) {
    prepareIdentity(paths, Existing::replaceFailing);
}

} // namespace vessora::LocalHTTPS
