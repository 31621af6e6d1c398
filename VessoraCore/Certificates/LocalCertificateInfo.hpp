// How an environment's HTTPS certificate is described to the certificate
// sheet. Built only by LocalHTTPS::info from the identity in force.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"

#include <string>

namespace vessora {

struct LocalCertificateInfo {
    // End of the certificate's validity period.
    Date expires;
    // SHA-256 of the DER file: 32 upper-case hex pairs joined by ":".
    std::string fingerprint;
    // Whether this computer's trust store accepts the certificate for the
    // environment's host name (a manual import makes it true).
    bool trustedOnThisMac = false;

    bool operator==(const LocalCertificateInfo&) const = default;

    // Throws VessoraError unless the fingerprint has the form above.
    void validate() const;
};

} // namespace vessora
