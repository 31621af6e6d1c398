// The helper's listener: one thread polls the listening socket and every
// accepted connection; requests go to the ServiceCoordinator and its replies
// come back through an eventfd to the connection they belong to.
//
// A connection is accepted only from the expected client program running as
// a user other than root (ClientCheck); any other is closed unanswered, and
// so is one beyond the connection cap or beyond the cap per user id, so a
// user can crowd out only themselves. The caps are applied first, counted by
// the peer's user id from the kernel, and only a connection within them is
// examined, so a user's flood costs others little; one given up before it
// was taken is not examined at all. At a cap, connections whose peers have
// hung up with no request left to answer are let go before a new one is
// refused. A connection that sends no request within the idle limit is
// closed, unless its request succeeded: it then holds the owner lease,
// which ends only with the connection. Each connection has at most one
// request in flight: the next message is read only after the reply went
// out. Replies are sent without blocking (MSG_DONTWAIT, MSG_NOSIGNAL); a
// client that does not take its reply holds up only itself.
//
// Everything the helper holds for a user counts against that user's share:
// a connection keeps its slot until its request has run and its reply is
// sent or dropped. One whose peer hung up while its request was queued or
// running is no longer polled and is closed when the reply comes back, so a
// user's queued requests never exceed their share, and nothing of theirs
// runs after their processes are gone beyond that share. Such a request
// still runs, its disconnect queued after it. A connection is registered
// with the coordinator only with its first request, so one that never sends
// any leaves nothing in the queue.
//
// At most a small batch of waiting connections is accepted per wake before
// the accepted ones are served, so a reconnecting flood delays others by
// one batch at most. When the process runs out of descriptors, the waiting
// connection is closed with the help of a spare descriptor instead of
// spinning. The relay it starts is bounded so that its connections can
// never take the descriptors of the listener, the client slots and a
// hosts-file transaction (DescriptorBudget).
//
// The client-program check identifies the installed application; it is no
// boundary against code running as the same user (a library injected into
// the application passes it). What the helper grants any local user is
// therefore only what the request rules allow: that user's own hosts
// section, and the relay while no other session owns the setup.
//
// Stopping (stop(), or the stop signal descriptor turning readable) takes no
// new connections or requests, lets the requests in flight finish and sends
// their replies, then run() returns.
#pragma once

#include "VessoraHelper/HelperSettings.hpp"
#include "VessoraHelper/ServiceCoordinator.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class HelperService {
public:
    // `stopSignal`, when not -1, is watched for readability (a signalfd); it
    // stays the caller's and is not read.
    HelperService(HostServiceWire::Socket listener, const HelperSettings& settings,
                  int stopSignal = -1);
    ~HelperService();
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    // Serves until stopped; throws std::system_error when polling fails.
    void run();
    // From any thread; run() returns once the requests in flight are answered.
    void stop();

    ServiceCoordinator& coordinator() { return coordinator_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Connection {
        HostServiceWire::Socket socket;
        ServiceCoordinator::Lease lease;
        std::uint32_t userID = 0;
        bool inFlight = false;
        std::optional<std::string> unsent;
        // Since it was accepted or its last request was answered.
        Clock::time_point idleSince;
        // A request of it succeeded: it holds the owner lease until it ends.
        bool ownsSetup = false;
        // Its lease was handed to the coordinator (with its first request).
        bool registered = false;
        // Its peer hung up while its request was queued or running; its
        // disconnect is queued. It is no longer polled, and it is closed
        // once the reply comes back.
        bool peerGone = false;

        bool awaitingReply() const { return inFlight && !unsent; }
        // What the poll loop waits for on it.
        short events() const;
    };

    struct Answer {
        std::uint64_t id;
        std::string reply;
        bool success;
    };

    // Closes idle connections; returns when the next one falls idle.
    std::optional<Clock::time_point> closeIdle(Clock::time_point now);
    // True when everything is answered and run() may return.
    bool finishStopping();
    void acceptWaiting();
    // Takes the socket and returns true when the connection is admitted.
    bool admit(HostServiceWire::Socket& socket);
    // True when `user` may have one more connection; makes room first from
    // connections whose peers hung up and whose requests are done.
    bool roomFor(std::uint32_t user);
    std::size_t connectionsOf(std::uint32_t user) const;
    // Serves the connections (of `user`, or all) whose peers hung up.
    void serveHungUp(std::optional<std::uint32_t> user);
    // Handles what poll() reported for one connection.
    void serve(std::uint64_t id, short revents);
    void receive(std::uint64_t id, Connection& connection);
    void deliverReplies();
    // False when the connection broke and was closed.
    bool send(std::uint64_t id, Connection& connection);
    void close(std::uint64_t id);
    void wake();

    HostServiceWire::Socket listener_;
    const std::filesystem::path program_;
    const std::size_t maxConnections_;
    const std::size_t maxConnectionsPerUser_;
    const std::chrono::milliseconds idleLimit_;
    const std::function<void()> beforeClientCheck_;
    const int stopSignal_;
    HostServiceWire::Socket wakeup_;
    HostServiceWire::Socket spare_;
    std::atomic<bool> stopping_{false};
    std::optional<Clock::time_point> acceptPausedUntil_;
    std::map<std::uint64_t, Connection> connections_;
    std::uint64_t nextID_ = 1;

    std::mutex repliesMutex_;
    std::vector<Answer> replies_;

    // Last: its queue may still call back into the members above while it
    // shuts down.
    ServiceCoordinator coordinator_;
};

} // namespace vessora
