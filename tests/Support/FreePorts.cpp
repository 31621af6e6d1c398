#include "tests/Support/FreePorts.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Process/PortCheck.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <system_error>

namespace vessora {

std::vector<std::int64_t> freePorts(std::size_t count) {
    std::vector<UniqueFd> held;
    std::vector<std::int64_t> ports;
    for (std::size_t i = 0; i < count; ++i) {
        UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (!socket || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::system_error(errno, std::generic_category(), "free port");
        ports.push_back(ntohs(address.sin_port));
        held.push_back(std::move(socket));
    }
    return ports;
}

std::function<bool(std::int64_t)> onlyPorts(const std::vector<std::int64_t>& ports) {
    return [own = std::set<std::int64_t>(ports.begin(), ports.end())](std::int64_t port) {
        return own.count(port) != 0 && PortCheck::isAvailable(port);
    };
}

} // namespace vessora
