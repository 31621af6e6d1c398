#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/LoopbackRelay.hpp"
#include "tests/VessoraHostProtocol/RelayTestSupport.hpp"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

using namespace vessora;
using namespace vessora::relaytest;
using namespace std::chrono_literals;

namespace {

std::string randomBytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Waits until `condition` holds, at most `limit`.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Fd {
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

bool echoes(int fd, const std::string& text) {
    return sendAll(fd, text) && receiveExactly(fd, text.size()) == text;
}

// The data-path tests run twice: bytes moved through pipes (splice) and
// through buffers.
class RelayCopying : public ::testing::TestWithParam<bool> {};

} // namespace

std::string copyingName(const ::testing::TestParamInfo<bool>& mode) {
    return mode.param ? "Splice" : "Buffers";
}

INSTANTIATE_TEST_SUITE_P(LoopbackRelay, RelayCopying, ::testing::Values(true, false), copyingName);

TEST(LoopbackRelay, DefaultsAreTheStandardPortsAndLimits) {
    const auto endpoints = LoopbackRelay::defaultEndpoints();
    ASSERT_EQ(endpoints.size(), 2u);
    EXPECT_EQ(endpoints[0].listenPort, 80);
    EXPECT_EQ(endpoints[0].targetPort, 8088);
    EXPECT_EQ(endpoints[1].listenPort, 443);
    EXPECT_EQ(endpoints[1].targetPort, 8448);
    EXPECT_EQ(LoopbackRelay::defaultMaxPairs, 256u);
    EXPECT_EQ(LoopbackRelay::defaultIdleLimit, 300s);
    LoopbackRelay relay;
    EXPECT_FALSE(relay.running());
    EXPECT_EQ(relay.pairCount(), 0u);
}

TEST_P(RelayCopying, EachListenPortForwardsToItsTarget) {
    TestServer first([](int fd) { sendAll(fd, std::string("first")); });
    TestServer second([](int fd) { sendAll(fd, std::string("second")); });
    const std::uint16_t a = freePort(), b = freePort();
    LoopbackRelay relay({{a, first.port()}, {b, second.port()}}, 256, 300s, GetParam());
    relay.start();
    EXPECT_TRUE(relay.running());
    Fd one(connectTo(a)), two(connectTo(b));
    EXPECT_EQ(receiveAll(one.fd), "first");
    EXPECT_EQ(receiveAll(two.fd), "second");
}

TEST_P(RelayCopying, PassesEndOfStreamOnAndTheAnswerStillFlowsBack) {
    // The server reads until the client's end of stream, then answers.
    TestServer server([](int fd) {
        std::string request = receiveAll(fd);
        std::reverse(request.begin(), request.end());
        sendAll(fd, "length " + std::to_string(request.size()) + "\n" + request);
    });
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300s, GetParam());
    relay.start();

    const std::string request = randomBytes(1 << 20);
    Fd client(connectTo(port));
    ASSERT_TRUE(sendAll(client.fd, request));
    ASSERT_EQ(::shutdown(client.fd, SHUT_WR), 0);
    bool ended = false;
    const std::string answer = receiveAll(client.fd, &ended);
    EXPECT_TRUE(ended);
    const std::string expectedBody(request.rbegin(), request.rend());
    EXPECT_EQ(answer, "length 1048576\n" + expectedBody);
    // Both directions ended: the pair is gone.
    EXPECT_TRUE(eventually([&] { return relay.pairCount() == 0; }));
}

TEST_P(RelayCopying, CopiesLargeTransfersBothWaysAtOnce) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300s, GetParam());
    relay.start();

    const std::string data = randomBytes(16 << 20, 11);
    Fd client(connectTo(port));
    std::thread writer([&] {
        sendAll(client.fd, data);
        ::shutdown(client.fd, SHUT_WR);
    });
    ASSERT_TRUE(eventually([&] { return relay.pairCount() == 1; }));
    EXPECT_EQ(relay.bufferedPairCount(), GetParam() ? 0u : 1u);
    bool ended = false;
    const std::string back = receiveAll(client.fd, &ended);
    writer.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data);
}

TEST_P(RelayCopying, PassesTlsLookingAndArbitraryBytesUntouched) {
    std::string received;
    std::mutex mutex;
    TestServer server([&](int fd) {
        const std::string bytes = receiveAll(fd);
        std::lock_guard lock(mutex);
        received = bytes;
    });
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300s, GetParam());
    relay.start();

    // A TLS 1.2 ClientHello record header, every byte value, CR LF and NULs.
    std::string bytes = {'\x16', '\x03', '\x01', '\x02', '\x00', '\x01',
                         '\x00', '\x01', '\xfc', '\x03', '\x03'};
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    bytes += std::string("\r\n\r\n\0\0\xff\xfe", 8);
    {
        Fd client(connectTo(port));
        ASSERT_TRUE(sendAll(client.fd, bytes));
        ::shutdown(client.fd, SHUT_WR);
        receiveAll(client.fd);
    }
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return !received.empty();
    }));
    std::lock_guard lock(mutex);
    EXPECT_TRUE(received == bytes);
}

