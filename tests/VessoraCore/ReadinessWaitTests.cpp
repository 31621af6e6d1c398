// The pace of the readiness waits: early wake-ups when the server can
// answer or a process ends, full pauses when it answered and was not ready,
// and never giving up before attempts x pause. The pauses here are long, so
// a wait that ends early can only have been woken.
#include "VessoraCore/Engine/ReadinessWait.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

UniqueFd listenOn(std::int64_t port) {
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int reuse = 1;
    ::setsockopt(server.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(server.get(), 4) != 0)
        throw std::runtime_error("could not listen");
    return server;
}

const std::function<void()> nothing = [] {};

TEST(ReadinessWaitTest, WakesWhenTheFileAppears) {
    TemporaryFolder folder{"vessora-wait"};
    const fs::path socket = folder.path() / "studio.sock";
    int attempts = 0;
    ReadinessWait wait(3, 30s, ReadinessWait::fileAppears(socket), {});
    auto creator = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(100ms);
        PrivateFile::write(folder.path() / "other.sock", "");
        std::this_thread::sleep_for(50ms);
        PrivateFile::write(socket, "");
    });
    const auto started = Clock::now();
    EXPECT_TRUE(wait.run(nothing, [&] {
        ++attempts;
        return fs::exists(socket);
    }));
    EXPECT_LT(Clock::now() - started, 15s) << "woken by the file, not after the pause";
    EXPECT_EQ(attempts, 2) << "another file in the folder does not end the pause";
    creator.get();
}

TEST(ReadinessWaitTest, WakesWhenEveryPortAccepts) {
    const auto ports = freePorts(2);
    UniqueFd first = listenOn(ports[0]);
    UniqueFd second;
    int attempts = 0;
    ReadinessWait wait(3, 30s, ReadinessWait::portsAccept({ports[0], ports[1]}), {});
    auto opener = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(100ms);
        second = listenOn(ports[1]);
    });
    const auto started = Clock::now();
    EXPECT_TRUE(wait.run(nothing, [&] { return ++attempts == 2; }));
    EXPECT_LT(Clock::now() - started, 15s);
    EXPECT_EQ(attempts, 2);
    opener.get();
}

TEST(ReadinessWaitTest, AnAnswerThatIsNotReadyYetGetsTheFullPause) {
    // The condition holds from the start: every failed attempt is followed
    // by the whole pause, as a 502 while PHP-FPM starts would be.
    ReadinessWait wait(5, 150ms, {[] { return true; }, nullptr, 1ms}, {});
    int attempts = 0;
    const auto started = Clock::now();
    EXPECT_TRUE(wait.run(nothing, [&] { return ++attempts == 3; }));
    EXPECT_GE(Clock::now() - started, 300ms);
    EXPECT_EQ(attempts, 3);
}

TEST(ReadinessWaitTest, NeverGivesUpBeforeAttemptsTimesPause) {
    // A condition that flips on right after every attempt ends each pause at
    // once; the pause after the last attempt still waits out the full span.
    bool flag = false;
    ReadinessWait wait(4, 100ms, {[&] { return std::exchange(flag, !flag); }, nullptr, 1ms}, {});
    int attempts = 0;
    const auto started = Clock::now();
    EXPECT_FALSE(wait.run(nothing, [&] {
        ++attempts;
        flag = true;
        return false;
    }));
    EXPECT_GE(Clock::now() - started, 400ms);
    EXPECT_EQ(attempts, 4);
}

TEST(ReadinessWaitTest, AnEndingProcessEndsThePauseAndTheCheckReportsIt) {
    TemporaryFolder folder{"vessora-wait"};
    ManagedProcess server("MariaDB", "/bin/sh", {"-c", "sleep 0.1; exit 3"},
                          folder.path() / "server.log");
    ReadinessWait wait(120, 30s, {[] { return false; }, nullptr, {}}, {server.exitDescriptor()});
    int attempts = 0;
    const auto started = Clock::now();
    EXPECT_THROW(wait.run(
                     [&] {
                         if (!server.isRunning())
                             throw std::runtime_error("exited");
                     },
                     [&] {
                         ++attempts;
                         return false;
                     }),
                 std::runtime_error);
    EXPECT_LT(Clock::now() - started, 15s);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(server.terminationStatus(), 3);
}

} // namespace
} // namespace vessora
