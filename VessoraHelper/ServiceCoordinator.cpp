#include "VessoraHelper/ServiceCoordinator.hpp"

#include "VessoraHostProtocol/HostServiceRequest.hpp"

#include <exception>

namespace vessora {

ServiceCoordinator::ServiceCoordinator(HostsFile::Location hosts,
                                       std::vector<RelayEndpoint> relayEndpoints,
                                       std::size_t relayMaxPairs)
    : hosts_(std::move(hosts)), relayEndpoints_(std::move(relayEndpoints)),
      relayMaxPairs_(relayMaxPairs) {}

ServiceCoordinator::~ServiceCoordinator() {
    queue_.sync([this] {
        if (relay_)
            relay_->stop();
        relay_.reset();
    });
}

void ServiceCoordinator::connected(const Lease& lease) {
    queue_.async([this, lease] { sessions_.insert(lease); });
}

void ServiceCoordinator::apply(HostServiceWire::ReceivedMessage request, std::uint32_t userID,
                               const Lease& lease, Reply reply) {
    queue_.async([this, request = std::move(request), userID, lease, reply = std::move(reply)] {
        std::optional<std::string> failure;
        try {
            failure = handle(request, userID, lease);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        reply(failure);
    });
}

void ServiceCoordinator::disconnected(const Lease& lease) {
    queue_.async([this, lease] {
        sessions_.erase(lease);
        if (owner_ != lease)
            return;
        if (relay_)
            relay_->stop();
        relay_.reset();
        owner_.reset();
    });
}

std::optional<ServiceCoordinator::Lease> ServiceCoordinator::owner() {
    std::optional<Lease> result;
    queue_.sync([&] { result = owner_; });
    return result;
}

bool ServiceCoordinator::relayRunning() {
    bool result = false;
    queue_.sync([&] { result = relay_ && relay_->running(); });
    return result;
}

std::optional<std::string>
ServiceCoordinator::handle(const HostServiceWire::ReceivedMessage& message, std::uint32_t userID,
                           const Lease& lease) {
    if (!sessions_.contains(lease) || userID == 0 ||
        message.kind != HostServiceWire::ReceivedMessage::Kind::message ||
        message.size > HostServiceWire::maxRequestSize)
        return invalidClient;
    const HostServiceRequest request = HostServiceRequest::fromJSON(message.bytes);
    request.validate();
    if (owner_ && *owner_ != lease)
        return ownedElsewhere;

    std::unique_ptr<LoopbackRelay> started;
    if (request.standardPorts && !relay_) {
        started = std::make_unique<LoopbackRelay>(relayEndpoints_, relayMaxPairs_);
        started->start(); // on failure the new relay is dropped, nothing else changed
    }
    try {
        HostsFile::apply(hosts_, userID, request.hostnames);
    } catch (...) {
        if (started)
            started->stop();
        throw;
    }
    if (started)
        relay_ = std::move(started);
    if (!request.standardPorts) {
        if (relay_)
            relay_->stop();
        relay_.reset();
    }
    owner_ = lease;
    return std::nullopt;
}

} // namespace vessora
