// What the engine needs of the client of the privileged helper: send one
// complete request and say whether the connection is up. The application
// passes the real client; tests pass a fake.
//
// apply() blocks until the helper answered (at most its own time-out) and
// throws the helper's error as a finished sentence. isConnected() and
// closeConnection() must answer at once, even while an apply() waits: the
// engine's always-served query asks isConnected() at any time.
#pragma once

#include "VessoraHostProtocol/HostServiceRequest.hpp"

namespace vessora {

class EngineHostService {
public:
    virtual ~EngineHostService() = default;

    virtual void apply(const HostServiceRequest& request) = 0;
    // True when a connection exists and its state says it is up.
    virtual bool isConnected() = 0;
    // Drops the connection, so that the next request opens a new one.
    virtual void closeConnection() = 0;
};

} // namespace vessora
