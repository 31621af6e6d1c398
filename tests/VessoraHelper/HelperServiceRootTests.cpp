// The helper end to end, as root: clients are copies of this program run
// under other user ids, talking to a service on a temporary socket that
// edits a temporary hosts file and relays high test ports.
#include "VessoraHelper/HelperMain.hpp"
#include "VessoraHelper/HelperService.hpp"
#include "VessoraHelper/ListenSocket.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "HelperFlood.hpp"
#include "HelperTestSupport.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <grp.h>
#include <gtest/gtest.h>
#include <iostream>
#include <linux/sockios.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace vessora {
namespace {

constexpr const char* clientVariable = "VESSORA_HELPER_TEST_CLIENT";
constexpr int replyWaitMilliseconds = 20000;

// The reply on `fd`: "ok", "fail <text>", "timeout" or "closed".
std::string awaitReply(int fd) {
    try {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, replyWaitMilliseconds) != 1)
            return "timeout";
        if (const auto failure = HostServiceWire::receiveReply(fd))
            return "fail " + *failure;
        return "ok";
    } catch (const std::exception&) {
        return "closed";
    }
}

// Whether the service took what was sent on `fd`: "read" once nothing sent
// is left unread, "closed" when the service closed the connection instead
// (which drops what it did not read, after hanging up), else "timeout".
std::string awaitRead(int fd) {
    for (int waited = 0; waited < replyWaitMilliseconds; ++waited) {
        int unread = 0;
        if (::ioctl(fd, SIOCOUTQ, &unread) != 0)
            return "closed";
        pollfd entry{fd, 0, 0};
        ::poll(&entry, 1, 0);
        if (entry.revents & (POLLHUP | POLLERR))
            return "closed";
        if (unread == 0)
            return "read";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return "timeout";
}

// Client mode: one connection to the socket, driven line by line through
// standard input ("json <request>", "padded <size>"); each answer is one
// line: "ok", "fail <text>" or "closed". "connected" answers "yes" or "no";
// "hangup" closes the connection and the process stays. "post <request>"
// only sends ("sent" or "closed"), "read" answers as awaitRead and "reply"
// waits for the reply to what was posted.
int clientMain(const std::string& socketPath) {
    HostServiceWire::Socket socket;
    try {
        socket = HostServiceWire::connect(socketPath);
    } catch (const std::exception&) {
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "connected" || line == "hangup") {
            if (line == "hangup")
                socket = HostServiceWire::Socket();
            std::cout << (socket ? "yes" : "no") << std::endl;
            continue;
        }
        if (line.starts_with("post ")) {
            std::string answer = "sent";
            try {
                HostServiceWire::sendMessage(socket.fd(), line.substr(5));
            } catch (const std::exception&) {
                answer = "closed";
            }
            std::cout << answer << std::endl;
            continue;
        }
        if (line == "read" || line == "reply") {
            std::cout << (line == "read" ? awaitRead(socket.fd()) : awaitReply(socket.fd()))
                      << std::endl;
            continue;
        }
        std::string payload;
        if (line.starts_with("json "))
            payload = line.substr(5);
        else if (line.starts_with("padded ")) {
            payload = HostServiceRequest({}, false).toJSON();
            payload.resize(std::stoul(line.substr(7)), ' ');
        }
        std::string answer = "closed";
        try {
            if (!socket)
                throw std::runtime_error("not connected");
            HostServiceWire::sendMessage(socket.fd(), payload);
            answer = awaitReply(socket.fd());
        } catch (const std::exception&) {
        }
        std::cout << answer << std::endl;
    }
    return 0;
}

const struct ClientMode {
    ClientMode() {
        if (const char* socketPath = std::getenv(clientVariable))
            ::_exit(clientMain(socketPath));
        helperflood::runModeIfAsked();
    }
} clientMode;

