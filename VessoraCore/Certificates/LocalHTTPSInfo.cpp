#include "VessoraCore/Certificates/LocalHTTPS.hpp"

#include "VessoraCore/Certificates/CertificateTrust.hpp"
#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"

#include <cstdio>
#include <ctime>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace vessora::LocalHTTPS {

namespace {

Date notAfter(X509* certificate) {
    const ASN1_TIME* end = X509_get0_notAfter(certificate);
    std::tm fields{};
    if (!end || ASN1_TIME_to_tm(end, &fields) != 1) {
        ERR_clear_error();
        throw unreadableError();
    }
    return std::chrono::system_clock::from_time_t(timegm(&fields));
}

std::string sha256Fingerprint(const std::string& bytes) {
    Sha256::Digest digest;
    try {
        digest = Sha256::digest(bytes);
    } catch (const std::runtime_error&) {
        ERR_clear_error();
        throw unreadableError();
    }
    std::string text;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", digest[i]);
        if (i > 0)
            text += ':';
        text += pair;
    }
    return text;
}

} // namespace

LocalCertificateInfo info(const StackPaths& paths) {
    requireIdentityFiles(paths);
    std::string der = PrivateFile::read(paths.tlsImportCertificate());
    CertificateTrust::Certificate certificate = CertificateTrust::parseDER(der);
    if (!certificate)
        throw unreadableError();

    LocalCertificateInfo result;
    result.expires = notAfter(certificate.get());
    result.trustedOnThisMac = CertificateTrust::trustedBySystem(
        certificate.get(), paths.profile().hostname.value_or("localhost"));
    result.fingerprint = sha256Fingerprint(der);
    result.validate();
    return result;
}

} // namespace vessora::LocalHTTPS
