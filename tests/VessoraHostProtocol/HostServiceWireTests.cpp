#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vessora;
using namespace vessora::HostServiceWire;

namespace {

struct SocketPair {
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::system_error(errno, std::generic_category(), "socketpair");
        client = Socket(fds[0]);
        helper = Socket(fds[1]);
    }
    Socket client;
    Socket helper;
};

} // namespace

TEST(HostServiceWire, Constants) {
    EXPECT_EQ(defaultSocketPath, "/run/vessora/host-service.sock");
    EXPECT_EQ(maxRequestSize, 65536u);
}

TEST(HostServiceWire, RepliesEncodeAndDecode) {
    EXPECT_EQ(encodeReply(std::nullopt), std::string(1, '\0'));
    EXPECT_EQ(encodeReply(std::string("Invalid local host configuration.")),
              "\x01Invalid local host configuration.");
    EXPECT_EQ(decodeReply(encodeReply(std::nullopt)), std::nullopt);
    EXPECT_EQ(decodeReply(encodeReply(std::string("Ports 80 or 443 are unavailable."))),
              "Ports 80 or 443 are unavailable.");
    EXPECT_EQ(decodeReply(encodeReply(std::string("Überprüfung"))), "Überprüfung");
}

TEST(HostServiceWire, MalformedRepliesAreRefused) {
    EXPECT_THROW(decodeReply(""), std::runtime_error);
    EXPECT_THROW(decodeReply(std::string("\0x", 2)), std::runtime_error);
    EXPECT_THROW(decodeReply("\x02text"), std::runtime_error);
    EXPECT_THROW(decodeReply("text"), std::runtime_error);
    EXPECT_THROW(decodeReply("\x01\xff\xfe"), std::runtime_error);
    EXPECT_THROW(decodeReply("\x01\xed\xa0\x80"), std::runtime_error); // a surrogate
}

TEST(HostServiceWire, OneRequestAndOneReplyCrossASocketPair) {
    SocketPair pair;
    const std::string request = HostServiceRequest({"shop.test"}, true).toJSON();
    sendMessage(pair.client.fd(), request);

    const ReceivedMessage received = receiveRequest(pair.helper.fd());
    ASSERT_EQ(received.kind, ReceivedMessage::Kind::message);
    EXPECT_EQ(received.bytes, request);
    EXPECT_EQ(received.size, request.size());
    EXPECT_EQ(HostServiceRequest::fromJSON(received.bytes),
              HostServiceRequest({"shop.test"}, true));

    sendMessage(pair.helper.fd(), encodeReply(std::string("Could not lock the hosts file.")));
    EXPECT_EQ(receiveReply(pair.client.fd()), "Could not lock the hosts file.");
    sendMessage(pair.helper.fd(), encodeReply(std::nullopt));
    EXPECT_EQ(receiveReply(pair.client.fd()), std::nullopt);
}

TEST(HostServiceWire, RequestOfExactlyTheLimitIsReceived) {
    SocketPair pair;
    const int size = static_cast<int>(maxRequestSize);
    ::setsockopt(pair.client.fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    const std::string request(maxRequestSize, 'x');
    sendMessage(pair.client.fd(), request);
    const ReceivedMessage received = receiveRequest(pair.helper.fd());
    ASSERT_EQ(received.kind, ReceivedMessage::Kind::message);
    EXPECT_EQ(received.bytes.size(), maxRequestSize);
}

TEST(HostServiceWire, OversizedRequestIsDetectedAndDiscardedUnread) {
    SocketPair pair;
    const int size = 1 << 20;
    ::setsockopt(pair.client.fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    sendMessage(pair.client.fd(), std::string(maxRequestSize + 1, 'x'));
    sendMessage(pair.client.fd(), "next");

    const ReceivedMessage big = receiveRequest(pair.helper.fd());
    EXPECT_EQ(big.kind, ReceivedMessage::Kind::oversized);
    EXPECT_EQ(big.size, maxRequestSize + 1);
    EXPECT_TRUE(big.bytes.empty());
    // The message boundary holds: the next message arrives whole.
    const ReceivedMessage next = receiveRequest(pair.helper.fd());
    ASSERT_EQ(next.kind, ReceivedMessage::Kind::message);
    EXPECT_EQ(next.bytes, "next");
}

TEST(HostServiceWire, ClosedPeer) {
    SocketPair pair;
    pair.client = Socket();
    EXPECT_EQ(receiveRequest(pair.helper.fd()).kind, ReceivedMessage::Kind::closed);
    EXPECT_THROW(receiveReply(pair.helper.fd()), std::system_error);
}

TEST(HostServiceWire, SendingToAClosedPeerFailsWithoutASignal) {
    std::signal(SIGPIPE, SIG_DFL);
    SocketPair pair;
    pair.helper = Socket();
    try {
        sendMessage(pair.client.fd(), "x");
        FAIL() << "send to a closed peer succeeded";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EPIPE);
    }
}

TEST(HostServiceWire, OversizedReplyIsAnError) {
    SocketPair pair;
    const int size = 1 << 20;
    ::setsockopt(pair.helper.fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    sendMessage(pair.helper.fd(), "\x01" + std::string(maxReplySize, 'x'));
    EXPECT_THROW(receiveReply(pair.client.fd()), std::system_error);
}

TEST(HostServiceWire, ConnectsToASocketPath) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("vessora-wire-" + std::to_string(::getpid()) + ".sock");
    std::filesystem::remove(path);
    Socket listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(listener.fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener.fd(), 1), 0);

    Socket client = connect(path.string());
    Socket helper(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    sendMessage(client.fd(), "{}");
    EXPECT_EQ(receiveRequest(helper.fd()).bytes, "{}");
    std::filesystem::remove(path);

    EXPECT_THROW(connect(path.string()), std::system_error);
    EXPECT_THROW(connect(std::string(200, 'x')), std::system_error);
}

TEST(HostServiceWire, SocketOwnsItsDescriptor) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    {
        Socket owner(fds[0]);
        Socket moved = std::move(owner);
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.fd(), fds[0]);
    }
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1); // closed
    Socket kept(fds[1]);
    EXPECT_EQ(kept.release(), fds[1]);
    ::close(fds[1]);
}
