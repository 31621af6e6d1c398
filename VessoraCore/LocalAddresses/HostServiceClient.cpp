#include "VessoraCore/LocalAddresses/HostServiceClient.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraHostProtocol/HostServiceIdentity.hpp"

#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/time.h>

namespace vessora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* connectionFailed = "Could not connect to local host setup.";
constexpr const char* noAnswer =
    "Local host setup did not respond. Check that its system service is enabled.";

// How a request ended when it did not end with the helper's answer.
struct NoAnswer {
    const char* sentence;
};

int remainingMilliseconds(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Sends the request and waits for the reply until the deadline.
std::optional<std::string> exchange(int fd, const std::string& bytes, Clock::time_point deadline) {
    const int left = remainingMilliseconds(deadline);
    timeval limit{left / 1000, (left % 1000) * 1000};
    if (left == 0)
        limit.tv_usec = 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
        throw NoAnswer{connectionFailed};
    try {
        HostServiceWire::sendMessage(fd, bytes);
    } catch (const std::system_error& error) {
        const int code = error.code().value();
        throw NoAnswer{code == EAGAIN || code == EWOULDBLOCK ? noAnswer : connectionFailed};
    }
    for (;;) {
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw NoAnswer{connectionFailed};
        if (ready == 0)
            throw NoAnswer{noAnswer};
        break;
    }
    try {
        return HostServiceWire::receiveReply(fd);
    } catch (const std::exception&) {
        throw NoAnswer{connectionFailed};
    }
}

} // namespace

HostServiceClient::HostServiceClient() : HostServiceClient(Options{}) {}

HostServiceClient::HostServiceClient(Options options) : options_(std::move(options)) {
    if (!options_.acceptPeer)
        options_.acceptPeer = [](const ucred& peer) { return peer.uid == 0; };
    if (!options_.teamID)
        options_.teamID = [] { return HostServiceIdentity::teamID(); };
}

void HostServiceClient::drop() {
    connection_ = HostServiceWire::Socket();
    state_->setConnected(false);
}

void HostServiceClient::noticeHangUp() const {
    if (!connection_)
        return;
    // Between requests the helper sends nothing: readable means it closed
    // the connection (or broke the protocol), so the connection is over.
    pollfd watch{connection_.fd(), POLLIN | POLLRDHUP, 0};
    if (::poll(&watch, 1, 0) > 0 && watch.revents != 0)
        state_->setConnected(false);
}

void HostServiceClient::connect() {
    options_.teamID();
    HostServiceWire::Socket socket;
    try {
        socket = HostServiceWire::connect(options_.socketPath);
    } catch (const std::system_error&) {
        throw VessoraError(L10n::text(connectionFailed));
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket.fd(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        !options_.acceptPeer(peer))
        throw VessoraError(L10n::text(connectionFailed));
    auto state = std::make_shared<HostConnectionState>();
    state->setConnected(true);
    std::lock_guard guard(mutex_);
    connection_ = std::move(socket);
    state_ = std::move(state);
}

void HostServiceClient::apply(const HostServiceRequest& request) {
    request.validate();
    const std::string bytes = request.toJSON();

    std::lock_guard requestGuard(requestMutex_);
    int fd;
    {
        std::lock_guard guard(mutex_);
        noticeHangUp();
        if (connection_ && !state_->connected())
            drop();
        fd = connection_.fd();
    }
    if (fd < 0) {
        connect();
        std::lock_guard guard(mutex_);
        fd = connection_.fd();
    }

    std::optional<std::string> failure;
    try {
        failure = exchange(fd, bytes, Clock::now() + options_.timeout);
    } catch (const NoAnswer& ended) {
        failure = ended.sentence;
    }
    if (!failure)
        return;
    {
        std::lock_guard guard(mutex_);
        drop();
    }
    throw VessoraError(L10n::text(*failure));
}

bool HostServiceClient::isConnected() const {
    std::lock_guard guard(mutex_);
    if (!connection_)
        return false;
    std::unique_lock request(requestMutex_, std::try_to_lock);
    if (request.owns_lock())
        noticeHangUp();
    return state_->connected();
}

void HostServiceClient::invalidate() {
    std::lock_guard requestGuard(requestMutex_);
    std::lock_guard guard(mutex_);
    drop();
}

} // namespace vessora