// A client process: `program` exec'd under `uid` (through the `wrapper`
// command when one is given), or (no program) this test program's fork
// running the client code directly.
class Client {
public:
    Client(const std::optional<std::filesystem::path>& program, uid_t uid,
           const std::filesystem::path& socketPath, const std::vector<std::string>& wrapper = {}) {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(input[1]); // or the client never sees the end of its input
            ::close(output[0]);
            ::dup2(input[0], 0);
            ::dup2(output[1], 1);
            if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                             ::setresuid(uid, uid, uid) != 0))
                ::_exit(120);
            if (!program)
                ::_exit(clientMain(socketPath.string()));
            const std::string variable = std::string(clientVariable) + "=" + socketPath.string();
            std::vector<char*> argv;
            for (const std::string& word : wrapper)
                argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(const_cast<char*>(program->c_str()));
            argv.push_back(nullptr);
            char* const envp[] = {const_cast<char*>(variable.c_str()), nullptr};
            ::execve(argv.front(), argv.data(), envp);
            ::_exit(121);
        }
        ::close(input[0]);
        ::close(output[1]);
        toClient_ = input[1];
        fromClient_ = output[0];
    }

    ~Client() { quit(); }

    // The client's answer line for one command, or "timeout".
    std::string ask(const std::string& command) {
        const std::string line = command + "\n";
        if (::write(toClient_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return "write failed";
        std::string answer;
        while (true) {
            pollfd entry{fromClient_, POLLIN, 0};
            if (::poll(&entry, 1, replyWaitMilliseconds + 5000) != 1)
                return "timeout";
            char c;
            if (::read(fromClient_, &c, 1) != 1)
                return "client ended: " + answer;
            if (c == '\n')
                return answer;
            answer += c;
        }
    }

    std::string apply(const HostServiceRequest& request) { return ask("json " + request.toJSON()); }

    // Ends the client and waits for it (bounded), so its connection is closed.
    void quit() {
        if (pid_ <= 0)
            return;
        ::close(toClient_);
        ::close(fromClient_);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int toClient_ = -1;
    int fromClient_ = -1;
};

// Echoes every connection on a loopback port until destroyed.
class EchoServer {
public:
    EchoServer() {
        thread_ = std::thread([this] {
            while (true) {
                const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    return;
                char buffer[4096];
                ssize_t n;
                while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                    ::send(fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                ::close(fd);
            }
        });
    }
    ~EchoServer() {
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }
    std::uint16_t port() const { return listener_.port(); }

private:
    helpertest::PortHolder listener_;
    std::thread thread_;
};

std::string roundTrip(std::uint16_t port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string back;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        back.resize(text.size());
        std::size_t got = 0;
        ssize_t n;
        while (got < back.size() && (n = ::recv(fd, back.data() + got, back.size() - got, 0)) > 0)
            got += static_cast<std::size_t>(n);
        back.resize(got);
    }
    ::close(fd);
    return back;
}

constexpr uid_t alice = 60001;
constexpr uid_t bob = 60002;

class HelperServiceRootTest : public ::testing::Test {
protected:
    std::optional<helpertest::TemporaryFolder> folder;
    HelperSettings settings;
    std::filesystem::path program;
    std::uint16_t relayPort = 0;
    std::unique_ptr<EchoServer> echo;
    std::unique_ptr<HelperService> service;
    std::thread serving;
    // Connections the service examined.
    std::shared_ptr<std::atomic<int>> examined = std::make_shared<std::atomic<int>>(0);

    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root";
        folder.emplace();
        const auto& root = folder->path();
        ::chmod(root.c_str(), 0755);
        std::filesystem::create_directories(root / "etc");
        std::filesystem::create_directories(root / "bin");
        ::chmod((root / "bin").c_str(), 0755);
        helpertest::writeFile(root / "etc" / "hosts", helpertest::baseHosts, 0644);
        program = root / "bin" / "Vessora";
        std::filesystem::copy_file("/proc/self/exe", program);
        ::chmod(program.c_str(), 0755);

        echo = std::make_unique<EchoServer>();
        relayPort = helpertest::freePort();
        settings.hosts.folder = root / "etc";
        settings.socketPath = root / "run" / "host-service.sock";
        settings.clientProgram = program;
        settings.relayEndpoints = {{relayPort, echo->port()}};
        settings.maxConnections = 4;
        settings.beforeClientCheck = [examined = examined] { ++*examined; };
        configure(settings);
        if (!servesInProcess())
            return;
        service =
            std::make_unique<HelperService>(ListenSocket::bound(settings.socketPath), settings);
        serving = std::thread([this] { service->run(); });
    }

    virtual void configure(HelperSettings&) {}
    virtual bool servesInProcess() const { return true; }

    void TearDown() override {
        if (!service)
            return;
        service->stop();
        serving.join();
        service.reset();
    }

    std::string hosts() const { return helpertest::readFile(settings.hosts.hosts()); }
    Client client(uid_t uid) { return Client(program, uid, settings.socketPath); }
};

TEST_F(HelperServiceRootTest, AnswersUnprivilegedClientsOfTheInstalledProgram) {
    Client first = client(alice);
    EXPECT_EQ(first.apply(HostServiceRequest({"shop.test"}, true)), "ok");
    EXPECT_EQ(hosts(),
              std::string(helpertest::baseHosts) + ManagedHosts::section(alice, {"shop.test"}));
    struct stat status {};
    ::stat(settings.hosts.hosts().c_str(), &status);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_EQ(roundTrip(relayPort, "through the relay"), "through the relay");

    // Refusals with the service's texts; the connection stays usable.
    EXPECT_EQ(first.ask("json not json"), std::string("fail ") + HostServiceDecodingError::corrupt);
    EXPECT_EQ(first.apply(HostServiceRequest({"Shop.test"}, false)),
              std::string("fail ") + HostServiceError::invalidHostname);
    EXPECT_EQ(first.ask("padded " + std::to_string(HostServiceWire::maxRequestSize + 1)),
              std::string("fail ") + ServiceCoordinator::invalidClient);
    EXPECT_EQ(first.ask("padded " + std::to_string(HostServiceWire::maxRequestSize)), "ok");
    EXPECT_EQ(hosts(), helpertest::baseHosts); // the padded empty request removed the section
    EXPECT_FALSE(helpertest::listening(relayPort));
}

TEST_F(HelperServiceRootTest, RefusesRootAndOtherProgramsWithoutAReply) {
    Client root = client(0);
    EXPECT_EQ(root.apply(HostServiceRequest({"shop.test"}, false)), "closed");
    Client other(std::nullopt, alice,
                 settings.socketPath); // this test program, not the installed one
    EXPECT_EQ(other.apply(HostServiceRequest({"shop.test"}, false)), "closed");

    // A program file others may change is not the installed program either.
    ::chmod(program.c_str(), 0775);
    Client writable = client(alice);
    EXPECT_EQ(writable.apply(HostServiceRequest({"shop.test"}, false)), "closed");
    ::chmod(program.c_str(), 0755);
    EXPECT_EQ(hosts(), helpertest::baseHosts);

    Client fine = client(alice);
    EXPECT_EQ(fine.apply(HostServiceRequest({"shop.test"}, false)), "ok");
}

TEST_F(HelperServiceRootTest, OneSessionOwnsTheSetupUntilItDisconnects) {
    Client first = client(alice);
    Client second = client(bob);
    EXPECT_EQ(first.apply(HostServiceRequest({"shop.test"}, true)), "ok");
    EXPECT_EQ(second.apply(HostServiceRequest({"blog.test"}, false)),
              std::string("fail ") + ServiceCoordinator::ownedElsewhere);
    EXPECT_TRUE(helpertest::listening(relayPort));

    first.quit();
    // The relay stops once the disconnect is through; the section stays.
    bool stopped = false;
    for (int i = 0; i < 200 && !stopped; ++i) {
        stopped = !service->coordinator().relayRunning();
        if (!stopped)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(helpertest::listening(relayPort));
    EXPECT_NE(hosts().find(ManagedHosts::section(alice, {"shop.test"})), std::string::npos);

    EXPECT_EQ(second.apply(HostServiceRequest({"blog.test"}, false)), "ok");
    EXPECT_EQ(hosts(), std::string(helpertest::baseHosts) +
                           ManagedHosts::section(alice, {"shop.test"}) +
                           ManagedHosts::section(bob, {"blog.test"}));
}

TEST_F(HelperServiceRootTest, CapsTheNumberOfConnections) {
    std::vector<std::unique_ptr<Client>> admitted;
    for (std::size_t i = 0; i < settings.maxConnections; ++i) {
        admitted.push_back(std::make_unique<Client>(program, alice + i, settings.socketPath));
        // An answer proves the connection was admitted before the next one.
        EXPECT_EQ(admitted.back()->ask("json {}"),
                  std::string("fail ") + HostServiceDecodingError::missing);
    }
    Client extra = client(bob + 100);
    EXPECT_EQ(extra.ask("json {}"), "closed");
    // Turned away before it cost an examination.
    EXPECT_EQ(*examined, static_cast<int>(settings.maxConnections));
    admitted.front()->quit();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Client later = client(bob + 101);
    EXPECT_EQ(later.ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
}

class PerUserCapRootTest : public HelperServiceRootTest {
protected:
    void configure(HelperSettings& limits) override {
        limits.maxConnections = 6;
        limits.maxConnectionsPerUser = 2;
    }
};

TEST_F(PerUserCapRootTest, OneUserCrowdsOutOnlyThemselves) {
    // One user's connections, idle after one request that proves each was
    // admitted...
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 2; ++i) {
        idle.push_back(std::make_unique<Client>(program, alice, settings.socketPath));
        EXPECT_EQ(idle.back()->ask("json {}"),
                  std::string("fail ") + HostServiceDecodingError::missing);
    }
    // ... and the ones beyond that user's share, turned away.
    for (int i = 0; i < 3; ++i) {
        Client more = client(alice);
        EXPECT_EQ(more.ask("json {}"), "closed") << i;
    }
    // Counted by their user id alone, not examined.
    EXPECT_EQ(*examined, 2);
    // Another user is still served, and the first again once their
    // connections are gone.
    Client other = client(bob);
    EXPECT_EQ(other.apply(HostServiceRequest({"blog.test"}, false)), "ok");
    idle.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Client again = client(alice);
    EXPECT_EQ(again.ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
}

// Once armed, holds the next thread that passes it until released: the
// service's thread at its examination of a peer, so that a test can act
// between two accepts of one batch, or the coordinator's queue in a request.
class Gate {
public:
    void arm() {
        std::lock_guard guard(mutex_);
        armed_ = true;
    }
    // On the held thread; true when it held it.
    bool pass() {
        std::unique_lock lock(mutex_);
        if (!armed_)
            return false;
        armed_ = false;
        reached_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(20), [this] { return released_; });
        return true;
    }
    bool waitReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return reached_; });
    }
    void release() {
        {
            std::lock_guard guard(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool reached_ = false;
    bool released_ = false;
};

// While the service examines one connection, the test lets a peer hang up
// and another connection queue behind it: the service takes that one in the
// same batch, before it polls again.
class HungUpRootTest : public HelperServiceRootTest {
protected:
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();

    void configure(HelperSettings& limits) override {
        limits.maxConnections = 4;
        limits.maxConnectionsPerUser = 2;
        limits.beforeClientCheck = [gate = gate, examined = examined] {
            ++*examined;
            gate->pass();
        };
    }
    void TearDown() override {
        gate->release();
        HelperServiceRootTest::TearDown();
    }

    std::unique_ptr<Client> admitted(uid_t uid) {
        auto connected = std::make_unique<Client>(program, uid, settings.socketPath);
        EXPECT_EQ(connected->ask("json {}"),
                  std::string("fail ") + HostServiceDecodingError::missing);
        return connected;
    }
    std::unique_ptr<Client> queued(uid_t uid) {
        auto connected = std::make_unique<Client>(program, uid, settings.socketPath);
        EXPECT_EQ(connected->ask("connected"), "yes");
        return connected;
    }
    // A connection of `uid`, held at its examination while `meanwhile` runs.
    std::unique_ptr<Client> examinedWhile(uid_t uid, const std::function<void()>& meanwhile) {
        gate->arm();
        auto connected = std::make_unique<Client>(program, uid, settings.socketPath);
        EXPECT_TRUE(gate->waitReached());
        meanwhile();
        gate->release();
        return connected;
    }
};

TEST_F(HungUpRootTest, APeerThatHungUpMakesRoomAtTheConnectionCap) {
    const auto first = admitted(alice);
    const auto second = admitted(alice + 1);
    const auto gone = admitted(bob);
    std::unique_ptr<Client> late;
    const auto filling = examinedWhile(bob + 1, [&] {
        EXPECT_EQ(gone->ask("hangup"), "no");
        late = queued(bob + 2);
    });
    EXPECT_EQ(late->ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
    EXPECT_EQ(filling->ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
}

TEST_F(HungUpRootTest, APeerThatHungUpMakesRoomAtItsUsersCap) {
    const auto held = admitted(alice);
    const auto gone = admitted(alice);
    std::unique_ptr<Client> late;
    const auto other = examinedWhile(bob, [&] {
        EXPECT_EQ(gone->ask("hangup"), "no");
        late = queued(alice);
    });
    EXPECT_EQ(late->ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
    EXPECT_EQ(held->ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
}

TEST_F(HungUpRootTest, AConnectionGivenUpBeforeItWasTakenCostsNoExamination) {
    std::unique_ptr<Client> quitter;
    const auto first = examinedWhile(alice, [&] {
        quitter = queued(bob);
        EXPECT_EQ(quitter->ask("hangup"), "no");
    });
    // Answered after the same batch took the quitter's connection.
    EXPECT_EQ(first->ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
    EXPECT_EQ(*examined, 1);
}

// A service of its own per round, whose coordinator's queue the test holds
// inside a hosts-file rewrite: the rewrite that passes the armed gate waits
// there and then fails, so its request takes no ownership.
class HeldQueueRootTest : public HelperServiceRootTest {
protected:
    static constexpr const char* heldText = "Held by the test.";
    bool servesInProcess() const override { return false; }

    struct Round {
        std::size_t share = 1;
        // Global slots beyond the holder's, the flooding user's share and
        // the other user's.
        std::size_t spare = 0;
        // Per connection within the share: whether the service took its
        // request before it hung up (else it hangs up right after sending).
        std::vector<bool> takenFirst;
        std::size_t extra = 2;
        std::size_t padding = 0;
        bool otherAfterExtra = false;
    };

    // The service of one round, stopped when the round ends.
    struct Serving {
        std::shared_ptr<Gate> gate = std::make_shared<Gate>();
        std::shared_ptr<std::atomic<int>> rewrites = std::make_shared<std::atomic<int>>(0);
        std::unique_ptr<HelperService> service;
        std::thread thread;

        Serving(HelperSettings settings, std::size_t share, std::size_t slots) {
            settings.maxConnectionsPerUser = share;
            settings.maxConnections = slots;
            settings.hosts.beforeRaceCheck = [gate = gate, rewrites = rewrites] {
                ++*rewrites;
                if (gate->pass())
                    throw std::runtime_error(heldText);
            };
            service =
                std::make_unique<HelperService>(ListenSocket::bound(settings.socketPath), settings);
            thread = std::thread([this] { service->run(); });
        }
        ~Serving() {
            gate->release();
            service->stop();
            thread.join();
        }
    };

    std::unique_ptr<Client> connected(uid_t uid) {
        auto made = std::make_unique<Client>(program, uid, settings.socketPath);
        // In the backlog before the next one connects: taken in this order.
        EXPECT_EQ(made->ask("connected"), "yes");
        return made;
    }

    void play(const Round& round) {
        constexpr uid_t holderUser = bob + 1;
        constexpr uid_t flooder = bob;
        constexpr uid_t other = alice;
        helpertest::writeFile(settings.hosts.hosts(), helpertest::baseHosts, 0644);
        const Serving running(settings, round.share, round.share + 2 + round.spare);
        const auto request = [&](std::size_t turn) {
            std::string text =
                HostServiceRequest({turn % 2 == 0 ? "flood-a.test" : "flood-b.test"}, false)
                    .toJSON();
            text.resize(std::max(text.size(), round.padding), ' ');
            return text;
        };

        running.gate->arm();
        const auto holder = connected(holderUser);
        EXPECT_EQ(holder->ask("post " + HostServiceRequest({"holder.test"}, false).toJSON()),
                  "sent");
        ASSERT_TRUE(running.gate->waitReached());

        // Within the share: each sends a request and hangs up. The processes
        // stay, as a flood's do while it runs: the service may examine a
        // connection after its peer hung up.
        std::vector<std::unique_ptr<Client>> flooding;
        for (std::size_t i = 0; i < round.share; ++i) {
            const auto& gone = flooding.emplace_back(connected(flooder));
            EXPECT_EQ(gone->ask("post " + request(i)), "sent");
            if (round.takenFirst[i]) {
                EXPECT_EQ(gone->ask("read"), "read") << i;
            }
            EXPECT_EQ(gone->ask("hangup"), "no");
        }
        // The other user is admitted and the request taken while the queue
        // is held; the flooding user's next connections are turned away
        // with their requests unread.
        std::unique_ptr<Client> otherClient;
        const auto admitOther = [&] {
            otherClient = connected(other);
            EXPECT_EQ(
                otherClient->ask("post " + HostServiceRequest({"other.test"}, false).toJSON()),
                "sent");
            EXPECT_EQ(otherClient->ask("read"), "read");
        };
        if (!round.otherAfterExtra)
            admitOther();
        for (std::size_t i = 0; i < round.extra; ++i) {
            const auto& beyond = flooding.emplace_back(connected(flooder));
            // Turned away at once, perhaps before it could send.
            if (beyond->ask("post " + request(round.share + i)) == "sent") {
                EXPECT_EQ(beyond->ask("read"), "closed") << "beyond the share: " << i;
            }
            beyond->ask("hangup");
        }
        if (round.otherAfterExtra)
            admitOther();

        running.gate->release();
        EXPECT_EQ(holder->ask("reply"), std::string("fail ") + heldText);
        // Queued after every request of the flooding user: once it is
        // answered, all of theirs have run.
        const std::string answer = otherClient->ask("reply");
        const int othersRewrite = answer == "ok" ? 1 : 0;
        const int floodersRewrites = *running.rewrites - 1 - othersRewrite;
        EXPECT_GE(floodersRewrites, 1);
        EXPECT_LE(floodersRewrites, static_cast<int>(round.share));
        const bool eachTakenFirst = std::all_of(round.takenFirst.begin(), round.takenFirst.end(),
                                                [](bool taken) { return taken; });
        if (eachTakenFirst) {
            // Each disconnect was queued right after its request.
            EXPECT_EQ(floodersRewrites, static_cast<int>(round.share));
            EXPECT_EQ(answer, "ok");
        } else {
            // A request read in the same turn as the previous connection's
            // hang-up runs before that disconnect: it finds the setup owned.
            EXPECT_TRUE(answer == "ok" ||
                        answer == std::string("fail ") + ServiceCoordinator::ownedElsewhere)
                << answer;
        }

        // The slots are free again once the replies were dropped.
        const auto again = connected(flooder);
        EXPECT_EQ(again->apply(HostServiceRequest({"flood-c.test"}, false)),
                  othersRewrite ? std::string("fail ") + ServiceCoordinator::ownedElsewhere
                                : std::string("ok"));
    }
};

TEST_F(HeldQueueRootTest, RequestsOfPeersThatHungUpCountAgainstTheirUsersShareUntilTheyRan) {
    std::mt19937 random(20261210);
    std::vector<Round> rounds;
    for (std::size_t share = 1; share <= 4; ++share) {
        // Each request taken before its peer hung up: every connection beyond
        // the share would find one of them to let go.
        Round taken;
        taken.share = share;
        taken.spare = share % 2 == 0 ? 2 : 0;
        taken.takenFirst.assign(share, true);
        taken.extra = 2 + share % 2;
        taken.padding = share == 3 ? HostServiceWire::maxRequestSize : 0;
        taken.otherAfterExtra = share % 2 == 1;
        rounds.push_back(taken);
        // Hang-ups at random, also before the request was taken, as a flood
        // sends them.
        Round mixed = taken;
        for (std::size_t i = 0; i < share; ++i)
            mixed.takenFirst[i] = random() % 2 == 0;
        mixed.otherAfterExtra = !taken.otherAfterExtra;
        mixed.padding = share == 2 ? HostServiceWire::maxRequestSize : 0;
        rounds.push_back(mixed);
    }
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        SCOPED_TRACE("round " + std::to_string(i) + ", share " + std::to_string(rounds[i].share));
        play(rounds[i]);
        if (HasFatalFailure())
            return;
    }
}

class IdleLimitRootTest : public HelperServiceRootTest {
protected:
    void configure(HelperSettings& limits) override {
        limits.idleLimit = std::chrono::milliseconds(1000);
    }
};

TEST_F(IdleLimitRootTest, IdleConnectionsAreClosedButNotTheOwners) {
    Client owner = client(alice);
    EXPECT_EQ(owner.apply(HostServiceRequest({"shop.test"}, true)), "ok");
    Client silent = client(bob); // never sends anything
    Client refused = client(bob);
    EXPECT_EQ(refused.apply(HostServiceRequest({"blog.test"}, false)),
              std::string("fail ") + ServiceCoordinator::ownedElsewhere);

    // A connection that keeps sending requests is not idle.
    Client busy = client(bob + 1);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(busy.ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing)
            << i;
        std::this_thread::sleep_for(settings.idleLimit / 4);
    }
    // Three limits without a request.
    std::this_thread::sleep_for(3 * settings.idleLimit);
    EXPECT_EQ(silent.ask("json {}"), "closed");
    EXPECT_EQ(refused.ask("json {}"), "closed");
    EXPECT_EQ(busy.ask("json {}"), "closed");
    // The owner keeps its lease and its relay.
    EXPECT_TRUE(helpertest::listening(relayPort));
    EXPECT_EQ(owner.apply(HostServiceRequest({"shop.test", "api.test"}, true)), "ok");
}

// The helper program as systemd runs it: a process of its own, stopped with
// SIGTERM while a hosts file transaction is under way.
class HelperStopRootTest : public HelperServiceRootTest {
protected:
    bool servesInProcess() const override { return false; }

    // True once something listens on the service's socket (within 10 s).
    bool serviceListening() const {
        for (int i = 0; i < 400; ++i) {
            try {
                HostServiceWire::connect(settings.socketPath.string());
                return true;
            } catch (const std::system_error&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        }
        return false;
    }
};

TEST_F(HelperStopRootTest, SIGTERMFinishesTheApplyInProgressThenExits) {
    int reached[2];
    ASSERT_EQ(::pipe2(reached, O_CLOEXEC), 0);
    // Past writing and flushing the staging file, short of the rename.
    settings.hosts.beforeRaceCheck = [fd = reached[1]] {
        [[maybe_unused]] const ssize_t wrote = ::write(fd, "x", 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    };
    settings.signing = SigningInfo{"VSSRLNX001", true, std::nullopt};
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0)
        ::_exit(HelperMain::run(settings));
    ::close(reached[1]);
    const auto reap = [helper](int& status) {
        for (int i = 0; i < 400; ++i) {
            if (::waitpid(helper, &status, WNOHANG) == helper)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ::kill(helper, SIGKILL);
        ::waitpid(helper, &status, 0);
        return false;
    };
    int status = -1;
    if (!serviceListening()) {
        reap(status);
        FAIL() << "the helper did not start: " << status;
    }

    Client user = client(alice);
    Client waiting = client(bob); // connected, no request yet
    auto answer = std::async(std::launch::async,
                             [&] { return user.apply(HostServiceRequest({"shop.test"}, true)); });
    pollfd entry{reached[0], POLLIN, 0};
    EXPECT_EQ(::poll(&entry, 1, 20000), 1);
    ::close(reached[0]);
    ::kill(helper, SIGTERM);

    EXPECT_EQ(answer.get(), "ok");
    EXPECT_TRUE(reap(status)) << "the helper did not exit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(hosts(),
              std::string(helpertest::baseHosts) + ManagedHosts::section(alice, {"shop.test"}));
    EXPECT_TRUE(
        helpertest::namesStartingWith(settings.hosts.folder, HostsFile::Location::stagingPrefix)
            .empty());
    EXPECT_EQ(waiting.ask("json {}"), "closed");
    EXPECT_FALSE(helpertest::listening(relayPort));
}

// Reads "Max open files" of /proc/PID/limits: the soft and hard limits.
std::optional<std::pair<std::string, std::string>> openFilesLimits(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    while (std::getline(file, line)) {
        if (!line.starts_with("Max open files"))
            continue;
        std::istringstream words(line.substr(std::strlen("Max open files")));
        std::string soft, hard;
        if (words >> soft >> hard)
            return std::make_pair(soft, hard);
    }
    return std::nullopt;
}

TEST_F(HelperStopRootTest, RunsAtItsHardDescriptorLimit) {
    settings.signing = SigningInfo{"VSSRLNX001", true, std::nullopt};
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        const rlimit lowered{256, 4096};
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            ::_exit(125);
        ::_exit(HelperMain::run(settings));
    }
    // It raises the limit before it listens.
    const bool started = serviceListening();
    const auto limits = openFilesLimits(helper);
    ::kill(helper, SIGTERM);
    int status = -1;
    ::waitpid(helper, &status, 0);
    ASSERT_TRUE(started) << "the helper did not start: " << status;
    ASSERT_TRUE(limits);
    EXPECT_EQ(limits->first, "4096");
    EXPECT_EQ(limits->second, "4096");
}

// A plain Python process run under `uid`, as a local user would flood the
// helper without the application; it ends after five minutes at the latest.
std::unique_ptr<helperflood::UserProcess> pythonFlood(uid_t uid, const std::string& script,
                                                      const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"python3", "-c", script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<helperflood::UserProcess>(uid, argv, std::vector<std::string>{}, 300);
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

// Opens connections to the relay and keeps them; the relay's target is a sink
// of the same process that accepts and keeps everything.
constexpr const char* relayFloodScript = R"(
import resource, socket, sys, threading
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
relay, sink, count = map(int, sys.argv[1:4])
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(('127.0.0.1', sink))
server.listen(4096)
held = []
def take():
    while True:
        held.append(server.accept()[0])
threading.Thread(target=take, daemon=True).start()
clients = [socket.create_connection(('127.0.0.1', relay), timeout=10) for _ in range(count)]
print('ready', flush=True)
threading.Event().wait()
)";

// Connects to the helper's socket and hangs up again, as fast as it can.
constexpr const char* reconnectFloodScript = R"(
import socket, sys
first = True
while True:
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    try:
        s.connect(sys.argv[1])
    except OSError:
        pass
    s.close()
    if first:
        print('started', flush=True)
        first = False
)";

// The helper under the usual soft limit of 1024 descriptors.
class DescriptorFloodRootTest : public HelperServiceRootTest {
protected:
    static constexpr rlim_t softLimit = 1024;
    std::uint16_t sinkPort = 0;
    rlimit saved{};

    void configure(HelperSettings& limits) override {
        limits.maxConnections = 64;
        sinkPort = helpertest::freePort();
        limits.relayEndpoints = {{relayPort, sinkPort}};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = std::min<rlim_t>(softLimit, saved.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    void TearDown() override {
        HelperServiceRootTest::TearDown();
        if (saved.rlim_max != 0) // set only when the test ran
            ::setrlimit(RLIMIT_NOFILE, &saved);
    }
};

TEST_F(DescriptorFloodRootTest, ARelayFloodNeverTakesTheDescriptorsOfHostsRequests) {
    Client owner = client(alice);
    ASSERT_EQ(owner.apply(HostServiceRequest({"flood.test"}, true)), "ok");
    const auto flood = pythonFlood(bob, relayFloodScript,
                                   {std::to_string(relayPort), std::to_string(sinkPort), "400"});
    ASSERT_EQ(flood->line(), "ready");
    // The relay joins its pairs on its own thread: wait (bounded) until the
    // count stops changing.
    std::size_t held = openDescriptors();
    for (int steady = 0, round = 0; steady < 5 && round < 100; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::size_t now = openDescriptors();
        steady = now == held ? steady + 1 : 0;
        held = now;
    }
    std::cout << "[figure] descriptors held with 400 relayed connections: " << held << " of "
              << softLimit << std::endl;
    EXPECT_GT(held, softLimit / 2) << "the flood did not reach the relay";
    EXPECT_LE(held, softLimit - settings.maxConnections);

    EXPECT_EQ(owner.apply(HostServiceRequest({"flood.test", "more.test"}, true)), "ok");
    EXPECT_NE(hosts().find("more.test"), std::string::npos);
    // Another user is still accepted and answered.
    Client other = client(bob + 1);
    EXPECT_EQ(other.apply(HostServiceRequest({"other.test"}, false)),
              std::string("fail ") + ServiceCoordinator::ownedElsewhere);
    EXPECT_EQ(owner.apply(HostServiceRequest({}, false)), "ok");
}

class ReconnectFloodRootTest : public HelperServiceRootTest {
protected:
    void configure(HelperSettings& limits) override { limits.maxConnections = 64; }
};

TEST_F(ReconnectFloodRootTest, EightReconnectingClientsDelayAnotherUserOnlySlightly) {
    Client victim = client(alice);
    ASSERT_EQ(victim.ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
    std::vector<std::unique_ptr<helperflood::UserProcess>> floods;
    for (uid_t i = 0; i < 8; ++i) {
        floods.push_back(
            pythonFlood(bob + 10 + i, reconnectFloodScript, {settings.socketPath.string()}));
        ASSERT_EQ(floods.back()->line(), "started");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<double> milliseconds;
    for (int i = 0; i < 100; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(victim.ask("json {}"), std::string("fail ") + HostServiceDecodingError::missing);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    EXPECT_EQ(victim.apply(HostServiceRequest({"victim.test"}, false)), "ok");
    std::sort(milliseconds.begin(), milliseconds.end());
    const double median = milliseconds[milliseconds.size() / 2];
    const double p99 = milliseconds[98];
    std::cout << "[figure] victim request under 8 reconnect floods: median " << median
              << " ms, p99 " << p99 << " ms, max " << milliseconds.back() << " ms" << std::endl;
    // Bounds with room for a machine busy with other builds; without a bounded
    // accept batch the median alone is hundreds of milliseconds.
    EXPECT_LT(median, 25.0);
    EXPECT_LT(p99, 250.0);
}

// The helper program handed its socket as systemd hands it over, with the
// socket unit's backlog, at the production limits. Floods come from another
// program unless said otherwise.
class FloodRootTest : public HelperServiceRootTest {
protected:
    static constexpr auto bound = std::chrono::milliseconds(5000);
    // What the helper may grow by over its idle size beside a flood: a few
    // requests in flight and the bookkeeping of its connection slots.
    static constexpr long growthMarginKiB = 2 * 1024;
    std::filesystem::path other;
    std::unique_ptr<helperflood::ActivatedHelper> helper;
    // Connections the helper examined, counted in the helper's process.
    std::shared_ptr<helperflood::SharedCounter> examinedByHelper =
        std::make_shared<helperflood::SharedCounter>();

    void configure(HelperSettings& limits) override {
        const HelperSettings production;
        limits.maxConnections = production.maxConnections;
        limits.maxConnectionsPerUser = production.maxConnectionsPerUser;
        limits.signing = SigningInfo{"VSSRLNX001", true, std::nullopt};
        limits.beforeClientCheck = [counter = examinedByHelper] { counter->increment(); };
    }
    bool servesInProcess() const override { return false; }
    void SetUp() override {
        HelperServiceRootTest::SetUp();
        if (IsSkipped())
            return;
        other = program.parent_path() / "other";
        std::filesystem::copy_file(program, other);
        ::chmod(other.c_str(), 0755);
        helper =
            std::make_unique<helperflood::ActivatedHelper>(settings, helperflood::unitBacklog());
    }

    // Another user's requests, each on a fresh connection: all answered,
    // none later than the bound.
    void expectVictimAnsweredInTime() {
        constexpr int count = 20;
        const std::string request = HostServiceRequest({"victim.test"}, false).toJSON();
        helperflood::ModeProcess victim(
            program, alice,
            helperflood::requestsMode(settings.socketPath.string(), count, bound, request), 300);
        for (int i = 0; i < count; ++i) {
            const std::string line = victim.line(static_cast<int>(bound.count()) + 10000);
            const auto answer = helperflood::timedAnswer(line);
            ASSERT_TRUE(answer) << i << ": " << line;
            ASSERT_EQ(answer->answer, "ok") << i << " after " << answer->milliseconds << " ms";
            EXPECT_LE(answer->milliseconds, static_cast<double>(bound.count())) << i;
        }
        EXPECT_NE(hosts().find(ManagedHosts::section(alice, {"victim.test"})), std::string::npos);
    }
};

TEST_F(FloodRootTest, AnotherUserIsAnsweredBesideTenThousandThreadsConnectingInALoop) {
    helperflood::ModeProcess flood(
        other, bob, helperflood::threadsMode(settings.socketPath.string(), 10000, 120), 130);
    ASSERT_EQ(flood.line(60000), "started");
    expectVictimAnsweredInTime();
}

// The client program's threads are admitted up to their user's share, and
// each answered one makes room for the next: every turn costs an examination.
TEST_F(FloodRootTest, AnotherUserIsAnsweredBesideTenThousandThreadsOfTheClientProgram) {
    helperflood::ModeProcess flood(
        program, bob, helperflood::threadsMode(settings.socketPath.string(), 10000, 120), 130);
    ASSERT_EQ(flood.line(60000), "started");
    expectVictimAnsweredInTime();
}

TEST_F(FloodRootTest, AnotherUserIsAnsweredBesideEightReconnectLoops) {
    std::vector<std::unique_ptr<helperflood::ModeProcess>> floods;
    for (uid_t i = 0; i < 8; ++i) {
        floods.push_back(std::make_unique<helperflood::ModeProcess>(
            other, bob + 10 + i, helperflood::reconnectMode(settings.socketPath.string(), 120),
            130));
        ASSERT_EQ(floods.back()->line(30000), "started");
    }
    expectVictimAnsweredInTime();
}

// One user's processes of the client program each connect, send one valid
// request (two names in turn) and hang up at once; half of them pad it to
// the size limit. Each request the helper takes holds its slot until it has
// run, so the other user is answered beside them, the helper's memory stays
// bounded, and once the processes are gone no more than their share runs:
// a request of the other user sent then is answered after every request of
// theirs that the helper took, so the rewrites up to its answer are all
// that ran after the processes were gone.
TEST_F(FloodRootTest, ProcessesThatSendARequestAndHangUpKeepWithinTheirShare) {
    constexpr int processes = 1000;
    constexpr long memoryCeilingKiB = 64 * 1024;
    constexpr int victimRequests = 10;
    const std::string socket = settings.socketPath.string();
    helperflood::HostsRewrites rewrites(settings.hosts.folder);
    const std::string ask = HostServiceRequest({"victim.test"}, false).toJSON();
    {
        helperflood::ModeProcess first(program, alice,
                                       helperflood::requestsMode(socket, 1, bound, ask), 60);
        const auto answer = helperflood::timedAnswer(first.line(static_cast<int>(bound.count())));
        ASSERT_TRUE(answer && answer->answer == "ok") << "the helper does not answer";
    }
    const std::optional<long> idleKiB = helperflood::residentKiB(helper->pid());
    ASSERT_TRUE(idleKiB);

    const std::vector<std::string> requests = {
        HostServiceRequest({"flood-a.test"}, false).toJSON(),
        HostServiceRequest({"flood-b.test"}, false).toJSON()};
    std::vector<std::unique_ptr<helperflood::ModeProcess>> floods;
    for (const std::size_t size : {std::size_t{0}, HostServiceWire::maxRequestSize}) {
        floods.push_back(std::make_unique<helperflood::ModeProcess>(
            program, bob, helperflood::hangUpMode(socket, processes / 2, 120, size, requests),
            130));
        ASSERT_EQ(floods.back()->line(60000), "started");
    }
    const auto started = helperflood::Clock::now();
    // Past the ceiling the flood is ended: the memory would go on growing.
    std::optional<helperflood::PeakResidentMemory> memory(std::in_place, helper->pid(),
                                                          memoryCeilingKiB, [&floods] {
                                                              for (const auto& flood : floods)
                                                                  flood->terminate();
                                                          });

    // Answered, though perhaps refused while one of the flood's requests
    // owns the setup for a moment.
    int answered = 0;
    double slowest = 0;
    {
        helperflood::ModeProcess victim(
            program, alice, helperflood::requestsMode(socket, victimRequests, bound, ask), 300);
        for (; answered < victimRequests; ++answered) {
            const std::string line = victim.line(static_cast<int>(bound.count()) + 10000);
            const auto answer = helperflood::timedAnswer(line);
            if (!answer ||
                (answer->answer != "ok" &&
                 answer->answer != std::string("fail ") + ServiceCoordinator::ownedElsewhere)) {
                ADD_FAILURE() << "request " << answered << ": " << line;
                break; // the rest would wait as long
            }
            slowest = std::max(slowest, answer->milliseconds);
            EXPECT_LE(answer->milliseconds, static_cast<double>(bound.count())) << answered;
        }
    }
    // Long enough for a queue without bound to show in the memory.
    std::this_thread::sleep_until(started + std::chrono::seconds(5));
    const long duringFlood = rewrites.count();
    for (const auto& flood : floods)
        flood->terminate();
    for (const auto& flood : floods)
        EXPECT_EQ(flood->line(60000), "ended");
    // Every rewrite renamed before the processes were gone, however far the
    // watching thread lags behind.
    const std::optional<long> atEnd = rewrites.fence();
    ASSERT_TRUE(atEnd) << "the rewrites are not seen";
    // Refused when decoded, so it touches no file, but from the queue,
    // after every request taken before it. With requests of theirs queued
    // without bound it waits behind them all.
    helperflood::ModeProcess after(
        program, alice,
        helperflood::requestsMode(socket, 1, std::chrono::milliseconds(60000), "{}"), 90);
    const std::string afterLine = after.line(70000);
    const auto afterAnswer = helperflood::timedAnswer(afterLine);
    const std::optional<long> atAnswer = rewrites.fence();
    ASSERT_TRUE(atAnswer) << "the rewrites are not seen";
    const long afterEnd = *atAnswer - *atEnd;
    const long peakKiB = memory->peakKiB();
    memory.reset();

    std::cout << "[figure] " << processes
              << " processes sending a request and hanging up: " << answered << " of "
              << victimRequests << " victim requests answered, slowest " << slowest
              << " ms; helper VmRSS idle " << *idleKiB << " KiB, peak " << peakKiB << " KiB; "
              << duringFlood << " hosts rewrites seen during the flood, " << afterEnd
              << " after its processes were gone, until the next request's answer (" << afterLine
              << ")" << std::endl;
    EXPECT_EQ(answered, victimRequests);
    EXPECT_LE(peakKiB - *idleKiB, growthMarginKiB);
    EXPECT_TRUE(afterAnswer &&
                afterAnswer->answer == std::string("fail ") + HostServiceDecodingError::missing)
        << afterLine;
    EXPECT_LE(afterEnd, static_cast<long>(settings.maxConnectionsPerUser));
    // Still answering.
    helperflood::ModeProcess last(program, alice, helperflood::requestsMode(socket, 1, bound, ask),
                                  60);
    const auto answer =
        helperflood::timedAnswer(last.line(static_cast<int>(bound.count()) + 10000));
    EXPECT_TRUE(answer && answer->answer == "ok");
}

// While another writer holds the hosts file's lock, the queue waits in the
// request that came first. One user's threads of the client program are let
// in and hang up without ever sending a request, as fast as the helper
// takes them: they leave nothing in the queue, so the helper's memory stays
// at its idle size however many of them it takes while the wait lasts.
TEST_F(FloodRootTest, ConnectionsWithoutARequestLeaveNothingQueuedWhileTheQueueWaits) {
    // A task queued for each of them would add several MiB.
    constexpr long connections = 30000;
    // Past it the flood is ended: without bound it grows by megabytes a
    // second.
    constexpr long memoryCeilingKiB = 64 * 1024;
    const std::string socket = settings.socketPath.string();
    {
        helperflood::ModeProcess first(
            program, alice,
            helperflood::requestsMode(socket, 1, bound,
                                      HostServiceRequest({"victim.test"}, false).toJSON()),
            60);
        const auto answer = helperflood::timedAnswer(first.line(static_cast<int>(bound.count())));
        ASSERT_TRUE(answer && answer->answer == "ok") << "the helper does not answer";
    }
    const int lock = ::open(settings.hosts.lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Client waiting = client(alice);
    ASSERT_EQ(waiting.ask("post " + HostServiceRequest({"waiting.test"}, false).toJSON()), "sent");
    // Taken: the queue waits in it, and the helper for the next connection.
    ASSERT_EQ(waiting.ask("read"), "read");
    const std::optional<long> idleKiB = helperflood::residentKiB(helper->pid());
    ASSERT_TRUE(idleKiB);

    helperflood::ModeProcess flood(
        program, bob, helperflood::lingeringMode(socket, 2000, 120, std::chrono::milliseconds(2)),
        130);
    ASSERT_EQ(flood.line(60000), "started");
    const long examinedBefore = examinedByHelper->value();
    long taken = 0;
    long peakKiB = 0;
    {
        helperflood::PeakResidentMemory memory(helper->pid(), memoryCeilingKiB,
                                               [&flood] { flood.terminate(); });
        // Counted by the helper, however fast this machine lets it take them.
        const auto end = helperflood::Clock::now() + std::chrono::seconds(110);
        while ((taken = examinedByHelper->value() - examinedBefore) < connections &&
               helperflood::Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        peakKiB = std::max(memory.peakKiB(), helperflood::residentKiB(helper->pid()).value_or(0));
    }
    flood.terminate();
    ::close(lock);
    const std::string answer = waiting.ask("reply");
    std::cout << "[figure] " << taken
              << " connections let in without a request while the queue waited: helper VmRSS idle "
              << *idleKiB << " KiB, peak " << peakKiB << " KiB" << std::endl;
    EXPECT_GE(taken, connections) << "the flood did not reach the helper";
    EXPECT_LE(peakKiB - *idleKiB, growthMarginKiB);
    EXPECT_EQ(answer, "ok");
}

// While the queue waits in another user's request, a request whose peer
// hung up waits behind it. poll() would report that hang-up at once on
// every turn, whatever it is asked for, so the helper no longer polls such
// a connection: it sleeps until something else happens.
TEST_F(FloodRootTest, ARequestWhosePeerHungUpWaitsWithoutProcessorTime) {
    constexpr auto window = std::chrono::milliseconds(2000);
    const int lock = ::open(settings.hosts.lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Client holder = client(alice);
    ASSERT_EQ(holder.ask("post " + HostServiceRequest({"holder.test"}, false).toJSON()), "sent");
    ASSERT_EQ(holder.ask("read"), "read");
    Client gone = client(bob);
    ASSERT_EQ(gone.ask("post " + HostServiceRequest({"gone.test"}, false).toJSON()), "sent");
    ASSERT_EQ(gone.ask("read"), "read");
    ASSERT_EQ(gone.ask("hangup"), "no");
    // Connected after the hang-up, so the helper polls it together with
    // that hang-up or later: once its request is read, the hang-up was seen.
    Client witness = client(bob + 1);
    ASSERT_EQ(witness.ask("post " + HostServiceRequest({"witness.test"}, false).toJSON()), "sent");
    ASSERT_EQ(witness.ask("read"), "read");

    const auto processorBefore = helperflood::processorTime(helper->pid());
    const auto runnableBefore = helperflood::runnableTime(helper->pid());
    std::this_thread::sleep_for(window);
    const auto processorAfter = helperflood::processorTime(helper->pid());
    const auto runnableAfter = helperflood::runnableTime(helper->pid());
    ::close(lock);
    ASSERT_TRUE(processorBefore && runnableBefore && processorAfter && runnableAfter);
    const auto processor = *processorAfter - *processorBefore;
    const auto runnable = *runnableAfter - *runnableBefore;
    std::cout << "[figure] a request whose peer hung up waited " << window.count()
              << " ms: helper processor time " << processor.count() << " ms, its listener runnable "
              << runnable.count() << " ms" << std::endl;
    // A helper that spins takes a processor for the whole window when one
    // is free, and is runnable for all of it however busy the machine is.
    EXPECT_LE(processor, window / 10);
    EXPECT_LE(runnable, window / 4);

    EXPECT_EQ(holder.ask("reply"), "ok");
    // The holder's connection owns the setup now.
    EXPECT_EQ(witness.ask("reply"), std::string("fail ") + ServiceCoordinator::ownedElsewhere);
}

TEST_F(HelperServiceRootTest, RefusesAPeerInAnotherUserNamespace) {
    const passwd* account = ::getpwnam("vessora-test");
    if (!account || !std::filesystem::exists("/usr/bin/unshare") ||
        !std::filesystem::exists("/usr/bin/newuidmap"))
        GTEST_SKIP() << "user namespaces need the vessora-test account, unshare and newuidmap "
                        "(package uidmap)";
    const uid_t user = account->pw_uid;
    // One of the user's 65,536 subordinate uids, which would count as a user
    // of its own.
    Client nested(
        program, user, settings.socketPath,
        {"/usr/bin/unshare", "--user", "--map-auto", "--setuid", "5", "--setgid", "5", "--"});
    const std::string answer = nested.apply(HostServiceRequest({"nested.test"}, false));
    if (answer.starts_with("client ended"))
        GTEST_SKIP() << "user namespaces are off here (unshare --user --map-auto failed)";
    EXPECT_EQ(answer, "closed");
    EXPECT_EQ(hosts(), helpertest::baseHosts);
    // The same user outside a namespace is served.
    Client plain = client(user);
    EXPECT_EQ(plain.apply(HostServiceRequest({"nested.test"}, false)), "ok");
}

// Distinct valid names of the longest length.
std::vector<std::string> longestNames(std::size_t count) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        char index[8];
        std::snprintf(index, sizeof index, "%03zu", i);
        names.push_back(std::string(index) + std::string(60, 'a') + "." + std::string(63, 'b') +
                        "." + std::string(63, 'c') + "." + std::string(56, 'd') + ".test");
    }
    return names;
}

TEST_F(HelperServiceRootTest, OneUsersSectionLeavesTheFileSizeLimitToOthers) {
    const std::vector<std::string> names = longestNames(HostServiceRequest::maxHostnames + 1);
    ASSERT_EQ(names.front().size(), LocalHostname::maxLength);
    const std::vector<std::string> most(names.begin(), names.end() - 1);
    EXPECT_EQ(ManagedHosts::section(4294967295u, most).size(), ManagedHosts::maxSectionSize);

    // Foreign content that leaves room for two of the largest sections.
    std::string text = helpertest::baseHosts;
    const std::size_t foreign = HostsFile::maxSize - 2 * ManagedHosts::maxSectionSize;
    while (text.size() < foreign) {
        std::string line = "# kept by hand " + std::string(84, 'x') + "\n";
        line.resize(std::min(line.size(), foreign - text.size()));
        line.back() = '\n';
        text += line;
    }
    helpertest::writeFile(settings.hosts.hosts(), text, 0644);

    Client greedy = client(alice);
    EXPECT_EQ(greedy.apply(HostServiceRequest(names, false)),
              std::string("fail ") + HostServiceError::invalidConfiguration);
    EXPECT_EQ(greedy.apply(HostServiceRequest(most, false)), "ok");
    EXPECT_EQ(hosts().size(), foreign + ManagedHosts::section(alice, most).size());
    Client other = client(bob);
    EXPECT_EQ(other.apply(HostServiceRequest({"other.test"}, false)),
              std::string("fail ") + ServiceCoordinator::ownedElsewhere);
    greedy.quit();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Client again = client(bob);
    EXPECT_EQ(again.apply(HostServiceRequest({"other.test"}, false)), "ok");
}

TEST(HelperMainRootTest, RefusesToRunWithoutAUsableSignature) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    helpertest::TemporaryFolder folder;
    HelperSettings settings;
    settings.hosts.folder = folder.path();
    settings.socketPath = folder.path() / "run" / "host-service.sock";
    settings.clientProgram = "/usr/bin/true";
    settings.signing = std::nullopt;
    EXPECT_EQ(HelperMain::run(settings), HelperMain::refusedStatus);
    settings.signing = SigningInfo{"VSSRLNX001", false, std::nullopt};
    EXPECT_EQ(HelperMain::run(settings), HelperMain::refusedStatus);
    settings.signing = SigningInfo{"short", true, std::nullopt};
    EXPECT_EQ(HelperMain::run(settings), HelperMain::refusedStatus);
    EXPECT_FALSE(std::filesystem::exists(settings.socketPath));
}

} // namespace
} // namespace vessora