TEST_P(RelayCopying, RefusesConnectionsBeyondTheCapAndKeepsTheOthers) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 3, 300s, GetParam());
    relay.start();

    std::vector<std::unique_ptr<Fd>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Fd>(connectTo(port)));
        ASSERT_TRUE(echoes(clients.back()->fd, "hello " + std::to_string(i)));
    }
    EXPECT_EQ(relay.pairCount(), 3u);

    Fd extra(connectTo(port)); // the kernel completes the handshake; the relay closes it
    ASSERT_GE(extra.fd, 0);
    EXPECT_TRUE(closedWithin(extra.fd, 2000ms));
    EXPECT_EQ(relay.pairCount(), 3u);
    for (auto& client : clients)
        EXPECT_TRUE(echoes(client->fd, "still here"));

    clients.pop_back();
    ASSERT_TRUE(eventually([&] { return relay.pairCount() == 2; }));
    Fd later(connectTo(port));
    EXPECT_TRUE(echoes(later.fd, "served again"));
    EXPECT_EQ(relay.pairCount(), 3u);
}

TEST_P(RelayCopying, ClosesIdleConnectionsAndKeepsActiveOnes) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    const auto idleLimit = 200ms;
    LoopbackRelay relay({{port, server.port()}}, 256, idleLimit, GetParam());
    relay.start();

    Fd idle(connectTo(port));
    Fd active(connectTo(port));
    ASSERT_TRUE(echoes(idle.fd, "x"));
    const auto lastData = std::chrono::steady_clock::now();

    // Traffic every 50 ms keeps a pair open well past two idle limits.
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(echoes(active.fd, "tick")) << i;
        std::this_thread::sleep_for(50ms);
    }
    // The idle pair closed between one and two limits after its last data.
    EXPECT_TRUE(closedWithin(idle.fd, 100ms));
    EXPECT_LT(std::chrono::steady_clock::now() - lastData, 3 * idleLimit + 500ms);
    EXPECT_TRUE(echoes(active.fd, "tock"));
    EXPECT_TRUE(closedWithin(active.fd, 2000ms));
    EXPECT_TRUE(eventually([&] { return relay.pairCount() == 0; }));
}

TEST_P(RelayCopying, IdleConnectionClosesNotBeforeTheLimit) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300ms, GetParam());
    relay.start();
    Fd client(connectTo(port));
    ASSERT_TRUE(echoes(client.fd, "x"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(closedWithin(client.fd, 2000ms));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LE(elapsed, 1000ms);
}

TEST(LoopbackRelay, StartFailsWhenAPortIsTakenAndClosesWhatItOpened) {
    TestServer server(TestServer::echo);
    const std::uint16_t first = freePort();
    // The other server even asks for address reuse: the port stays refused.
    Fd busy(listenOn(0, true));
    ASSERT_GE(busy.fd, 0);
    const std::uint16_t second = portOf(busy.fd);

    LoopbackRelay relay({{first, server.port()}, {second, server.port()}});
    try {
        relay.start();
        FAIL() << "start() succeeded on a busy port";
    } catch (const HostServiceError& error) {
        EXPECT_STREQ(error.what(), "Ports 80 or 443 are unavailable. Stop the other web server "
                                   "or use URLs with port numbers.");
    }
    EXPECT_FALSE(relay.running());
    // The first port is free again.
    Fd again(listenOn(first, false));
    EXPECT_GE(again.fd, 0);
    EXPECT_EQ(connectTo(second) >= 0, true); // still the other server's
}

TEST(LoopbackRelay, ASecondRelayOnTheSamePortsIsRefused) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}});
    relay.start();
    LoopbackRelay other({{port, server.port()}});
    EXPECT_THROW(other.start(), HostServiceError);
    Fd client(connectTo(port));
    EXPECT_TRUE(echoes(client.fd, "the first relay still serves"));
}

TEST_P(RelayCopying, ClosesTheClientWhenTheTargetRefuses) {
    const std::uint16_t port = freePort();
    const std::uint16_t nobody = freePort();
    LoopbackRelay relay({{port, nobody}}, 256, 300s, GetParam());
    relay.start();
    Fd client(connectTo(port));
    ASSERT_GE(client.fd, 0);
    EXPECT_TRUE(closedWithin(client.fd, 2000ms));
    EXPECT_TRUE(eventually([&] { return relay.pairCount() == 0; }));
}

