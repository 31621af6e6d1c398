// Router process control against a stand-in nginx: a small Python program
// that checks nothing, listens on the "listen" ports of its configuration
// and answers every request with the configuration's generation, reloading
// on SIGHUP. A "mode" file beside it makes it misbehave. The real nginx runs
// in VirtualHostRouterIntegrationTests.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const fakeNginx = R"PY(#!/usr/bin/python3 -S
# Few imports: it must listen well within the router's readiness time.
import os, re, select, signal, socket, sys, time
here = os.path.dirname(os.path.abspath(__file__))
mode_file = os.path.join(here, "mode")
mode = open(mode_file).read().strip() if os.path.exists(mode_file) else ""
with open(os.path.join(here, "calls"), "a") as log:
    log.write(" ".join(sys.argv[1:]) + "\n")
args = sys.argv[1:]
conf = args[args.index("-c") + 1]
if "-t" in args:
    if mode == "reject":
        print("nginx: [emerg] unexpected end of file")
        sys.exit(1)
    sys.exit(0)
if mode == "exit":
    sys.exit(1)
if mode == "silent":
    time.sleep(60)
    sys.exit(0)
if mode == "late-exit":
    time.sleep(1)
    sys.exit(1)
if mode == "late":
    # Listens only after seconds, as nginx may on a busy machine.
    time.sleep(3)
if mode == "brief":
    # Listens soon, then ends by itself (SIGALRM) well before the launch's
    # readiness limit is over.
    signal.alarm(15)
    time.sleep(0.3)
if mode == "stubborn":
    signal.signal(signal.SIGQUIT, signal.SIG_IGN)
state = {}
def load():
    state["generation"] = re.search(r'return 200 "([^"]*)"', open(conf).read()).group(1)
def reload(*_):
    # The mode at the time of the reload: "deaf" keeps the loaded text (as
    # nginx does with a file it cannot load), "garbled" answers neither
    # generation, "die" ends the process.
    now = open(mode_file).read().strip() if os.path.exists(mode_file) else ""
    if now == "deaf":
        return
    if now == "garbled":
        state["generation"] = "garbled"
        return
    if now == "die":
        os._exit(1)
    load()
load()
signal.signal(signal.SIGHUP, reload)
listeners = []
for port in re.findall(r"listen 127\.0\.0\.1:(\d+) (?:ssl )?default_server", open(conf).read()):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", int(port)))
    s.listen(16)
    listeners.append(s)
while True:
    try:
        ready, _, _ = select.select(listeners, [], [])
    except InterruptedError:
        continue
    for s in ready:
        client, _ = s.accept()
        client.settimeout(2)
        try:
            client.recv(65536)
            body = state["generation"].encode()
            client.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
        except OSError:
            pass
        client.close()
)PY";

StackProfile routed(const std::string& id, const std::string& hostname) {
    StackProfile profile;
    profile.id = id;
    profile.name = id;
    profile.php = "php@8.4";
    profile.mariaDB = "mariadb@11.4";
    profile.httpPort = 18080;
    profile.phpPort = 18081;
    profile.databasePort = 18082;
    profile.hostname = hostname;
    profile.virtualHost = true;
    return profile;
}

class VirtualHostRouterTest : public ::testing::Test {
protected:
    void SetUp() override { PrivateFile::writeWithMode(nginx(), fakeNginx, 0755); }
    void TearDown() override {
        router.stop();
        if (HasFailure() && fs::exists(file("process.log")))
            std::cerr << "process.log:\n" << PrivateFile::read(file("process.log"));
    }

    fs::path nginx() const { return tools.path() / "nginx"; }
    void mode(const std::string& name) { PrivateFile::write(tools.path() / "mode", name); }
    std::size_t calls() const {
        if (!fs::exists(tools.path() / "calls"))
            return 0;
        const std::string log = PrivateFile::read(tools.path() / "calls");
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    }
    fs::path file(const std::string& name) const { return root.path() / ".router" / name; }

