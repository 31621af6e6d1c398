#include "VessoraCore/Certificates/CertificateTrust.hpp"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace vessora::CertificateTrust {

namespace {

struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct ContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};

bool isIPAddress(const std::string& name) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

bool verify(X509* certificate, X509_STORE* store, const std::string& name,
            unsigned long extraFlags) {
    std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, certificate, nullptr) != 1)
        return false;
    if (X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER) != 1)
        return false;
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_flags(parameters, extraFlags);
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                    X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    bool named = isIPAddress(name)
                     ? X509_VERIFY_PARAM_set1_ip_asc(parameters, name.c_str()) == 1
                     : X509_VERIFY_PARAM_set1_host(parameters, name.data(), name.size()) == 1;
    return named && X509_verify_cert(context.get()) == 1;
}

// Leaves nothing in this thread's OpenSSL error queue for unrelated code.
bool answered(bool result) {
    ERR_clear_error();
    return result;
}

} // namespace

Certificate parseDER(std::string_view der) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* end = cursor + der.size();
    Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate || cursor != end) {
        ERR_clear_error();
        return nullptr;
    }
    return certificate;
}

bool anchoredAtItself(X509* certificate, const std::string& name) {
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    if (!store || X509_STORE_add_cert(store.get(), certificate) != 1)
        return answered(false);
    // The anchor's own signature is checked too: an edited certificate fails.
    return answered(verify(certificate, store.get(), name,
                           X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_CHECK_SS_SIGNATURE));
}

bool trustedBySystem(X509* certificate, const std::string& name) {
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    if (!store || X509_STORE_set_default_paths(store.get()) != 1)
        return answered(false);
    return answered(verify(certificate, store.get(), name, 0));
}

} // namespace vessora::CertificateTrust
