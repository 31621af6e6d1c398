// The application's one connection to the privileged helper.
//
// apply() sends one HostServiceRequest and returns when the helper applied
// it; otherwise it throws. Requests run one at a time (a second caller waits
// for the first). The connection is opened on demand, checked to be served
// by root, kept while it stays up and dropped after any failure; the helper
// takes the end of a connection as the end of this application's session.
// Every request waits at most `timeout` for its answer.
//
// isConnected() never waits for a request in flight: it reads the current
// connection's HostConnectionState, and when no request runs it first looks
// whether the helper has hung up.
//
// Failures: an invalid request, and a missing team identifier when a
// connection must be opened, throw HostServiceError unchanged (English).
// Everything else is a VessoraError whose text went through L10n::text: the
// helper's answer, "Could not connect to local host setup." for a connection
// that cannot be made, is not served by root or breaks down, and the
// time-out text.
#pragma once

#include "VessoraCore/LocalAddresses/HostConnectionState.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>

namespace vessora {

class HostServiceClient {
public:
    struct Options {
        std::string socketPath = std::string(HostServiceWire::defaultSocketPath);
        // Whether the peer of a new connection may serve us; none: root only.
        std::function<bool(const ucred&)> acceptPeer;
        // The signing check made before connecting; none:
        // HostServiceIdentity::teamID().
        std::function<std::string()> teamID;
        std::chrono::milliseconds timeout{15000};
    };

    HostServiceClient();
    explicit HostServiceClient(Options options);
    HostServiceClient(const HostServiceClient&) = delete;
    HostServiceClient& operator=(const HostServiceClient&) = delete;

    void apply(const HostServiceRequest& request);

    // A connection exists and its state says it is up.
    bool isConnected() const;

    // Drops the connection (after a request in flight has ended), so the
    // next request opens a new one.
    void invalidate();

private:
    void connect();            // with requestMutex_ held
    void drop();               // with mutex_ held
    void noticeHangUp() const; // with mutex_ and requestMutex_ held

    Options options_;
    mutable std::mutex requestMutex_; // one request at a time
    mutable std::mutex mutex_;        // connection_ and state_
    HostServiceWire::Socket connection_;
    std::shared_ptr<HostConnectionState> state_ = std::make_shared<HostConnectionState>();
};

} // namespace vessora