    TemporaryFolder tools{"vessora-nginx"};
    TemporaryFolder root{"vessora-root"};
    std::vector<std::int64_t> free = freePorts(2);
    VirtualHostRouter::Ports ports{free[0], free[1]};
    VirtualHostRouter router{root.path(), ports};
    const std::vector<StackProfile> one{routed("env-a", "a.test")};
    const std::vector<StackProfile> two{routed("env-a", "a.test"), routed("env-b", "b.test")};
};

TEST_F(VirtualHostRouterTest, InvalidOrMissingHostnameWritesNothing) {
    auto bad = two;
    bad[1].hostname = "B.test";
    EXPECT_EQ(thrownMessage([&] { router.apply(bad, nginx()); }),
              HostServiceError::invalidHostname);
    bad[1].hostname.reset();
    EXPECT_THROW(router.apply(bad, nginx()), HostServiceError);
    EXPECT_FALSE(fs::exists(root.path() / ".router"));
    EXPECT_EQ(calls(), 0u);
}

TEST_F(VirtualHostRouterTest, SameListIsKeptAndRejectedCandidateChangesNothing) {
    router.apply(one, nginx());
    ASSERT_TRUE(router.isRunning());
    EXPECT_EQ(router.active(), one);
    const auto process = router.child();
    const std::string loaded = PrivateFile::read(file("nginx.conf"));
    EXPECT_NE(loaded.find(router.generation()), std::string::npos);
    EXPECT_EQ(fs::status(file("body")).permissions(), fs::perms::owner_all);

    const std::size_t before = calls();
    const auto written = fs::last_write_time(file("candidate.conf"));
    router.apply(one, tools.path() / "another-nginx");
    EXPECT_EQ(calls(), before) << "no command runs for the active list";
    EXPECT_EQ(fs::last_write_time(file("candidate.conf")), written);

    mode("reject");
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "nginx failed (1):\nnginx: [emerg] unexpected end of file\n");
    EXPECT_EQ(PrivateFile::read(file("nginx.conf")), loaded);
    EXPECT_NE(PrivateFile::read(file("candidate.conf")), loaded);
    EXPECT_EQ(router.child(), process);
    EXPECT_TRUE(process->isRunning());
    EXPECT_EQ(router.active(), one);
}

TEST_F(VirtualHostRouterTest, ReloadSwitchesInPlaceAndEmptyListStops) {
    router.apply(two, nginx());
    const auto process = router.child();
    const std::string first = router.generation();
    const std::vector<StackProfile> reversed{two[1], two[0]};
    router.apply(reversed, nginx());
    EXPECT_EQ(router.child(), process) << "reloaded, not restarted";
    EXPECT_EQ(router.active(), reversed);
    EXPECT_NE(router.generation(), first);

    router.apply({}, nginx());
    EXPECT_FALSE(router.isRunning());
    EXPECT_FALSE(router.child());
    EXPECT_TRUE(router.active().empty());
    EXPECT_FALSE(process->isRunning());
}

TEST_F(VirtualHostRouterTest, PortTakenOrDeadRouterIsRefusedAndOldListRelaunched) {
    router.apply(one, nginx());
    const auto first = router.child();
    ::kill(first->pid(), SIGKILL);
    for (int i = 0; i < 100 && first->isRunning(); ++i)
        std::this_thread::sleep_for(10ms);

    // The router died; a program now holds its HTTP port.
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int reuse = 1; // the killed router's connections may linger in TIME_WAIT
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(ports.http));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "Port " + std::to_string(ports.http) +
                  " is already in use. Choose a different port.");
    ::close(holder);

    // With the port free again the next apply launches a new router.
    router.apply(two, nginx());
    EXPECT_TRUE(router.isRunning());
    EXPECT_NE(router.child(), first);
    EXPECT_EQ(router.active(), two);

    // A new list whose launch fails brings the old list back.
    router.stop();
    router.apply(one, nginx());
    const std::string oneGeneration = router.generation();
    ::kill(router.child()->pid(), SIGKILL);
    mode("exit");
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "The local host router exited. Check .router/error.log.");
    EXPECT_NE(PrivateFile::read(file("nginx.conf")).find(oneGeneration), std::string::npos)
        << "the old configuration is written back for the recovery launch";
    EXPECT_EQ(router.generation(), oneGeneration);
}