TEST_P(RelayCopying, StopWhileTransfersRunClosesEverything) {
    TestServer server(TestServer::sink);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300s, GetParam());
    relay.start();

    std::atomic<std::size_t> sent{0};
    std::vector<std::thread> writers;
    std::vector<std::unique_ptr<Fd>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<Fd>(connectTo(port)));
        writers.emplace_back([fd = clients.back()->fd, &sent] {
            const std::string chunk = randomBytes(65536);
            while (sendAll(fd, chunk))
                sent += chunk.size();
        });
    }
    ASSERT_TRUE(eventually([&] { return sent > (64u << 20); }, 10000ms));
    EXPECT_EQ(relay.pairCount(), 4u);

    const auto before = std::chrono::steady_clock::now();
    relay.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(relay.running());
    EXPECT_EQ(relay.pairCount(), 0u);
    for (auto& writer : writers)
        writer.join(); // every writer saw its connection end
    // The port is free and a second stop returns at once.
    Fd again(listenOn(port, false));
    EXPECT_GE(again.fd, 0);
    relay.stop();
}

TEST(LoopbackRelay, StartsAgainAfterStop) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}});
    relay.start();
    {
        Fd client(connectTo(port));
        EXPECT_TRUE(echoes(client.fd, "one"));
    }
    relay.stop();
    EXPECT_LT(connectTo(port), 0);
    relay.start();
    Fd client(connectTo(port));
    EXPECT_TRUE(echoes(client.fd, "two"));
}

TEST_P(RelayCopying, WritingTowardAResetPeerRaisesNoSignal) {
    // SIGPIPE keeps its default action: a send without MSG_NOSIGNAL would end
    // this test program. The server ends its stream first and then resets the
    // connection, so the relay's next send fails with EPIPE, the error that
    // comes with the signal.
    std::signal(SIGPIPE, SIG_DFL);
    TestServer server([](int fd) {
        char buffer[1024];
        ::recv(fd, buffer, sizeof(buffer), 0);
        ::shutdown(fd, SHUT_WR);
        std::this_thread::sleep_for(50ms);
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    });
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}}, 256, 300s, GetParam());
    relay.start();
    Fd client(connectTo(port));
    const std::string chunk = randomBytes(65536);
    std::size_t rounds = 0;
    while (rounds < 2000 && sendAll(client.fd, chunk))
        ++rounds;
    EXPECT_LT(rounds, 2000u); // the relay closed the client's connection
    EXPECT_TRUE(eventually([&] { return relay.pairCount() == 0; }));
}

TEST(LoopbackRelay, KeepsAcceptingAfterRunningOutOfDescriptors) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}});
    relay.start();

    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    setTimeouts(client, 5000ms);
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(probe);
    rlimit low = original;
    low.rlim_cur = static_cast<rlim_t>(probe) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    const int openError = errno;

    // The handshake completes in the kernel; the relay's accept fails (EMFILE).
    const sockaddr_in address = loopback(port);
    const int connected =
        ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    std::this_thread::sleep_for(300ms);
    const std::size_t pairsWhileFull = relay.pairCount();

    for (int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &original);

    EXPECT_EQ(openError, EMFILE);
    ASSERT_EQ(connected, 0);
    EXPECT_EQ(pairsWhileFull, 0u);
    EXPECT_TRUE(echoes(client, "accepted after all"));
    ::close(client);
    Fd another(connectTo(port));
    EXPECT_TRUE(echoes(another.fd, "and the next one too"));
}

TEST(LoopbackRelay, UsesBuffersWhenNoPipeCanBeMade) {
    TestServer server(TestServer::echo);
    const std::uint16_t port = freePort();
    LoopbackRelay relay({{port, server.port()}});
    relay.start();

    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    setTimeouts(client, 5000ms);
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(probe);
    rlimit low = original;
    low.rlim_cur = static_cast<rlim_t>(probe) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    // Room for the accepted and the outgoing socket and one more, but not for
    // the two ends of a pipe: one descriptor more or less taken elsewhere in
    // the process meanwhile still leaves a direction without its pipe.
    for (int i = 0; i < 3; ++i) {
        ::close(fillers.back());
        fillers.pop_back();
    }

    const sockaddr_in address = loopback(port);
    const int connected =
        ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const bool buffered = eventually([&] { return relay.bufferedPairCount() == 1; });

    for (int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &original);

    ASSERT_EQ(connected, 0);
    EXPECT_TRUE(buffered);
    EXPECT_TRUE(echoes(client, "copied through a buffer"));
    ::close(client);
    Fd another(connectTo(port));
    EXPECT_TRUE(echoes(another.fd, "and spliced again"));
    // The closed client's pair goes when the relay has seen the end.
    EXPECT_TRUE(eventually([&] { return relay.bufferedPairCount() == 0; }));
}
