#include "VessoraHostProtocol/HostServiceWire.hpp"

#include "VessoraHostProtocol/Utf8.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace vessora::HostServiceWire {
namespace {

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

std::string encodeReply(const std::optional<std::string>& failure) {
    if (!failure)
        return std::string(1, replySuccess);
    return replyFailure + *failure;
}

std::optional<std::string> decodeReply(std::string_view message) {
    if (message == std::string_view(&replySuccess, 1))
        return std::nullopt;
    if (message.empty() || message.front() != replyFailure || !Utf8::isValid(message.substr(1)))
        throw std::runtime_error("The local host service sent an invalid reply.");
    return std::string(message.substr(1));
}

Socket::~Socket() {
    if (fd_ >= 0)
        ::close(fd_);
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int Socket::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Socket connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        throw std::system_error(ENAMETOOLONG, std::generic_category(), path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Socket socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket)
        throwErrno("socket");
    int result;
    do
        result =
            ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    while (result != 0 && errno == EINTR);
    if (result != 0)
        throw std::system_error(errno, std::generic_category(), "connect " + path);
    return socket;
}

ReceivedMessage receiveMessage(int fd, std::size_t limit) {
    ReceivedMessage received;
    ssize_t length;
    do
        length = ::recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    while (length < 0 && errno == EINTR);
    if (length < 0)
        throwErrno("recv");
    received.size = static_cast<std::size_t>(length);
    if (length == 0) {
        received.kind = ReceivedMessage::Kind::closed;
        return received;
    }
    if (received.size > limit) {
        char discard;
        ssize_t dropped;
        do
            dropped = ::recv(fd, &discard, 1, MSG_TRUNC); // the rest of the message goes too
        while (dropped < 0 && errno == EINTR);
        if (dropped < 0)
            throwErrno("recv");
        received.kind = ReceivedMessage::Kind::oversized;
        return received;
    }
    received.bytes.resize(received.size);
    ssize_t got;
    do
        got = ::recv(fd, received.bytes.data(), received.bytes.size(), 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        throwErrno("recv");
    if (static_cast<std::size_t>(got) != received.size)
        throw std::system_error(EIO, std::generic_category(), "recv: message changed length");
    received.kind = ReceivedMessage::Kind::message;
    return received;
}

ReceivedMessage receiveRequest(int fd) {
    return receiveMessage(fd, maxRequestSize);
}

void sendMessage(int fd, std::string_view message) {
    ssize_t sent;
    do
        sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent < 0)
        throwErrno("send");
    if (static_cast<std::size_t>(sent) != message.size())
        throw std::system_error(EMSGSIZE, std::generic_category(), "send: message cut short");
}

std::optional<std::string> receiveReply(int fd) {
    const ReceivedMessage reply = receiveMessage(fd, maxReplySize);
    if (reply.kind == ReceivedMessage::Kind::closed)
        throw std::system_error(ECONNRESET, std::generic_category(),
                                "the host service closed the connection without a reply");
    if (reply.kind == ReceivedMessage::Kind::oversized)
        throw std::system_error(EMSGSIZE, std::generic_category(), "host service reply");
    return decodeReply(reply.bytes);
}

} // namespace vessora::HostServiceWire
