#include "VessoraCore/Certificates/LocalHTTPSInternal.hpp"

#include "VessoraCore/Certificates/CertificateTrust.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"

#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <system_error>

namespace vessora::LocalHTTPS {

namespace fs = std::filesystem;

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// As much as the largest identity file takes on disk.
constexpr std::size_t kProbeBytes = 4096;

// The whole file, or the empty text when it cannot be read.
std::string contentOf(const fs::path& file) {
    try {
        return PrivateFile::read(file);
    } catch (const fs::filesystem_error&) {
        return {};
    }
}

std::unique_ptr<BIO, BioFree> memoryOf(const std::string& text) {
    return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(text.data(), int(text.size())));
}

// The key is written without a pass phrase: never ask for one.
int noPassPhrase(char*, int, int, void*) {
    return -1;
}

bool isWholePair(const fs::path& certificate, const fs::path& key) {
    const std::string certificateText = contentOf(certificate);
    const std::string keyText = contentOf(key);
    if (certificateText.empty() || keyText.empty())
        return false;
    auto certificateBio = memoryOf(certificateText);
    auto keyBio = memoryOf(keyText);
    if (!certificateBio || !keyBio)
        return false;
    CertificateTrust::Certificate parsed(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<EVP_PKEY, KeyFree> privateKey(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassPhrase, nullptr));
    const bool whole =
        parsed && privateKey && X509_check_private_key(parsed.get(), privateKey.get()) == 1;
    ERR_clear_error();
    return whole;
}

} // namespace

VessoraError writeError(const fs::path& folder) {
    // openssl does not say why its files came out empty: a write of our own
    // in the same folder finds the system's reason, when there is one now.
    const fs::path probe = folder / "write-check";
    try {
        PrivateFile::write(probe, std::string(kProbeBytes, '\0'));
    } catch (const fs::filesystem_error& error) {
        return VessoraError(L10n::text("The local HTTPS certificate could not be written: %@.",
                                       {error.code().message()}));
    }
    std::error_code ignored;
    fs::remove(probe, ignored);
    return VessoraError(L10n::text("The local HTTPS certificate could not be written."));
}

void requireWrittenPair(const fs::path& certificate, const fs::path& key) {
    if (!isWholePair(certificate, key))
        throw writeError(certificate.parent_path());
}

void requireWrittenDER(const fs::path& der) {
    if (!CertificateTrust::parseDER(contentOf(der)))
        throw writeError(der.parent_path());
}

} // namespace vessora::LocalHTTPS
