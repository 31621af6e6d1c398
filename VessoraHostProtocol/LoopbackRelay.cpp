#include "VessoraHostProtocol/LoopbackRelay.hpp"

#include "VessoraHostProtocol/HostServiceError.hpp"

#include <asio.hpp>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace vessora {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Per direction at most one pipe's worth of data (or, without a pipe, one
// read into the direction's buffer) is in flight, and the next read waits
// until the previous data was written: memory per pair is bounded and a slow
// reader slows its writer. A pipe is larger than a buffer because every
// splice is a system call: 256 KiB moves a bulk transfer at about 1.5 times
// the rate of the default 64 KiB pipe, at most 128 MiB for 256 stalled pairs.
constexpr std::size_t chunkSize = 65536;
constexpr int pipeSize = 262144;

// A direction moves at most this many pipe loads before it lets the other
// pairs on the relay's thread have their turn.
constexpr int chunksPerTurn = 16;

// After a failed accept (for example EMFILE) the listener waits this long
// before it accepts again, so a full descriptor table does not spin.
constexpr auto acceptBackoff = std::chrono::milliseconds(50);

// splice(2) into a socket cannot pass MSG_NOSIGNAL: the relay's thread blocks
// SIGPIPE and takes back the one an EPIPE left pending on it.
void blockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void consumeSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec immediately{};
    while (sigtimedwait(&set, nullptr, &immediately) == SIGPIPE) {
    }
}

} // namespace

struct LoopbackRelay::Impl {
    struct Listener {
        Listener(asio::io_context& io, std::uint16_t target)
            : acceptor(io), backoff(io), targetPort(target) {}
        tcp::acceptor acceptor;
        asio::steady_timer backoff;
        std::uint16_t targetPort;
    };

    // One direction of a pair: bytes from one socket to the other, through a
    // pipe (splice) or, failing that, through a buffer.
    struct Direction {
        Direction(tcp::socket& source, tcp::socket& destination) : from(source), to(destination) {}
        ~Direction() { releasePipe(); }
        Direction(const Direction&) = delete;
        Direction& operator=(const Direction&) = delete;

        void releasePipe() {
            for (int& fd : pipe) {
                if (fd >= 0)
                    ::close(fd);
                fd = -1;
            }
        }

        tcp::socket& from;
        tcp::socket& to;
        int pipe[2] = {-1, -1};
        std::size_t pending = 0; // bytes in the pipe
        std::unique_ptr<char[]> buffer;
    };

    // One relayed connection: the client's connection and ours to the target.
    struct Pair : std::enable_shared_from_this<Pair> {
        Pair(Impl& owner, std::uint64_t pairKey, tcp::socket client)
            : relay(owner), key(pairKey), incoming(std::move(client)), outgoing(owner.io),
              idleTimer(owner.io), lastActivity(Clock::now()) {}

        Impl& relay;
        std::uint64_t key;
        tcp::socket incoming;
        tcp::socket outgoing;
        Direction upstream{incoming, outgoing};
        Direction downstream{outgoing, incoming};
        asio::steady_timer idleTimer;
        bool closed = false;
        int completions = 0;            // directions whose end of stream was passed on
        Clock::time_point lastActivity; // when data was last received either way

        void start(std::uint16_t targetPort);
        void connected(asio::error_code error);
        void begin(Direction& direction);
        void splice(Direction& direction);
        void await(Direction& direction, tcp::socket& socket, tcp::socket::wait_type type);
        void pump(Direction& direction);
        void endOfStream(Direction& direction);
        void scheduleIdleCheck();
        void close();
        bool buffered() const { return upstream.buffer || downstream.buffer; }
    };

    Impl(std::vector<RelayEndpoint> relayEndpoints, std::size_t pairLimit,
         std::chrono::nanoseconds idle, bool splicing)
        : endpoints(std::move(relayEndpoints)), maxPairs(pairLimit),
          idleLimit(std::chrono::duration_cast<Clock::duration>(idle)), zeroCopy(splicing) {}

    const std::vector<RelayEndpoint> endpoints;
    const std::size_t maxPairs;
    const Clock::duration idleLimit;
    const bool zeroCopy;

