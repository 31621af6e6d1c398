#include "VessoraHelper/ClientCheck.hpp"
#include "VessoraHelper/HelperMain.hpp"
#include "VessoraHelper/ListenSocket.hpp"

#include "HelperFlood.hpp"
#include "HelperTestSupport.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

namespace vessora {
namespace {

// Runs `body` in a child process; its result becomes the exit status.
int inChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ListenSocketTest, TakesOnlyAListeningSequentialPacketSocketFromActivation) {
    ::unsetenv("LISTEN_PID");
    EXPECT_FALSE(ListenSocket::activated());

    // Descriptor 3 is the passed socket: replace it in a child only.
    const auto activatedWith = [](int type, bool listen) {
        return inChild([type, listen] {
            const int fd = ::socket(AF_UNIX, type, 0);
            if (listen) {
                sockaddr_un address{};
                address.sun_family = AF_UNIX; // autobind to an abstract name
                if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(sa_family_t)) != 0 ||
                    ::listen(fd, 4) != 0)
                    return 10;
            }
            if (::dup2(fd, 3) != 3)
                return 11;
            ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            ::setenv("LISTEN_FDS", "1", 1);
            try {
                const auto socket = ListenSocket::activated();
                if (std::getenv("LISTEN_PID") || std::getenv("LISTEN_FDS"))
                    return 12;
                return socket && socket->fd() == 3 ? 0 : 1;
            } catch (const std::runtime_error&) {
                return 2;
            }
        });
    };
    EXPECT_EQ(activatedWith(SOCK_SEQPACKET, true), 0);
    EXPECT_EQ(activatedWith(SOCK_STREAM, true), 2);
    EXPECT_EQ(activatedWith(SOCK_SEQPACKET, false), 2);

    // Variables meant for another process are ignored.
    EXPECT_EQ(inChild([] {
                  ::setenv("LISTEN_PID", std::to_string(::getppid()).c_str(), 1);
                  ::setenv("LISTEN_FDS", "1", 1);
                  return ListenSocket::activated() ? 1 : 0;
              }),
              0);
}

TEST(ListenSocketTest, BindsItsOwnSocketInAFolderOnlyItsOwnerChanges) {
    helpertest::TemporaryFolder folder;
    const auto path = folder.path() / "run" / "host-service.sock";
    {
        HostServiceWire::Socket listener = ListenSocket::bound(path, ::geteuid());
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0666u);
        ::stat(path.parent_path().c_str(), &status);
        EXPECT_EQ(status.st_mode & 0777, 0755u);
        HostServiceWire::Socket client = HostServiceWire::connect(path.string());
        EXPECT_TRUE(client);
    }
    // A stale socket from an earlier run is replaced.
    EXPECT_NO_THROW(ListenSocket::bound(path, ::geteuid()));

    EXPECT_THROW(ListenSocket::bound(path, ::geteuid() + 1), std::runtime_error);
    ::chmod(path.parent_path().c_str(), 0775);
    EXPECT_THROW(ListenSocket::bound(path, ::geteuid()), std::runtime_error);
    ::chmod(path.parent_path().c_str(), 0755);
    std::filesystem::remove(path);
    helpertest::writeFile(path, "not a socket");
    EXPECT_THROW(ListenSocket::bound(path, ::geteuid()), std::runtime_error);
    EXPECT_EQ(helpertest::readFile(path), "not a socket");
}