TEST_F(VirtualHostRouterTest, ReloadThatIsNotTakenUpGoesBackToThePreviousList) {
    router.apply(one, nginx());
    const auto process = router.child();
    const std::string previous = router.generation();

    // The router keeps serving what it had: the new generation never shows.
    mode("deaf");
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "The local host router did not accept its new configuration.");
    EXPECT_EQ(router.child(), process) << "rolled back in place, not restarted";
    EXPECT_TRUE(process->isRunning());
    EXPECT_EQ(router.active(), one);
    EXPECT_EQ(router.generation(), previous);
    EXPECT_EQ(PrivateFile::read(file("nginx.conf")),
              VirtualHostRouter::configuration(root.path(), one, previous, ports))
        << "the previous text is written back";

    // Once reloads work again, the same switch succeeds in place.
    mode("");
    router.apply(two, nginx());
    EXPECT_EQ(router.child(), process);
    EXPECT_EQ(router.active(), two);
    EXPECT_NE(router.generation(), previous);
}

TEST_F(VirtualHostRouterTest, RollbackThatFailsStopsTheRouter) {
    // After the reload the router answers neither generation, so the way
    // back fails as well.
    router.apply(one, nginx());
    const auto garbled = router.child();
    mode("garbled");
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "The local host router did not accept its new configuration.");
    EXPECT_FALSE(router.child());
    EXPECT_TRUE(router.active().empty());
    EXPECT_FALSE(garbled->isRunning());

    // A router that ends on the reload cannot be signalled back.
    mode("");
    router.apply(one, nginx());
    const auto dying = router.child();
    mode("die");
    EXPECT_EQ(thrownMessage([&] { router.apply(two, nginx()); }),
              "The local host router did not accept its new configuration.");
    EXPECT_FALSE(router.child());
    EXPECT_FALSE(router.isRunning());
    EXPECT_TRUE(router.active().empty());
    EXPECT_FALSE(dying->isRunning());

    // The next apply starts a fresh router.
    mode("");
    router.apply(two, nginx());
    EXPECT_TRUE(router.isRunning());
    EXPECT_EQ(router.active(), two);
}

// A router that listens only seconds after its launch is waited for; one
// that exits meanwhile is reported as exited.
TEST_F(VirtualHostRouterTest, RouterThatListensLateIsWaitedForAndOneThatExitsIsNot) {
    mode("late");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownMessage([&] { router.apply(one, nginx()); }), "");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_TRUE(router.isRunning());
    EXPECT_EQ(router.active(), one);
    router.stop();

    mode("late-exit");
    EXPECT_EQ(thrownMessage([&] { router.apply(one, nginx()); }),
              "The local host router exited. Check .router/error.log.");
    EXPECT_FALSE(router.child());
}

// The launch watches for the listening router: it returns while a router
// that listens soon is still up, not at the end of its readiness limit.
TEST_F(VirtualHostRouterTest, LaunchReturnsWhileARouterThatListensSoonIsUp) {
    mode("brief");
    EXPECT_EQ(thrownMessage([&] { router.apply(one, nginx()); }), "");
    const auto process = router.child();
    ASSERT_TRUE(process);
    EXPECT_TRUE(process->isRunning());
    EXPECT_EQ(router.active(), one);
    router.stop();
    EXPECT_FALSE(process->isRunning());
}

TEST_F(VirtualHostRouterTest, RouterThatNeverListensOrIgnoresQuit) {
    mode("silent");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownMessage([&] { router.apply(one, nginx()); }),
              "The local host router did not become ready.");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_FALSE(router.child());

    mode("stubborn");
    router.apply(one, nginx());
    const auto process = router.child();
    const auto stopping = std::chrono::steady_clock::now();
    router.stop();
    EXPECT_GE(std::chrono::steady_clock::now() - stopping, 1900ms) << "SIGKILL only after ~2 s";
    EXPECT_FALSE(process->isRunning());
    EXPECT_FALSE(router.child());
}

} // namespace
} // namespace vessora
