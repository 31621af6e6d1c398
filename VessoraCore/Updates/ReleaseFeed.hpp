// Where releases come from: the feed client, or a stand-in in tests. One
// call fetches the current release; calls share nothing, so any thread may
// make one, several at once.
#pragma once

#include "VessoraCore/Updates/AppRelease.hpp"

#include <stop_token>

namespace vessora {

class ReleaseFeed {
public:
    virtual ~ReleaseFeed() = default;

    // Blocks until the answer is in. Throws UpdateCheckError for any fault of
    // the answer, UpdateCheckCancelled when `stop` is requested before the
    // answer is complete, and another std::exception, with the transport's
    // own text, when the exchange itself fails (no connection, time-out,
    // certificate refused).
    virtual AppRelease fetch(std::stop_token stop) const = 0;
};

} // namespace vessora
