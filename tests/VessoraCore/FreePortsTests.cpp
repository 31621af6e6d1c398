// The tests' port chooser: a port one test chose is never handed to another
// test, in this process or in another, before the chooser's server has
// bound it, and a port something listens on is never handed out. The
// candidates are forced, so two choosers meet on one port every run.
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "tests/Support/FreePorts.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace vessora {
namespace {

// A server's start: listens on 127.0.0.1:port, or returns empty when the
// port is taken.
UniqueFd listenOn(std::int64_t port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!socket ||
        ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.get(), 4) != 0)
        return UniqueFd();
    return socket;
}

std::int64_t portOf(const UniqueFd& socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Candidates: `first` in order, then at random from the usual range.
std::function<std::int64_t()> drawing(std::vector<std::int64_t> first) {
    return [first = std::move(first), next = std::size_t{0},
            random = std::mt19937{std::random_device{}()}]() mutable -> std::int64_t {
        if (next < first.size())
            return first[next++];
        return std::uniform_int_distribution<std::int64_t>(20000, 32000)(random);
    };
}

// Another test, in a process of its own: it chooses a port, tells it, then
// starts its server there once told to, and exits 0 when the server got
// the port.
class OtherTest {
public:
    OtherTest() {
        int told[2];
        int go[2];
        if (::pipe2(told, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::system_error(errno, std::generic_category(), "fork");
        if (pid_ == 0) {
            ::close(told[0]);
            ::close(go[1]);
            const std::int64_t port = freePorts(1).front();
            if (::write(told[1], &port, sizeof port) != sizeof port)
                ::_exit(2);
            char byte;
            if (::read(go[0], &byte, 1) != 1)
                ::_exit(3);
            ::_exit(listenOn(port) ? 0 : 1);
        }
        ::close(told[1]);
        ::close(go[0]);
        told_.reset(told[0]);
        go_.reset(go[1]);
        pollfd entry{told_.get(), POLLIN, 0};
        if (::poll(&entry, 1, 20000) != 1 ||
            ::read(told_.get(), &port_, sizeof port_) != sizeof port_)
            port_ = -1;
    }
    ~OtherTest() {
        go_.reset();
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    OtherTest(const OtherTest&) = delete;
    OtherTest& operator=(const OtherTest&) = delete;

    // The port it chose; -1 when it told none within 20 s.
    std::int64_t port() const { return port_; }

    // Lets it start its server and waits for the outcome: its exit status.
    int startServer() {
        const char byte = 'x';
        if (::write(go_.get(), &byte, 1) != 1)
            return -1;
        int status = 0;
        const pid_t ended = ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    UniqueFd told_;
    UniqueFd go_;
    std::int64_t port_ = -1;
};

TEST(FreePortsTests, APortAnotherTestChoseIsLeftToItUntilItsServerStarts) {
    // It chooses first and starts its server last.
    OtherTest other;
    ASSERT_GT(other.port(), 0);

    // Our first candidate is its port, on which nobody listens yet.
    const std::vector<std::int64_t> ours = freePorts(3, drawing({other.port(), other.port()}));
    ASSERT_EQ(ours.size(), 3u);
    std::vector<UniqueFd> servers;
    for (const std::int64_t port : ours) {
        EXPECT_NE(port, other.port());
        servers.push_back(listenOn(port));
        EXPECT_TRUE(servers.back()) << port;
    }
    EXPECT_EQ(other.startServer(), 0) << "its port " << other.port() << " was taken";
}

TEST(FreePortsTests, NoPortIsHandedOutTwiceOrWhileSomethingListensOnIt) {
    // Something that already listens: a server of another program.
    const UniqueFd taken = listenOn(0);
    ASSERT_TRUE(taken);
    const std::int64_t busy = portOf(taken);

    // Candidates from a narrow window, so they repeat often, across calls.
    std::mt19937 random{std::random_device{}()};
    const std::int64_t base = std::uniform_int_distribution<std::int64_t>(20000, 31000)(random);
    std::uniform_int_distribution<std::int64_t> window(base, base + 40);
    std::set<std::int64_t> handed;
    std::size_t count = 0;
    for (std::size_t call = 0; call < 6; ++call) {
        const auto ports = freePorts(call + 1, [&, first = true]() mutable {
            const bool busyFirst = std::exchange(first, false);
            return busyFirst ? busy : window(random);
        });
        count += ports.size();
        handed.insert(ports.begin(), ports.end());
    }
    EXPECT_EQ(count, 21u);
    EXPECT_EQ(handed.size(), count) << "a port was handed out twice";
    EXPECT_EQ(handed.count(busy), 0u);
    for (const std::int64_t port : handed) {
        EXPECT_GE(port, base);
        EXPECT_LE(port, base + 40);
        EXPECT_TRUE(listenOn(port)) << port;
    }
}

} // namespace
} // namespace vessora
