// How the application and the helper talk: a SOCK_SEQPACKET Unix socket, one
// request message (the JSON bytes of one HostServiceRequest, at most
// maxRequestSize bytes) and one reply message. A reply is one tag byte:
// replySuccess alone, or replyFailure followed by the UTF-8 sentence to show.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::HostServiceWire {

inline constexpr std::string_view defaultSocketPath = "/run/vessora/host-service.sock";
inline constexpr std::size_t maxRequestSize = 65536;
inline constexpr std::size_t maxReplySize = 65536;
inline constexpr char replySuccess = '\x00';
inline constexpr char replyFailure = '\x01';

// No failure text encodes success.
std::string encodeReply(const std::optional<std::string>& failure);

// The failure text, or none for success. Throws std::runtime_error for a
// message that is not a reply (empty, unknown tag, bytes after the success
// tag, a failure text that is not UTF-8).
std::optional<std::string> decodeReply(std::string_view message);

// An owned file descriptor, closed on destruction.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept : fd_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    int release();
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A connected SOCK_SEQPACKET socket (close-on-exec); throws std::system_error.
Socket connect(const std::string& path = std::string(defaultSocketPath));

struct ReceivedMessage {
    enum class Kind {
        message,   // `bytes` holds the whole message
        oversized, // longer than the limit; discarded unread, `size` is its length
        closed,    // the peer closed the connection (or sent an empty message)
    };
    Kind kind = Kind::closed;
    std::string bytes;
    std::size_t size = 0;
};

// Receives one message of at most `limit` bytes from a SOCK_SEQPACKET socket.
// The length is looked at first (MSG_PEEK | MSG_TRUNC), so a longer message is
// never allocated. Throws std::system_error (a receive time-out is EAGAIN).
ReceivedMessage receiveMessage(int fd, std::size_t limit);

// receiveMessage(fd, maxRequestSize).
ReceivedMessage receiveRequest(int fd);

// Sends one whole message with MSG_NOSIGNAL (a closed peer is an EPIPE error,
// no signal). Throws std::system_error.
void sendMessage(int fd, std::string_view message);

// Receives and decodes one reply: none for success, else the failure text.
// Throws std::system_error when the peer closed without a reply, or for an
// oversized one (EMSGSIZE), and std::runtime_error for a malformed one.
std::optional<std::string> receiveReply(int fd);

} // namespace vessora::HostServiceWire
