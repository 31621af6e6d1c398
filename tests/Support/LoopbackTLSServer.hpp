// A small HTTPS server on 127.0.0.1 for tests of HTTP clients. It answers
// one connection at a time on its own thread: it completes the TLS
// handshake, reads the request head and hands the connection to the test's
// handler, which writes whatever bytes it likes, pauses, or holds the
// connection open. The request heads it received can be read afterwards.
//
// Every wait is bounded: socket reads and writes give up after 5 seconds,
// holdOpen() after its limit, and the destructor ends a running handler.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vessora {

// A key and a self-signed certificate for 127.0.0.1 and localhost, made by
// openssl in `folder`; the certificate file doubles as the trust anchor a
// client is given.
struct TestCertificate {
    std::filesystem::path certificate;
    std::filesystem::path key;

    static TestCertificate make(const std::filesystem::path& folder);
};

class LoopbackTLSServer {
public:
    class Connection {
    public:
        Connection(SSL* ssl, int fd, const std::atomic<bool>& stopping, std::string request)
            : ssl_(ssl), fd_(fd), stopping_(stopping), request_(std::move(request)) {}

        const std::string& request() const { return request_; }
        // False once the client is gone.
        bool send(std::string_view bytes);
        // Sends the bytes one piece at a time with a pause after each.
        bool trickle(std::string_view bytes, std::size_t piece, std::chrono::milliseconds pause);
        // Waits until the client closes the connection, the server stops or
        // `limit` has passed.
        void holdOpen(std::chrono::milliseconds limit);

    private:
        SSL* ssl_;
        int fd_;
        const std::atomic<bool>& stopping_;
        std::string request_;
    };

    using Handler = std::function<void(Connection&)>;

    LoopbackTLSServer(const TestCertificate& certificate, Handler handler);
    ~LoopbackTLSServer();
    LoopbackTLSServer(const LoopbackTLSServer&) = delete;
    LoopbackTLSServer& operator=(const LoopbackTLSServer&) = delete;

    std::int64_t port() const { return port_; }
    // "https://127.0.0.1:<port>" followed by `path`.
    std::string url(std::string_view path) const;
    // The request heads received so far, in order.
    std::vector<std::string> requests() const;
    // Waits until `count` requests have arrived or `limit` has passed.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
    // How many connections were accepted, handshake or not.
    std::size_t connections() const;

private:
    void run();
    void serve(int fd);

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_;
    Handler handler_;
    int listener_ = -1;
    std::int64_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> requests_;
    std::size_t connections_ = 0;
    std::thread thread_;
};

} // namespace vessora
