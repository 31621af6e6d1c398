#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "tests/Support/FreePorts.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

namespace vessora {
namespace {

bool curlIsMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), {});
    return text.find("/libcurl.so") != std::string::npos;
}

// Answers one request on a loopback port with a fixed reply.
class OneAnswer {
public:
    OneAnswer() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("Could not listen on the loopback interface.");
        port_ = ntohs(address.sin_port);
        server_ = std::thread([this] {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                return;
            char request[4096];
            (void)::recv(client, request, sizeof request, 0);
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
                                      "Connection: close\r\n\r\nhello";
            (void)::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        });
    }
    ~OneAnswer() {
        ::shutdown(listener_, SHUT_RDWR);
        server_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_;
    int port_ = 0;
    std::thread server_;
};

// The HTTP library and its two dozen dependencies are not loaded with the
// program, only at the first request, which then works as before.
TEST(CurlLibraryTest, LoadedAtTheFirstRequestNotAtStart) {
    EXPECT_FALSE(curlIsMapped());

    const int closed = int(freePorts(1).front());
    try {
        LoopbackHTTP::get("http://127.0.0.1:" + std::to_string(closed) + "/", 5);
        ADD_FAILURE() << "a closed port answered";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("onnect"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(curlIsMapped());

    OneAnswer server;
    const auto answer =
        LoopbackHTTP::get("http://127.0.0.1:" + std::to_string(server.port()) + "/", 5);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "hello");
    EXPECT_NE(answer.headers.find("Content-Length: 5"), std::string::npos);
}

} // namespace
} // namespace vessora
