#include "VessoraCore/Certificates/LocalCertificateInfo.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

namespace vessora {

namespace {

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

void LocalCertificateInfo::validate() const {
    bool valid = fingerprint.size() == 95;
    for (std::size_t i = 0; valid && i < fingerprint.size(); ++i)
        valid = i % 3 == 2 ? fingerprint[i] == ':' : isUpperHex(fingerprint[i]);
    if (!valid)
        throw VessoraError(L10n::text("Could not read the local HTTPS certificate."));
}

} // namespace vessora