    asio::io_context io{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    mutable std::mutex lifecycle; // start(), stop() and the queries, one at a time

    // Touched only on the relay's thread.
    std::vector<std::shared_ptr<Listener>> listeners;
    std::unordered_map<std::uint64_t, std::shared_ptr<Pair>> pairs;
    std::uint64_t nextKey = 0;

    void accept(const std::shared_ptr<Listener>& listener);
    void admit(tcp::socket client, std::uint16_t targetPort);
    void closeAllPairs();

    // Runs `job` on the relay's thread and returns its result.
    template <class Job>
    auto onRelayThread(Job job) -> decltype(job()) {
        std::packaged_task<decltype(job())()> task(std::move(job));
        auto result = task.get_future();
        asio::post(io, [&task] { task(); });
        return result.get();
    }

    void requireOtherThread() const {
        if (std::this_thread::get_id() == thread.get_id())
            throw std::logic_error("LoopbackRelay::start() and stop() must not run on the relay's "
                                   "own thread.");
    }
};

void LoopbackRelay::Impl::accept(const std::shared_ptr<Listener>& listener) {
    listener->acceptor.async_accept([this, listener](asio::error_code error, tcp::socket client) {
        if (!listener->acceptor.is_open())
            return; // stopped
        if (error) {
            listener->backoff.expires_after(acceptBackoff);
            listener->backoff.async_wait([this, listener](asio::error_code waitError) {
                if (!waitError && listener->acceptor.is_open())
                    accept(listener);
            });
            return;
        }
        accept(listener);
        admit(std::move(client), listener->targetPort);
    });
}

void LoopbackRelay::Impl::admit(tcp::socket client, std::uint16_t targetPort) {
    if (pairs.size() >= maxPairs) {
        asio::error_code ignored;
        client.close(ignored);
        return;
    }
    const std::uint64_t key = nextKey++;
    auto pair = std::make_shared<Pair>(*this, key, std::move(client));
    pairs.emplace(key, pair);
    pair->start(targetPort);
}

void LoopbackRelay::Impl::closeAllPairs() {
    std::vector<std::shared_ptr<Pair>> snapshot;
    snapshot.reserve(pairs.size());
    for (const auto& entry : pairs)
        snapshot.push_back(entry.second);
    for (const auto& pair : snapshot)
        pair->close();
    pairs.clear();
}

void LoopbackRelay::Impl::Pair::start(std::uint16_t targetPort) {
    scheduleIdleCheck();
    outgoing.async_connect(
        tcp::endpoint(asio::ip::address_v4::loopback(), targetPort),
        [self = shared_from_this()](asio::error_code error) { self->connected(error); });
}

void LoopbackRelay::Impl::Pair::connected(asio::error_code error) {
    if (closed)
        return;
    if (error) {
        close();
        return;
    }
    // The relay adds no coalescing delay of its own; each end's own setting
    // still applies on its side.
    asio::error_code ignored;
    for (tcp::socket* socket : {&incoming, &outgoing}) {
        socket->set_option(tcp::no_delay(true), ignored);
        socket->non_blocking(true, ignored);
    }
    begin(upstream);
    begin(downstream);
}

void LoopbackRelay::Impl::Pair::begin(Direction& direction) {
    if (relay.zeroCopy && ::pipe2(direction.pipe, O_NONBLOCK | O_CLOEXEC) == 0) {
        ::fcntl(direction.pipe[1], F_SETPIPE_SZ, pipeSize); // when refused, the default size
        splice(direction);
        return;
    }
    direction.pipe[0] = direction.pipe[1] = -1;
    direction.buffer = std::make_unique<char[]>(chunkSize);
    pump(direction);
}

void LoopbackRelay::Impl::Pair::splice(Direction& direction) {
    constexpr unsigned flags = SPLICE_F_MOVE | SPLICE_F_NONBLOCK;
    for (int chunk = 0; chunk < chunksPerTurn;) {
        if (closed)
            return;
        if (direction.pending == 0) {
            const ssize_t got = ::splice(direction.from.native_handle(), nullptr, direction.pipe[1],
                                         nullptr, pipeSize, flags);
            if (got > 0) {
                direction.pending = static_cast<std::size_t>(got);
                lastActivity = Clock::now();
            } else if (got == 0) {
                endOfStream(direction);
                return;
            } else if (errno == EAGAIN) {
                await(direction, direction.from, tcp::socket::wait_read);
                return;
            } else if (errno != EINTR) {
                close();
                return;
            }
            continue;
        }
        const ssize_t sent = ::splice(direction.pipe[0], nullptr, direction.to.native_handle(),
                                      nullptr, direction.pending, flags);
        if (sent > 0) {
            direction.pending -= static_cast<std::size_t>(sent);
            if (direction.pending == 0)
                ++chunk;
        } else if (sent < 0 && errno == EAGAIN) {
            await(direction, direction.to, tcp::socket::wait_write);
            return;
        } else if (sent == 0 || errno != EINTR) {
            if (sent < 0 && errno == EPIPE)
                consumeSigpipe();
            close();
            return;
        }
    }
    asio::post(relay.io, [self = shared_from_this(), &direction] { self->splice(direction); });
}

void LoopbackRelay::Impl::Pair::await(Direction& direction, tcp::socket& socket,
                                      tcp::socket::wait_type type) {
    socket.async_wait(type, [self = shared_from_this(), &direction](asio::error_code error) {
        if (self->closed)
            return;
        if (error)
            self->close();
        else
            self->splice(direction);
    });
}

void LoopbackRelay::Impl::Pair::pump(Direction& direction) {
    direction.from.async_read_some(
        asio::buffer(direction.buffer.get(), chunkSize),
        [self = shared_from_this(), &direction](asio::error_code error, std::size_t size) {
            if (self->closed)
                return;
            if (error == asio::error::eof) {
                self->endOfStream(direction);
                return;
            }
            if (error) {
                self->close();
                return;
            }
            self->lastActivity = Clock::now();
            asio::async_write(direction.to, asio::buffer(direction.buffer.get(), size),
                              [self, &direction](asio::error_code writeError, std::size_t) {
                                  if (self->closed)
                                      return;
                                  if (writeError)
                                      self->close();
                                  else
                                      self->pump(direction);
                              });
        });
}

void LoopbackRelay::Impl::Pair::endOfStream(Direction& direction) {
    asio::error_code error;
    direction.to.shutdown(tcp::socket::shutdown_send, error);
    if (error || ++completions == 2)
        close();
}

void LoopbackRelay::Impl::Pair::scheduleIdleCheck() {
    idleTimer.expires_after(relay.idleLimit);
    idleTimer.async_wait([self = shared_from_this()](asio::error_code error) {
        if (error || self->closed)
            return;
        if (Clock::now() - self->lastActivity < self->relay.idleLimit)
            self->scheduleIdleCheck();
        else
            self->close();
    });
}

void LoopbackRelay::Impl::Pair::close() {
    if (closed)
        return;
    closed = true;
    const auto keepAlive = shared_from_this();
    asio::error_code ignored;
    incoming.close(ignored);
    outgoing.close(ignored);
    upstream.releasePipe();
    downstream.releasePipe();
    idleTimer.cancel();
    relay.pairs.erase(key);
}

LoopbackRelay::LoopbackRelay(std::vector<RelayEndpoint> endpoints, std::size_t maxPairs,
                             std::chrono::nanoseconds idleLimit, bool zeroCopy)
    : impl_(std::make_unique<Impl>(std::move(endpoints), maxPairs, idleLimit, zeroCopy)) {}

LoopbackRelay::~LoopbackRelay() {
    stop();
}

void LoopbackRelay::start() {
    Impl& relay = *impl_;
    std::lock_guard lock(relay.lifecycle);
    relay.requireOtherThread();
    if (relay.thread.joinable())
        return;

    std::vector<std::shared_ptr<Impl::Listener>> opened;
    const auto closeOpened = [&opened] {
        for (const auto& listener : opened) {
            asio::error_code ignored;
            listener->acceptor.close(ignored);
        }
    };
    for (const RelayEndpoint& endpoint : relay.endpoints) {
        opened.push_back(std::make_shared<Impl::Listener>(relay.io, endpoint.targetPort));
        tcp::acceptor& acceptor = opened.back()->acceptor;
        try {
            acceptor.open(tcp::v4());
            // Lets a restart bind over connections still in TIME_WAIT; a port
            // another socket listens on is still refused.
            acceptor.set_option(tcp::acceptor::reuse_address(true));
        } catch (...) {
            closeOpened();
            throw;
        }
        asio::error_code error;
        acceptor.bind(tcp::endpoint(asio::ip::address_v4::loopback(), endpoint.listenPort), error);
        if (!error)
            acceptor.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            closeOpened();
            throw HostServiceError(HostServiceError::portsUnavailable);
        }
    }

