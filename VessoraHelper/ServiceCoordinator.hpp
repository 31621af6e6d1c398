// All shared state of the helper: the live connections (leases), the one
// that owns the local-address setup, and the running relay. Everything runs
// on one serial queue, so requests and disconnects of all connections are
// handled one at a time, in order. Every request gets exactly one reply,
// from that queue: none on success, else the English sentence to show.
//
// Ownership goes to the first connection whose request succeeds and ends
// only with that connection (then the relay stops; the hosts section stays).
#pragma once

#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHelper/SerialQueue.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"
#include "VessoraHostProtocol/LoopbackRelay.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora {

class ServiceCoordinator {
public:
    using Lease = std::string;
    using Reply = std::function<void(const std::optional<std::string>& failure)>;

    static constexpr const char* invalidClient = "Invalid client or request size.";
    static constexpr const char* ownedElsewhere =
        "Another Vessora session is using local host setup.";

    // A relay it starts holds at most `relayMaxPairs` connections.
    ServiceCoordinator(HostsFile::Location hosts, std::vector<RelayEndpoint> relayEndpoints,
                       std::size_t relayMaxPairs = LoopbackRelay::defaultMaxPairs);
    ~ServiceCoordinator(); // stops the relay

    // Queues the registration of a new connection: it is registered before
    // any request queued after this call runs.
    void connected(const Lease& lease);

    // Queues one request of `userID` on connection `lease`. A message longer
    // than HostServiceWire::maxRequestSize is refused without being decoded.
    void apply(HostServiceWire::ReceivedMessage request, std::uint32_t userID, const Lease& lease,
               Reply reply);

    // Queues the end of a connection; a second call for a lease does nothing.
    void disconnected(const Lease& lease);

    // What the queue holds after everything queued so far has run.
    std::optional<Lease> owner();
    bool relayRunning();

private:
    std::optional<std::string> handle(const HostServiceWire::ReceivedMessage& request,
                                      std::uint32_t userID, const Lease& lease);

    const HostsFile::Location hosts_;
    const std::vector<RelayEndpoint> relayEndpoints_;
    const std::size_t relayMaxPairs_;
    // Touched only on queue_.
    std::optional<Lease> owner_;
    std::set<Lease> sessions_;
    std::unique_ptr<LoopbackRelay> relay_;
    // Last, so it is joined before the state above goes.
    SerialQueue queue_;
};

} // namespace vessora
