#include "tests/Support/LoopbackTLSServer.hpp"

#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/FreePorts.hpp"

#include <openssl/err.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace vessora {
namespace {

constexpr std::size_t headLimit = 16384;

void setTimeouts(int fd) {
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int listenOnLoopback(std::int64_t& port) {
    // Another process may take a found port first: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::int64_t candidate = freePorts(1).front();
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(), "socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(candidate));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd, 16) == 0) {
            port = candidate;
            return fd;
        }
        ::close(fd);
    }
    throw std::runtime_error("Could not listen on a loopback port.");
}

} // namespace

TestCertificate TestCertificate::make(const std::filesystem::path& folder) {
    TestCertificate made{folder / "server.crt", folder / "server.key"};
    CommandOptions options;
    options.timeout = 30;
    const CommandResult result = Command::run(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", made.key.string(), "-out", made.certificate.string(), "-days", "2", "-subj",
         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"},
        options);
    if (result.status != 0)
        throw std::runtime_error("openssl could not make a test certificate: " + result.output);
    return made;
}

bool LoopbackTLSServer::Connection::send(std::string_view bytes) {
    if (bytes.empty())
        return true;
    return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) > 0;
}

bool LoopbackTLSServer::Connection::trickle(std::string_view bytes, std::size_t piece,
                                            std::chrono::milliseconds pause) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (stopping_ || !send(bytes.substr(at, piece)))
            return false;
        std::this_thread::sleep_for(pause);
    }
    return true;
}

void LoopbackTLSServer::Connection::holdOpen(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        pollfd watched{fd_, POLLIN, 0};
        const int ready = ::poll(&watched, 1, 50);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        if (watched.revents & (POLLHUP | POLLERR))
            return;
        char byte = 0;
        if (SSL_read(ssl_, &byte, 1) <= 0)
            return; // the client closed the connection
    }
}

LoopbackTLSServer::LoopbackTLSServer(const TestCertificate& certificate, Handler handler)
    : context_(SSL_CTX_new(TLS_server_method()), SSL_CTX_free), handler_(std::move(handler)) {
    // Writing to a client that left must fail, not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    if (!context_ ||
        SSL_CTX_use_certificate_chain_file(context_.get(), certificate.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_.get(), certificate.key.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("Could not load the test certificate.");
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { run(); });
}

LoopbackTLSServer::~LoopbackTLSServer() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(listener_);
}

std::string LoopbackTLSServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> LoopbackTLSServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackTLSServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

std::size_t LoopbackTLSServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void LoopbackTLSServer::run() {
    while (!stopping_) {
        pollfd watched{listener_, POLLIN, 0};
        if (::poll(&watched, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        serve(fd);
        ::close(fd);
    }
}

void LoopbackTLSServer::serve(int fd) {
    setTimeouts(fd);
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context_.get()), SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
        ERR_clear_error();
        return;
    }
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < headLimit) {
        const int read = SSL_read(ssl.get(), buffer, sizeof buffer);
        if (read <= 0) {
            ERR_clear_error();
            return;
        }
        head.append(buffer, static_cast<std::size_t>(read));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(head);
    }
    arrived_.notify_all();
    Connection connection(ssl.get(), fd, stopping_, head);
    handler_(connection);
    SSL_shutdown(ssl.get());
    ERR_clear_error();
}

} // namespace vessora
