// Throughput and added latency of the loopback relay, measured against a
// direct loopback connection to the same local server in the same run:
//   1. one stream of 1 GiB,
//   2. 256 parallel connections of 4 MiB each,
//   3. 10,000 small request/response round trips on one connection.
// Every figure is the median of several alternating rounds (direct, relayed,
// direct, ...). The servers and the relay listen on free high ports.
#include "VessoraHostProtocol/LoopbackRelay.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t ioSize = 256 * 1024;
constexpr double gib = 1024.0 * 1024.0 * 1024.0;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "relay-bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int listenOnFreePort(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 1024) != 0)
        fail("listen");
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    port = ntohs(bound.sin_port);
    return fd;
}

std::uint16_t freePort() {
    std::uint16_t port = 0;
    ::close(listenOnFreePort(port));
    return port;
}

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        fail("connect");
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

void sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            fail("send");
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

void receiveExactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            fail("recv");
        data += got;
        size -= static_cast<std::size_t>(got);
    }
}

// A loopback server with one thread per connection. Sink: reads until end of
// stream, then answers with the 8-byte count it read. Echo: sends every byte
// back.
class Server {
public:
    enum class Mode { sink, echo };

    explicit Server(Mode mode) : mode_(mode), listener_(listenOnFreePort(port_)) {
        acceptor_ = std::thread([this] {
            while (true) {
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) {
                    if (stopping_)
                        return;
                    continue;
                }
                const int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
                std::thread([this, fd] {
                    serve(fd);
                    ::close(fd);
                }).detach();
            }
        });
    }
    ~Server() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }

private:
    void serve(int fd) {
        std::vector<char> buffer(ioSize);
        std::uint64_t total = 0;
        while (true) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            total += static_cast<std::uint64_t>(got);
            if (mode_ == Mode::echo)
                sendAll(fd, buffer.data(), static_cast<std::size_t>(got));
        }
        if (mode_ == Mode::sink)
            sendAll(fd, reinterpret_cast<const char*>(&total), sizeof(total));
    }

    Mode mode_;
    std::uint16_t port_ = 0;
    int listener_;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
};

// Sends `bytes` through a new connection to `port` and waits for the sink's
// count; returns nothing, fails loudly on a short count.
void stream(std::uint16_t port, std::uint64_t bytes, const std::vector<char>& payload) {
    const int fd = connectTo(port);
    std::uint64_t left = bytes;
    while (left > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, ioSize));
        sendAll(fd, payload.data(), chunk);
        left -= chunk;
    }
    ::shutdown(fd, SHUT_WR);
    std::uint64_t counted = 0;
    receiveExactly(fd, reinterpret_cast<char*>(&counted), sizeof(counted));
    ::close(fd);
    if (counted != bytes) {
        std::fprintf(stderr, "relay-bench: sink counted %llu of %llu bytes\n",
                     static_cast<unsigned long long>(counted),
                     static_cast<unsigned long long>(bytes));
        std::exit(1);
    }
}

// Bytes per second of `connections` parallel streams of `each` bytes.
double throughput(std::uint16_t port, int connections, std::uint64_t each,
                  const std::vector<char>& payload) {
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < connections; ++i)
        clients.emplace_back([&] { stream(port, each, payload); });
    for (auto& client : clients)
        client.join();
    const std::chrono::duration<double> seconds = Clock::now() - start;
    return static_cast<double>(each) * connections / seconds.count();
}

// Round-trip times in microseconds of `count` small exchanges on one connection.
std::vector<double> roundTrips(std::uint16_t port, int count, std::size_t size) {
    const int fd = connectTo(port);
    std::vector<char> request(size, 'q'), answer(size);
    for (int i = 0; i < 100; ++i) { // warm-up
        sendAll(fd, request.data(), size);
        receiveExactly(fd, answer.data(), size);
    }
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        sendAll(fd, request.data(), size);
        receiveExactly(fd, answer.data(), size);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ::close(fd);
    return micros;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}

// Run time and run-queue wait of the relay's thread so far, in nanoseconds.
struct ThreadTimes {
    double running = 0;
    double waiting = 0;
};

