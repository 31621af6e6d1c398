#include "tests/Support/FreePorts.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Process/PortCheck.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <system_error>
#include <utility>

namespace vessora {

namespace {

// Where the system takes the source ports of outgoing connections; a port
// handed out there can be taken by any connection on the machine before
// the caller binds it, and stays taken while that connection waits out
// TIME_WAIT.
std::pair<std::int64_t, std::int64_t> connectionPorts() {
    std::ifstream file("/proc/sys/net/ipv4/ip_local_port_range");
    std::int64_t low = 32768, high = 60999;
    file >> low >> high;
    return {low, high};
}

// Bound to the port on 127.0.0.1, or empty when something holds it.
UniqueFd bound(std::int64_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        throw std::system_error(errno, std::generic_category(), "free port");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return socket;
}

} // namespace

std::vector<std::int64_t> freePorts(std::size_t count) {
    // Above the engine's fixed bases and below the connections' ports.
    constexpr std::int64_t lowest = 20000;
    const std::int64_t highest = connectionPorts().first - 1;
    if (highest - lowest < 1000)
        throw std::system_error(EADDRNOTAVAIL, std::generic_category(), "free port range");
    std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::int64_t> pick(lowest, highest);
    std::vector<UniqueFd> held;
    std::vector<std::int64_t> ports;
    for (int attempt = 0; ports.size() < count; ++attempt) {
        if (attempt == 10000)
            throw std::system_error(EADDRINUSE, std::generic_category(), "free port");
        const std::int64_t port = pick(random);
        UniqueFd socket = bound(port);
        if (!socket)
            continue;
        ports.push_back(port);
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
