#include "tests/Support/FreePorts.hpp"

#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Process/PortCheck.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
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

// True when nothing holds the port on 127.0.0.1. Without SO_REUSEADDR, so
// a port still in TIME_WAIT counts as taken too.
bool unbound(std::int64_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        throw std::system_error(errno, std::generic_category(), "free port");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// The port's reservation, or empty when another holder has it.
UniqueFd reserve(std::int64_t port) {
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        throw std::system_error(errno, std::generic_category(), "port reservation");
    const std::string name = "vessora-test-port-" + std::to_string(port);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading zero byte: the abstract name space, no file.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) == 0)
        return socket;
    if (errno == EADDRINUSE)
        return UniqueFd();
    throw std::system_error(errno, std::generic_category(), "port reservation");
}

// The reservations of this process. Those made while a test runs end with
// it; any other lasts as long as the process.
class Reservations : public ::testing::EmptyTestEventListener {
public:
    static Reservations& shared() {
        // Owned by gtest's listener list once appended, which outlives
        // every test.
        static Reservations* const reservations = [] {
            auto* made = new Reservations;
            ::testing::UnitTest::GetInstance()->listeners().Append(made);
            return made;
        }();
        return *reservations;
    }

    // False when the port is reserved, here or in another process.
    bool take(std::int64_t port) {
        const std::lock_guard<std::mutex> guard(lock_);
        if (held_.count(port) != 0)
            return false;
        UniqueFd reservation = reserve(port);
        if (!reservation)
            return false;
        const bool inTest = ::testing::UnitTest::GetInstance()->current_test_info() != nullptr;
        held_.emplace(port, Held{std::move(reservation), inTest});
        return true;
    }
    void give(std::int64_t port) {
        const std::lock_guard<std::mutex> guard(lock_);
        held_.erase(port);
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        const std::lock_guard<std::mutex> guard(lock_);
        std::erase_if(held_, [](const auto& entry) { return entry.second.inTest; });
    }

private:
    struct Held {
        UniqueFd socket;
        bool inTest = false;
    };
    std::mutex lock_;
    std::map<std::int64_t, Held> held_;
};

} // namespace

std::vector<std::int64_t> freePorts(std::size_t count) {
    // Above the engine's fixed bases and below the connections' ports.
    constexpr std::int64_t lowest = 20000;
    const std::int64_t highest = connectionPorts().first - 1;
    if (highest - lowest < 1000)
        throw std::system_error(EADDRNOTAVAIL, std::generic_category(), "free port range");
    std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::int64_t> pick(lowest, highest);
    return freePorts(count, [&] { return pick(random); });
}

std::vector<std::int64_t> freePorts(std::size_t count, const std::function<std::int64_t()>& draw) {
    Reservations& reservations = Reservations::shared();
    std::vector<std::int64_t> ports;
    for (int attempt = 0; ports.size() < count; ++attempt) {
        if (attempt == 10000)
            throw std::system_error(EADDRINUSE, std::generic_category(), "free port");
        const std::int64_t port = draw();
        if (port <= 0 || port > 65535 || !reservations.take(port))
            continue;
        if (!unbound(port)) {
            reservations.give(port);
            continue;
        }
        ports.push_back(port);
    }
    return ports;
}

std::function<bool(std::int64_t)> onlyPorts(const std::vector<std::int64_t>& ports) {
    return [own = std::set<std::int64_t>(ports.begin(), ports.end())](std::int64_t port) {
        return own.count(port) != 0 && PortCheck::isAvailable(port);
    };
}

} // namespace vessora