// How many connections `listener` takes before a non-blocking connect finds
// its queue full; none of them is accepted.
int queuedConnections(int listener) {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    std::vector<HostServiceWire::Socket> queued;
    while (queued.size() < 10000) {
        HostServiceWire::Socket client(
            ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (::connect(client.fd(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
            return errno == EAGAIN ? static_cast<int>(queued.size()) : -1;
        queued.push_back(std::move(client));
    }
    return -1;
}

// A connection waits behind every one queued before it, so the queue is
// short however the socket was made: the socket unit asks systemd for the
// helper's backlog, and the helper sets it again on the socket it is handed.
TEST(ListenSocketTest, QueuesTheSameFewConnectionsWhoeverMadeTheSocket) {
    EXPECT_EQ(helperflood::unitBacklog(), ListenSocket::backlog)
        << "Backlog= of " << helperflood::socketUnit();
    EXPECT_LE(ListenSocket::backlog, 128);

    // The kernel takes one more than the backlog.
    helpertest::TemporaryFolder folder;
    HostServiceWire::Socket own =
        ListenSocket::bound(folder.path() / "run" / "own.sock", ::geteuid());
    const int ownQueue = queuedConnections(own.fd());
    EXPECT_GE(ownQueue, ListenSocket::backlog);
    EXPECT_LE(ownQueue, ListenSocket::backlog + 1);

    // Handed a socket with a long queue, as systemd without Backlog= would.
    const auto handed = [&folder, ownQueue] {
        return inChild([&folder, ownQueue] {
            const auto path = (folder.path() / "handed.sock").string();
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(fd, 4 * ListenSocket::backlog) != 0 || ::dup2(fd, 3) != 3)
                return 10;
            ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            ::setenv("LISTEN_FDS", "1", 1);
            const auto socket = ListenSocket::activated();
            return socket && queuedConnections(socket->fd()) == ownQueue ? 0 : 1;
        });
    };
    EXPECT_EQ(handed(), 0);
}

TEST(ClientCheckTest, ReadsStartTimesAndRefusesAnUninstalledPeer) {
    const auto own = ClientCheck::startTime(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(ClientCheck::startTime(::getpid()), own);
    EXPECT_FALSE(ClientCheck::startTime(-1));

    // The peer is this test program: accepted only when it runs as a user
    // other than root from a root-owned file nobody else may write.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    HostServiceWire::Socket a(pair[0]);
    HostServiceWire::Socket b(pair[1]);
    const auto self = std::filesystem::canonical("/proc/self/exe");
    struct stat file {};
    ASSERT_EQ(::stat(self.c_str(), &file), 0);
    const bool installedLike = file.st_uid == 0 && (file.st_mode & 022) == 0;
    const std::optional<std::uint32_t> expected = ::geteuid() != 0 && installedLike
                                                      ? std::optional<std::uint32_t>(::geteuid())
                                                      : std::nullopt;
    EXPECT_EQ(ClientCheck::acceptedUser(a.fd(), self), expected);
    EXPECT_EQ(ClientCheck::acceptedUser(a.fd(), "/usr/bin/true"), std::nullopt);
}

// A peer that ends between the open and the read of its stat file is
// refused, and the helper goes on: the read fails with "No such process".
TEST(ClientCheckTest, APeerGoneBeforeItsStatFileIsReadIsRefused) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ifstream stat(ClientCheck::statFile(child));
    ASSERT_TRUE(stat.is_open());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::optional<std::uint64_t> read;
    EXPECT_NO_THROW(read = ClientCheck::startTimeIn(stat));
    EXPECT_FALSE(read);
    // And once it is gone, before the file is opened.
    EXPECT_NO_THROW(read = ClientCheck::startTime(child));
    EXPECT_FALSE(read);
}

// Field 22 of a stat file under /proc, read another way: the fields after
// the command name's closing parenthesis, split at blanks, begin with field 3.
std::optional<std::uint64_t> startTimeByHand(const std::string& stat) {
    const std::string text = helpertest::readFile(stat);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> after((std::istream_iterator<std::string>(fields)),
                                   std::istream_iterator<std::string>());
    if (after.size() < 20)
        return std::nullopt;
    return std::stoull(after[22 - 3]);
}

// The same from the whole-process /proc/PID/stat.
std::optional<std::uint64_t> startTimeByHand(pid_t pid) {
    return startTimeByHand("/proc/" + std::to_string(pid) + "/stat");
}

// A child process that runs `prepare`, then waits until it is destroyed.
class WaitingChild {
public:
    explicit WaitingChild(const std::function<void()>& prepare) {
        int ready[2];
        int release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]); // or the read below never sees the end
            prepare();
            char byte = 'x';
            [[maybe_unused]] ssize_t io = ::write(ready[1], &byte, 1);
            io = ::read(release[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        ready_ = ready[0];
        release_ = release[1];
        pollfd entry{ready_, POLLIN, 0};
        char byte;
        prepared_ = ::poll(&entry, 1, 20000) == 1 && ::read(ready_, &byte, 1) == 1;
    }
    ~WaitingChild() {
        ::close(release_);
        ::close(ready_);
        ::waitpid(pid_, nullptr, 0);
    }
    WaitingChild(const WaitingChild&) = delete;
    WaitingChild& operator=(const WaitingChild&) = delete;

    pid_t pid() const { return pid_; }
    // True once it ran `prepare` (within 20 s).
    bool prepared() const { return prepared_; }

private:
    pid_t pid_ = -1;
    int ready_ = -1;
    int release_ = -1;
    bool prepared_ = false;
};

TEST(ClientCheckTest, StartTimeIsTheProcessStartOfProcStat) {
    const auto own = ClientCheck::startTime(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(own, startTimeByHand(::getpid()));
    EXPECT_GT(*own, 0u);

    // A later process, whose name has blanks and parentheses in it.
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // a few clock ticks later
    const WaitingChild child([] { ::prctl(PR_SET_NAME, "a) b (c) d", 0, 0, 0); });
    ASSERT_TRUE(child.prepared());
    const auto childStart = ClientCheck::startTime(child.pid());
    ASSERT_TRUE(childStart);
    EXPECT_EQ(childStart, startTimeByHand(child.pid()));
    EXPECT_GT(*childStart, *own);
}

// Opens what a check opens, and notes each path.
struct OpenedFiles {
    std::vector<std::string> paths;
    ClientCheck::OpenFile open() {
        return [this](const std::filesystem::path& path) {
            paths.push_back(path.string());
            return ClientCheck::openFile(path);
        };
    }
};

// The thread-group leader's own stat file, which holds the process's start
// without summing over its threads.
std::string leaderStat(pid_t pid) {
    const std::string id = std::to_string(pid);
    return "/proc/" + id + "/task/" + id + "/stat";
}

void* waitForever(void*) {
    ::pause();
    return nullptr;
}

// The start time is read without the whole-process status, which walks
// every thread; it must still be the process's start, not a thread's.
TEST(ClientCheckTest, TheStartTimeOfAManyThreadedPeerIsItsProcessStart) {
    constexpr int threads = 300;
    const WaitingChild child([] {
        // Threads that start some clock ticks after their process.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_attr_t attributes;
        ::pthread_attr_init(&attributes);
        ::pthread_attr_setstacksize(&attributes, 64 * 1024);
        for (int i = 0; i < threads; ++i) {
            pthread_t thread;
            if (::pthread_create(&thread, &attributes, waitForever, nullptr) != 0)
                ::_exit(1);
        }
    });
    ASSERT_TRUE(child.prepared());
    OpenedFiles opened;
    const auto read = ClientCheck::startTime(child.pid(), opened.open());
    EXPECT_EQ(opened.paths, std::vector{leaderStat(child.pid())});
    const auto wholeProcess = startTimeByHand(child.pid());
    std::vector<std::uint64_t> threadStarts;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(child.pid()) + "/task")) {
        if (const auto start = startTimeByHand((task.path() / "stat").string()))
            threadStarts.push_back(*start);
    }
    ASSERT_EQ(threadStarts.size(), threads + 1u);
    ASSERT_TRUE(wholeProcess);
    EXPECT_EQ(read, wholeProcess);
    // Its threads started later: a read of one of theirs would differ.
    EXPECT_GT(*std::max_element(threadStarts.begin(), threadStarts.end()), *wholeProcess);
}

// A whole check reads the peer's start time twice, before and after the
// other checks, each time from the leader's own stat file and from no other
// file; a peer running another program costs no read at all. The peer runs
// a root-owned program nobody else may write, as the installed one is.
TEST(ClientCheckTest, AWholeCheckReadsOnlyTheLeadersOwnStatFile) {
    const std::filesystem::path program = std::filesystem::canonical("/usr/bin/sleep");
    struct stat file {};
    ASSERT_EQ(::stat(program.c_str(), &file), 0);
    if (file.st_uid != 0 || (file.st_mode & 022) != 0)
        GTEST_SKIP() << program << " is not installed as root's";
    // posix_spawn returns once the child has run the program.
    pid_t peer = -1;
    char name[] = "sleep";
    char seconds[] = "60";
    char* arguments[] = {name, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&peer, program.c_str(), nullptr, nullptr, arguments, environ), 0);
    ASSERT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(peer) + "/exe"), program);

    // Any user but root; the check reads the process, not the socket.
    const ClientCheck::Peer client{1000, peer};
    OpenedFiles opened;
    EXPECT_TRUE(ClientCheck::accepted(client, program, opened.open()));
    EXPECT_EQ(opened.paths, (std::vector{leaderStat(peer), leaderStat(peer)}));
    opened.paths.clear();
    EXPECT_FALSE(ClientCheck::accepted(client, "/usr/bin/true", opened.open()));
    EXPECT_TRUE(opened.paths.empty());

    ::kill(peer, SIGKILL);
    ::waitpid(peer, nullptr, 0);
}

TEST(HelperMainTest, RefusesToRunWithoutRoot) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "runs as root";
    HelperSettings settings = HelperSettings::installed();
    EXPECT_EQ(HelperMain::run(settings), HelperMain::refusedStatus);
}

} // namespace
} // namespace vessora
