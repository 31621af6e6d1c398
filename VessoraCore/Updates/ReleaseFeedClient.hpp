// The release feed over HTTPS with libcurl, hardened for an answer nobody
// here controls:
// - only HTTPS, certificates and host names checked (against the system's
//   store, or only the given file of trusted certificates);
// - no proxy, no cookies, no stored credentials (.netrc ignored), no cache,
//   a fresh connection; a redirect is never followed: its answer is refused;
// - GET with "Accept: application/json", "Cache-Control: no-cache" and
//   "User-Agent: Vessora Update Check";
// - the answer must be status 200 with the MIME type "application/json"
//   (any case, parameters ignored), announce at most 65,536 bytes or
//   nothing, and hold at most 65,536 bytes; every such fault is
//   UpdateCheckError, decided from the head before any body is read;
// - 10 seconds without data end the exchange, and so do 15 seconds in all
//   (transport errors, thrown with curl's text);
// - the stop request is checked before every piece of the body and while
//   waiting: it ends the exchange with UpdateCheckCancelled.
#pragma once

#include "VessoraCore/Updates/ReleaseFeed.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace vessora {

class ReleaseFeedClient final : public ReleaseFeed {
public:
    struct Options {
        // The product's feed; tests point it at a server of their own.
        std::string endpoint;
        // Trust only the certificates in this PEM file instead of the
        // system's store; checks stay on either way.
        std::optional<std::filesystem::path> trustedCertificates;
        std::chrono::seconds idleTimeout{10};
        std::chrono::milliseconds totalTimeout{15000};
    };

    // The product's feed with the system's trust store.
    ReleaseFeedClient();
    explicit ReleaseFeedClient(Options options);

    // The product's feed address.
    static std::string endpoint();

    AppRelease fetch(std::stop_token stop) const override;

private:
    Options options_;
};

} // namespace vessora
