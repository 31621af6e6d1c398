#include "VessoraCore/Process/PortCheck.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace vessora::PortCheck {

void requireAvailable(std::int64_t port) {
    auto number = std::to_string(port);
    if (port < 0 || port > 65535)
        throw VessoraError(L10n::text("Could not check port %@: %@.", {number, strerror(EINVAL)}));

    UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe)
        throw VessoraError(L10n::text("Socket check failed."));
    int reuse = 1;
    ::setsockopt(probe.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return;
    int error = errno;
    if (error == EADDRINUSE)
        throw VessoraError(
            L10n::text("Port %@ is already in use. Choose a different port.", {number}));
    throw VessoraError(L10n::text("Could not check port %@: %@.", {number, strerror(error)}));
}

bool isAvailable(std::int64_t port) {
    try {
        requireAvailable(port);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool accepts(std::int64_t port) {
    if (port < 0 || port > 65535)
        return false;
    UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    // On the loopback interface the handshake or the refusal takes
    // microseconds. No answer at all means a listener whose queue is full:
    // a server is there.
    pollfd entry{probe.get(), POLLOUT, 0};
    const int ready = ::poll(&entry, 1, 20);
    if (ready <= 0)
        return ready == 0;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(probe.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

} // namespace vessora::PortCheck
