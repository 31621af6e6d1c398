#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/PortCheck.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace vessora;

namespace {

class PortCheckTests : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
};

// A listening server on a free loopback port chosen by the system.
std::pair<UniqueFd, int> listeningServer() {
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!server || ::bind(server.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(server.get(), 1) != 0 ||
        ::getsockname(server.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no test server");
    return {std::move(server), ntohs(address.sin_port)};
}

std::string messageOf(std::int64_t port) {
    try {
        PortCheck::requireAvailable(port);
    } catch (const VessoraError& error) {
        return error.what();
    }
    return "";
}

TEST_F(PortCheckTests, PortOfAListeningServerIsInUseUntilItCloses) {
    auto [server, port] = listeningServer();
    EXPECT_EQ(messageOf(port),
              "Port " + std::to_string(port) + " is already in use. Choose a different port.");
    EXPECT_FALSE(PortCheck::isAvailable(port));
    server.reset();
    EXPECT_EQ(messageOf(port), "");
    EXPECT_TRUE(PortCheck::isAvailable(port));
}

TEST_F(PortCheckTests, AcceptsOnlyWhileAServerListens) {
    auto [server, port] = listeningServer();
    EXPECT_TRUE(PortCheck::accepts(port));
    // A listener whose queue is full still counts: a server is there.
    for (int extra = 0; extra < 4; ++extra)
        EXPECT_TRUE(PortCheck::accepts(port));
    server.reset();
    EXPECT_FALSE(PortCheck::accepts(port));
    EXPECT_FALSE(PortCheck::accepts(70000));
}

TEST_F(PortCheckTests, NumbersOutsideThePortRangeAreRefused) {
    EXPECT_EQ(messageOf(70000), "Could not check port 70000: Invalid argument.");
    EXPECT_EQ(messageOf(-1), "Could not check port -1: Invalid argument.");
    EXPECT_FALSE(PortCheck::isAvailable(70000));
}

} // namespace
