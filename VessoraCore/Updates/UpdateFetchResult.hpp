// How one feed request ended. Made on whatever thread ran the request and
// handed to the checker's own thread, so it is a plain value.
#pragma once

#include "VessoraCore/Updates/AppRelease.hpp"

#include <optional>
#include <string>

namespace vessora {

struct UpdateFetchResult {
    enum class Kind {
        // `release` holds the answer.
        release,
        // The caller asked the request to stop; nothing is shown.
        cancelled,
        // A fault of the answer (UpdateCheckError).
        invalidResponse,
        // The exchange failed: no connection, time-out, certificate refused.
        transportFailure,
    };

    Kind kind = Kind::cancelled;
    std::optional<AppRelease> release;
    // The error's own text for the two failures; for logs, never shown.
    std::string detail;
};

} // namespace vessora