ThreadTimes relayThreadTimes() {
    ThreadTimes times;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "vessora-relay")
            std::ifstream(task.path() / "schedstat") >> times.running >> times.waiting;
    }
    return times;
}

// What the relay's thread did while `run` ran: the share of the time it ran
// on a processor, and the share it was ready but waited for one.
struct RelayLoad {
    double running = 0;
    double waiting = 0;
};

RelayLoad relayLoad(const std::function<void()>& run) {
    const ThreadTimes before = relayThreadTimes();
    const auto start = Clock::now();
    run();
    const double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    const ThreadTimes after = relayThreadTimes();
    return {(after.running - before.running) / elapsed, (after.waiting - before.waiting) / elapsed};
}

struct Comparison {
    double direct = 0;
    double relayed = 0;
    RelayLoad load; // of the relay's thread during the relayed rounds (medians)
};

// Runs `measure` on the direct and the relayed port in alternating rounds and
// returns the medians.
Comparison sideBySide(int rounds, const std::function<double(std::uint16_t)>& measure,
                      std::uint16_t direct, std::uint16_t relayed) {
    std::vector<double> a, b, running, waiting;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(measure(direct));
        const RelayLoad load = relayLoad([&] { b.push_back(measure(relayed)); });
        running.push_back(load.running);
        waiting.push_back(load.waiting);
    }
    return {median(a), median(b), {median(running), median(waiting)}};
}

void report(const char* name, const Comparison& c) {
    std::printf("%-21s direct %5.2f GiB/s, relayed %5.2f GiB/s, ratio %.3f "
                "(relay thread running %.0f%%, waiting for a CPU %.0f%%)\n",
                name, c.direct / gib, c.relayed / gib, c.relayed / c.direct, 100 * c.load.running,
                100 * c.load.waiting);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Server sink(Server::Mode::sink);
    Server echo(Server::Mode::echo);
    const std::uint16_t sinkRelay = freePort(), echoRelay = freePort();
    vessora::LoopbackRelay relay({{sinkRelay, sink.port()}, {echoRelay, echo.port()}});
    relay.start();

    const std::vector<char> payload(ioSize, 'x');
    std::printf("relay-bench: %d alternating rounds per figure, medians; %u hardware threads\n",
                rounds, std::thread::hardware_concurrency());

    const Comparison one = sideBySide(
        rounds, [&](std::uint16_t port) { return throughput(port, 1, 1ull << 30, payload); },
        sink.port(), sinkRelay);
    report("1 stream x 1 GiB:", one);
    const Comparison many = sideBySide(
        rounds, [&](std::uint16_t port) { return throughput(port, 256, 4ull << 20, payload); },
        sink.port(), sinkRelay);
    report("256 streams x 4 MiB:", many);

    std::vector<double> directP50, directP99, relayedP50, relayedP99;
    for (int i = 0; i < rounds; ++i) {
        const auto direct = roundTrips(echo.port(), 10000, 64);
        const auto relayed = roundTrips(echoRelay, 10000, 64);
        directP50.push_back(percentile(direct, 0.50));
        directP99.push_back(percentile(direct, 0.99));
        relayedP50.push_back(percentile(relayed, 0.50));
        relayedP99.push_back(percentile(relayed, 0.99));
    }
    const double d50 = median(directP50), d99 = median(directP99);
    const double r50 = median(relayedP50), r99 = median(relayedP99);
    std::printf("10000 round trips x 64 B: direct p50 %.1f us, p99 %.1f us; relayed p50 %.1f us, "
                "p99 %.1f us; added p50 %.1f us, p99 %.1f us\n",
                d50, d99, r50, r99, r50 - d50, r99 - d99);

    relay.stop();
    const bool met =
        one.relayed / one.direct >= 0.9 && many.relayed / many.direct >= 0.9 && r99 - d99 < 100.0;
    std::printf("targets (throughput ratio >= 0.9, added p99 < 100 us): %s\n",
                met ? "met" : "NOT met");
    return 0;
}
