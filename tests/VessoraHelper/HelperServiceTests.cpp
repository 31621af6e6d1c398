#include "VessoraHelper/HelperService.hpp"
#include "VessoraHelper/ListenSocket.hpp"

#include "HelperTestSupport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace vessora {
namespace {

// True when the service closed the connection within five seconds.
bool closedByService(int fd) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1)
        return false;
    char byte;
    const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    // Closing with the request unread resets the connection.
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

class HelperServiceTest : public ::testing::Test {
protected:
    helpertest::TemporaryFolder folder;
    HelperSettings settings;

    void SetUp() override {
        settings.hosts = helpertest::ownLocation(folder.path());
        settings.socketPath = folder.path() / "run" / "host-service.sock";
        settings.socketFolderOwner = ::geteuid();
        settings.clientProgram = "/nonexistent/Vessora"; // nobody qualifies
        settings.relayEndpoints = {{helpertest::freePort(), helpertest::freePort()}};
    }
};

TEST_F(HelperServiceTest, ClosesConnectionsOfOtherProgramsUnanswered) {
    HelperService service(ListenSocket::bound(settings.socketPath, ::geteuid()), settings);
    std::thread serving([&] { service.run(); });
    for (int i = 0; i < 3; ++i) {
        HostServiceWire::Socket client = HostServiceWire::connect(settings.socketPath.string());
        ::send(client.fd(), "{}", 2, MSG_NOSIGNAL);
        EXPECT_TRUE(closedByService(client.fd()));
    }
    service.stop();
    serving.join();
}

TEST_F(HelperServiceTest, KeepsTurningConnectionsAwayWithoutDescriptors) {
    HostServiceWire::Socket listener = ListenSocket::bound(settings.socketPath, ::geteuid());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HelperService service(std::move(listener), settings);
        // Use up every descriptor this process may open.
        const rlimit limit{128, 128};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(10);
        while (::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) {
        }
        if (errno != EMFILE)
            ::_exit(11);
        service.run();
        ::_exit(0);
    }
    listener = HostServiceWire::Socket();
    for (int i = 0; i < 5; ++i) {
        HostServiceWire::Socket client = HostServiceWire::connect(settings.socketPath.string());
        EXPECT_TRUE(closedByService(client.fd())) << i;
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the service ended";
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
}

} // namespace
} // namespace vessora