    relay.io.restart();
    relay.work.emplace(relay.io.get_executor());
    relay.thread = std::thread([&relay] {
        pthread_setname_np(pthread_self(), "vessora-relay");
        blockSigpipe();
        relay.io.run();
    });
    relay.onRelayThread([&relay, &opened] {
        relay.listeners = std::move(opened);
        for (const auto& listener : relay.listeners)
            relay.accept(listener);
    });
}

void LoopbackRelay::stop() {
    Impl& relay = *impl_;
    std::lock_guard lock(relay.lifecycle);
    if (!relay.thread.joinable())
        return;
    relay.requireOtherThread();
    relay.onRelayThread([&relay] {
        for (const auto& listener : relay.listeners) {
            asio::error_code ignored;
            listener->acceptor.close(ignored);
            listener->backoff.cancel();
        }
        relay.listeners.clear();
        relay.closeAllPairs();
    });
    // Everything is closed: the thread ends once the cancelled operations
    // have reported.
    relay.work.reset();
    relay.thread.join();
}

bool LoopbackRelay::running() const {
    std::lock_guard lock(impl_->lifecycle);
    return impl_->thread.joinable();
}

std::size_t LoopbackRelay::pairCount() const {
    Impl& relay = *impl_;
    std::lock_guard lock(relay.lifecycle);
    if (!relay.thread.joinable())
        return 0;
    return relay.onRelayThread([&relay] { return relay.pairs.size(); });
}

std::size_t LoopbackRelay::bufferedPairCount() const {
    Impl& relay = *impl_;
    std::lock_guard lock(relay.lifecycle);
    if (!relay.thread.joinable())
        return 0;
    return relay.onRelayThread([&relay] {
        std::size_t count = 0;
        for (const auto& entry : relay.pairs)
            count += entry.second->buffered() ? 1 : 0;
        return count;
    });
}

} // namespace vessora
