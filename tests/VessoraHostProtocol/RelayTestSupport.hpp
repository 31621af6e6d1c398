// Blocking loopback sockets for the relay tests: a free-port search, a small
// threaded server and bounded client helpers.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vessora::relaytest {

inline sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds and listens on 127.0.0.1:port (0: any free port); -1 when refused.
inline int listenOn(std::uint16_t port, bool reuseAddress = true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    const int one = 1;
    if (reuseAddress)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, 512) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A port nobody listens on right now (ephemeral ports are high).
inline std::uint16_t freePort() {
    const int fd = listenOn(0);
    const std::uint16_t port = portOf(fd);
    ::close(fd);
    return port;
}

inline void setTimeouts(int fd, std::chrono::milliseconds limit) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(limit.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value));
}

// A connected client socket with 5-second send and receive time-outs; -1
// when the connection is refused.
inline int connectTo(std::uint16_t port, bool noDelay = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    setTimeouts(fd, std::chrono::milliseconds(5000));
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    if (noDelay) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    }
    return fd;
}

inline bool sendAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

inline bool sendAll(int fd, const std::string& data) {
    return sendAll(fd, data.data(), data.size());
}

// Exactly `size` bytes, or what arrived before end of stream, error or time-out.
inline std::string receiveExactly(int fd, std::size_t size) {
    std::string result(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, result.data() + got, size - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    result.resize(got);
    return result;
}

// Everything until end of stream; `ended` tells whether the stream ended
// cleanly (false on error or time-out).
inline std::string receiveAll(int fd, bool* ended = nullptr) {
    std::string result;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (ended)
                *ended = n == 0;
            return result;
        }
        result.append(buffer, static_cast<std::size_t>(n));
    }
}

// True when the peer closed or reset the connection within `limit`.
inline bool closedWithin(int fd, std::chrono::milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char byte;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}

// A loopback server: one thread accepts, one thread per connection runs the
// handler with the connected descriptor (closed after the handler returns).
class TestServer {
public:
    using Handler = std::function<void(int fd)>;

    explicit TestServer(Handler handler, std::uint16_t port = 0)
        : handler_(std::move(handler)), listener_(listenOn(port)) {
        if (listener_ < 0)
            throw std::runtime_error("test server: port in use");
        port_ = portOf(listener_);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~TestServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        {
            std::lock_guard lock(mutex_);
            for (int fd : open_)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& worker : workers_)
            worker.join();
    }

    std::uint16_t port() const { return port_; }
    int accepted() const { return accepted_; }

    // Echoes every byte; passes end of stream back.
    static void echo(int fd) {
        char buffer[65536];
        while (true) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || !sendAll(fd, buffer, static_cast<std::size_t>(n)))
                break;
        }
        ::shutdown(fd, SHUT_WR);
    }

    // Reads and drops everything.
    static void sink(int fd) {
        char buffer[262144];
        while (::recv(fd, buffer, sizeof(buffer), 0) > 0) {
        }
    }

private:
    void acceptLoop() {
        while (!stopping_) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (stopping_)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            ++accepted_;
            std::lock_guard lock(mutex_);
            open_.push_back(fd);
            workers_.emplace_back([this, fd] {
                handler_(fd);
                std::lock_guard inner(mutex_);
                std::erase(open_, fd);
                ::close(fd);
            });
        }
    }

    Handler handler_;
    int listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> open_;
    std::vector<std::thread> workers_;
};

} // namespace vessora::relaytest
