// The helper's listener: one thread polls the listening socket and every
// accepted connection; requests go to the ServiceCoordinator and its replies
// come back through an eventfd to the connection they belong to.
//
// A connection is accepted only from the expected client program running as
// a user other than root (ClientCheck); any other is closed unanswered, and
// so is one beyond the connection cap. Each connection has at most one
// request in flight: the next message is read only after the reply went
// out. Replies are sent without blocking (MSG_DONTWAIT, MSG_NOSIGNAL); a
// client that does not take its reply holds up only itself. When the process
// runs out of descriptors, the waiting connection is closed with the help of
// a spare descriptor instead of spinning.
#pragma once

#include "VessoraHelper/HelperSettings.hpp"
#include "VessoraHelper/ServiceCoordinator.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vessora {

class HelperService {
public:
    HelperService(HostServiceWire::Socket listener, const HelperSettings& settings);
    ~HelperService();
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    // Serves until stop(); throws std::system_error when polling fails.
    void run();
    // From any thread.
    void stop();

    ServiceCoordinator& coordinator() { return coordinator_; }

private:
    struct Connection {
        HostServiceWire::Socket socket;
        ServiceCoordinator::Lease lease;
        std::uint32_t userID = 0;
        bool inFlight = false;
        std::optional<std::string> unsent;
    };

    void acceptWaiting();
    void admit(HostServiceWire::Socket socket);
    void receive(std::uint64_t id, Connection& connection);
    void deliverReplies();
    // False when the connection broke and was closed.
    bool send(std::uint64_t id, Connection& connection);
    void close(std::uint64_t id);
    void wake();

    HostServiceWire::Socket listener_;
    const std::filesystem::path program_;
    const std::size_t maxConnections_;
    HostServiceWire::Socket wakeup_;
    HostServiceWire::Socket spare_;
    std::atomic<bool> stopping_{false};
    std::optional<std::chrono::steady_clock::time_point> acceptPausedUntil_;
    std::map<std::uint64_t, Connection> connections_;
    std::uint64_t nextID_ = 1;

    std::mutex repliesMutex_;
    std::vector<std::pair<std::uint64_t, std::string>> replies_;

    // Last: its queue may still call back into the members above while it
    // shuts down.
    ServiceCoordinator coordinator_;
};

} // namespace vessora
