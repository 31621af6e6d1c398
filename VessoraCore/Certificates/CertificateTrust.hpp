// The two trust questions asked of an environment's certificate, answered by
// OpenSSL's verifier for TLS server use under a host-name policy: a DNS name
// must be among the certificate's DNS names, an IP address among its IP
// addresses (the subject's common name is never used).
// - anchoredAtItself: the certificate is its own and only anchor; nothing of
//   the system is consulted. Tests the identity itself.
// - trustedBySystem: the system's trust store (the default verify paths, or
//   SSL_CERT_FILE / SSL_CERT_DIR when set) must accept the certificate.
#pragma once

#include <memory>
#include <openssl/x509.h>
#include <string>
#include <string_view>

namespace vessora::CertificateTrust {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

// The certificate in `der`, or null when the bytes are not exactly one DER
// certificate.
Certificate parseDER(std::string_view der);

bool anchoredAtItself(X509* certificate, const std::string& name);
bool trustedBySystem(X509* certificate, const std::string& name);

} // namespace vessora::CertificateTrust
