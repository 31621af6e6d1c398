#include "VessoraHelper/HelperService.hpp"

#include "VessoraHelper/ClientCheck.hpp"
#include "VessoraHelper/DescriptorBudget.hpp"
#include "VessoraHelper/RandomUUID.hpp"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace vessora {
namespace {

constexpr std::chrono::milliseconds acceptPause{200};

// Connections taken from the backlog per wake. Accepting until the backlog is
// empty lets a reconnecting flood keep the loop from ever serving the
// connections it already has; a bounded batch costs them at most one batch.
constexpr int acceptBatch = 16;

// True when the peer hung up without sending anything (or sent an empty
// message, which also reads as the end): there is nothing to serve.
bool hungUpWithoutRequest(int fd) {
    ssize_t length;
    do
        length = ::recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    while (length < 0 && errno == EINTR);
    return length == 0;
}

HostServiceWire::Socket openSpare() {
    return HostServiceWire::Socket(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

} // namespace

HelperService::HelperService(HostServiceWire::Socket listener, const HelperSettings& settings,
                             int stopSignal)
    : listener_(std::move(listener)),
      program_(std::filesystem::weakly_canonical(settings.clientProgram)),
      maxConnections_(settings.maxConnections),
      maxConnectionsPerUser_(settings.maxConnectionsPerUser), idleLimit_(settings.idleLimit),
      beforeClientCheck_(settings.beforeClientCheck), stopSignal_(stopSignal),
      wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), spare_(openSpare()),
      coordinator_(settings.hosts, settings.relayEndpoints,
                   DescriptorBudget::relayPairs(DescriptorBudget::softLimit(),
                                                settings.maxConnections,
                                                LoopbackRelay::defaultMaxPairs)) {
    settings.validate();
    if (!wakeup_)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

HelperService::~HelperService() = default;

void HelperService::stop() {
    stopping_ = true;
    wake();
}

void HelperService::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t wrote = ::write(wakeup_.fd(), &one, sizeof one);
}

void HelperService::run() {
    std::vector<pollfd> watched;
    std::vector<std::uint64_t> ids;
    while (true) {
        if (stopping_ && finishStopping())
            return;
        const auto now = Clock::now();
        if (acceptPausedUntil_ && *acceptPausedUntil_ <= now)
            acceptPausedUntil_.reset();
        std::optional<Clock::time_point> wakeAt = closeIdle(now);
        if (acceptPausedUntil_ && (!wakeAt || *acceptPausedUntil_ < *wakeAt))
            wakeAt = acceptPausedUntil_;

        watched.clear();
        ids.clear();
        // A negative descriptor is skipped by poll().
        watched.push_back({wakeup_.fd(), POLLIN, 0});
        watched.push_back({stopping_ ? -1 : listener_.fd(),
                           static_cast<short>(acceptPausedUntil_ ? 0 : POLLIN), 0});
        watched.push_back({stopping_ ? -1 : stopSignal_, POLLIN, 0});
        for (const auto& [id, connection] : connections_) {
            // poll() reports a hang-up whatever it is asked for: one already
            // seen would wake it at once, again and again.
            if (connection.peerGone)
                continue;
            watched.push_back({connection.socket.fd(), connection.events(), 0});
            ids.push_back(id);
        }
        int timeout = -1;
        if (wakeAt)
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count());
        if (::poll(watched.data(), watched.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (watched[0].revents != 0) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t got = ::read(wakeup_.fd(), &count, sizeof count);
            deliverReplies();
        }
        if (watched[2].revents != 0)
            stopping_ = true;
        for (std::size_t i = 0; i < ids.size(); ++i)
            serve(ids[i], watched[i + 3].revents);
        if (!stopping_ && watched[1].revents != 0)
            acceptWaiting();
    }
}

short HelperService::Connection::events() const {
    if (unsent)
        return POLLOUT;
    return inFlight ? 0 : POLLIN;
}

void HelperService::serve(std::uint64_t id, short revents) {
    const auto found = connections_.find(id);
    if (revents == 0 || found == connections_.end())
        return;
    Connection& connection = found->second;
    if (connection.awaitingReply()) {
        // Nothing is asked of it, so this is its peer gone. The request
        // still runs, with the disconnect queued after it; the slot stays
        // taken until the reply is back, so the user's next connection
        // cannot put yet another request in the queue.
        if (!connection.peerGone) {
            connection.peerGone = true;
            coordinator_.disconnected(connection.lease);
        }
    } else if (revents & (POLLERR | POLLNVAL)) {
        close(id);
    } else if (connection.unsent) {
        if (revents & POLLOUT)
            send(id, connection);
        else if (revents & POLLHUP)
            close(id);
    } else if (!connection.inFlight) {
        if (!stopping_)
            receive(id, connection);
    }
}

std::optional<HelperService::Clock::time_point> HelperService::closeIdle(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    std::vector<std::uint64_t> expired;
    for (const auto& [id, connection] : connections_) {
        if (connection.ownsSetup || connection.awaitingReply())
            continue;
        const Clock::time_point deadline = connection.idleSince + idleLimit_;
        if (deadline <= now)
            expired.push_back(id);
        else if (!next || deadline < *next)
            next = deadline;
    }
    for (const std::uint64_t id : expired)
        close(id);
    return next;
}

bool HelperService::finishStopping() {
    // A connection waiting for nothing, or for a client that does not take
    // its reply, is not waited for.
    std::vector<std::uint64_t> done;
    for (const auto& [id, connection] : connections_) {
        if (!connection.awaitingReply())
            done.push_back(id);
    }
    for (const std::uint64_t id : done)
        close(id);
    return connections_.empty();
}

void HelperService::acceptWaiting() {
    // Refused connections are closed once the batch is taken: in a flood,
    // their peers connect again at once, and so they come only after those
    // already waiting for room in the backlog, whom the accepts woke.
    std::vector<HostServiceWire::Socket> refused;
    for (int taken = 0; taken < acceptBatch; ++taken) {
        const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            HostServiceWire::Socket socket(fd);
            if (!admit(socket))
                refused.push_back(std::move(socket));
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
            continue;
        case EMFILE:
        case ENFILE:
            // Without a descriptor the waiting connection cannot even be
            // refused: give up the spare for a moment to turn it away.
            if (spare_) {
                spare_ = HostServiceWire::Socket();
                HostServiceWire::Socket(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
                spare_ = openSpare();
                continue;
            }
            acceptPausedUntil_ = Clock::now() + acceptPause;
            return;
        case EAGAIN:
            return;
        default:
            acceptPausedUntil_ = Clock::now() + acceptPause;
            return;
        }
    }
}

bool HelperService::admit(HostServiceWire::Socket& socket) {
    // A connection given up while it waited costs no examination.
    if (hungUpWithoutRequest(socket.fd()))
        return false;
    // The kernel's word for who connected is enough to count: a user past
    // their share is turned away before the costly examination, so their
    // connections cost everyone else next to nothing.
    const std::optional<ClientCheck::Peer> peer = ClientCheck::peerOf(socket.fd());
    if (!peer || peer->userID == 0 || !roomFor(peer->userID))
        return false;
    if (beforeClientCheck_)
        beforeClientCheck_();
    // A peer that cannot be examined is refused; the service goes on.
    try {
        if (!ClientCheck::accepted(*peer, program_))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    Connection connection;
    try {
        connection.lease = randomUUID();
    } catch (const std::system_error&) {
        return false;
    }
    connection.socket = std::move(socket);
    connection.userID = peer->userID;
    connection.idleSince = Clock::now();
    connections_.emplace(nextID_++, std::move(connection));
    return true;
}

bool HelperService::roomFor(std::uint32_t user) {
    const auto fits = [this, user] {
        return connections_.size() < maxConnections_ &&
               connectionsOf(user) < maxConnectionsPerUser_;
    };
    if (fits())
        return true;
    // A connection whose peer hung up since the last poll would hold its
    // slot until it is next served: serve such ones first. One whose
    // request is queued or running keeps its slot all the same.
    if (connections_.size() >= maxConnections_)
        serveHungUp(std::nullopt);
    else
        serveHungUp(user);
    return fits();
}

std::size_t HelperService::connectionsOf(std::uint32_t user) const {
    std::size_t count = 0;
    for (const auto& [id, connection] : connections_) {
        if (connection.userID == user)
            ++count;
    }
    return count;
}

void HelperService::serveHungUp(std::optional<std::uint32_t> user) {
    std::vector<pollfd> watched;
    std::vector<std::uint64_t> ids;
    for (const auto& [id, connection] : connections_) {
        if ((user && connection.userID != *user) || connection.peerGone)
            continue;
        watched.push_back({connection.socket.fd(), connection.events(), 0});
        ids.push_back(id);
    }
    if (::poll(watched.data(), watched.size(), 0) <= 0)
        return;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (watched[i].revents & (POLLHUP | POLLERR | POLLNVAL))
            serve(ids[i], watched[i].revents);
    }
}

void HelperService::receive(std::uint64_t id, Connection& connection) {
    HostServiceWire::ReceivedMessage message;
    try {
        message = HostServiceWire::receiveRequest(connection.socket.fd());
    } catch (const std::system_error& error) {
        if (error.code().value() != EAGAIN && error.code().value() != EWOULDBLOCK)
            close(id);
        return;
    }
    if (message.kind == HostServiceWire::ReceivedMessage::Kind::closed) {
        close(id);
        return;
    }
    connection.inFlight = true;
    if (!connection.registered) {
        connection.registered = true;
        coordinator_.connected(connection.lease);
    }
    coordinator_.apply(
        std::move(message), connection.userID, connection.lease,
        [this, id](const std::optional<std::string>& failure) {
            {
                std::lock_guard guard(repliesMutex_);
                replies_.push_back({id, HostServiceWire::encodeReply(failure), !failure});
            }
            wake();
        });
}

void HelperService::deliverReplies() {
    std::vector<Answer> ready;
    {
        std::lock_guard guard(repliesMutex_);
        ready.swap(replies_);
    }
    const Clock::time_point now = Clock::now();
    for (Answer& answer : ready) {
        const auto found = connections_.find(answer.id);
        if (found == connections_.end())
            continue; // the connection ended while its request ran
        Connection& connection = found->second;
        if (connection.peerGone) {
            close(answer.id); // nobody to tell; the slot is free again
            continue;
        }
        // A success makes the connection the owner, and only its end
        // releases that (another live connection cannot take it over).
        if (answer.success)
            connection.ownsSetup = true;
        connection.idleSince = now;
        connection.unsent = std::move(answer.reply);
        send(answer.id, connection);
    }
}

bool HelperService::send(std::uint64_t id, Connection& connection) {
    const std::string& reply = *connection.unsent;
    ssize_t sent;
    do
        sent =
            ::send(connection.socket.fd(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return true; // sent when the socket can take it
    if (sent < 0 || static_cast<std::size_t>(sent) != reply.size()) {
        close(id);
        return false;
    }
    connection.unsent.reset();
    connection.inFlight = false;
    return true;
}

void HelperService::close(std::uint64_t id) {
    const auto found = connections_.find(id);
    if (found == connections_.end())
        return;
    const Connection& connection = found->second;
    if (connection.registered && !connection.peerGone)
        coordinator_.disconnected(connection.lease);
    connections_.erase(found);
}

} // namespace vessora
