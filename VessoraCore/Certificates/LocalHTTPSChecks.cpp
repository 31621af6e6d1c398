#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"

#include "VessoraCore/Certificates/CertificateTrust.hpp"
#include "VessoraCore/Certificates/PEMText.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"

namespace vessora::LocalHTTPS {

namespace fs = std::filesystem;

namespace {

// The PEM file's bytes once its markers are gone, or nothing when it cannot
// be read as text or decoded.
std::optional<std::string> pemContent(const fs::path& certificate) {
    std::string text;
    try {
        text = PrivateFile::read(certificate);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return PEMText::certificateBytes(text);
}

} // namespace

void validatePair(const fs::path& certificate, const fs::path& key, const fs::path& der,
                  const std::optional<std::string>& hostname) {
    if (runOpenssl({"x509", "-in", certificate.string(), "-checkend", "0", "-noout"}).status != 0)
        throw expiryError();

    CommandResult certificateKey =
        runOpenssl({"x509", "-in", certificate.string(), "-pubkey", "-noout"});
    if (certificateKey.status != 0)
        throw VessoraError(certificateKey.failureMessage("openssl"));
    CommandResult privateKey = runOpenssl({"pkey", "-in", key.string(), "-pubout"});
    if (privateKey.status != 0)
        throw VessoraError(privateKey.failureMessage("openssl"));
    if (certificateKey.output != privateKey.output)
        throw identityError();

    std::optional<std::string> decoded = pemContent(certificate);
    if (!decoded)
        throw identityError();
    std::string derBytes = PrivateFile::read(der);
    if (*decoded != derBytes)
        throw identityError();

    CertificateTrust::Certificate parsed = CertificateTrust::parseDER(derBytes);
    if (!parsed)
        throw identityError();
    std::vector<std::string> names{"localhost", "127.0.0.1"};
    if (hostname)
        names.push_back(*hostname);
    for (const std::string& name : names) {
        if (!CertificateTrust::anchoredAtItself(parsed.get(), name))
            throw identityError();
    }
}

void validate(const StackPaths& paths) {
    requireIdentityFiles(paths);
    validatePair(paths.tlsCertificate(), paths.tlsPrivateKey(), paths.tlsImportCertificate(),
                 paths.profile().hostname);
}

} // namespace vessora::LocalHTTPS
