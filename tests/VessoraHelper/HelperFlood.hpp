// The helper under a local user's flood, for the root tests and the
// benchmark: the helper program handed its socket the way systemd hands it
// over, floods of that socket (threads connecting in a loop, plain reconnect
// loops, processes that send a request and hang up) and another user's
// requests timed beside them, the helper's memory and its rewrites of the
// hosts file. The floods and the timed requests are modes of the calling
// program, started as other users and ended when their parent ends or their
// time is up.
#pragma once

#include "VessoraHelper/HelperMain.hpp"
#include "VessoraHostProtocol/HostServiceWire.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <limits.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vessora::helperflood {

using Clock = std::chrono::steady_clock;

inline constexpr const char* modeVariable = "VESSORA_HELPER_FLOOD";

// The socket unit as installed.
inline std::filesystem::path socketUnit() {
    return std::filesystem::path(VESSORA_SOURCE_DIR) / "VessoraHelper" / "systemd" /
           "vessora.host-service.socket";
}

// The backlog systemd gives the unit's socket: its Backlog=, or the kernel's
// somaxconn when there is none.
inline int unitBacklog(const std::filesystem::path& unit = socketUnit()) {
    std::ifstream file(unit);
    if (!file)
        throw std::runtime_error("cannot read " + unit.string());
    std::string line;
    std::optional<int> backlog;
    bool inSocket = false;
    while (std::getline(file, line)) {
        if (line.starts_with("["))
            inSocket = line == "[Socket]";
        else if (inSocket && line.starts_with("Backlog="))
            backlog = std::stoi(line.substr(8));
    }
    if (backlog)
        return *backlog;
    int somaxconn = 4096;
    std::ifstream("/proc/sys/net/core/somaxconn") >> somaxconn;
    return somaxconn;
}

inline sockaddr_un address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// A connection to `path`; connect() waits at most `timeout` (0: without
// end) for room in a full backlog. -1 when it fails.
inline int connectWithin(const sockaddr_un& to, std::chrono::milliseconds timeout) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const timeval limit{static_cast<time_t>(timeout.count() / 1000),
                        static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct FloodShared {
    sockaddr_un to;
    Clock::time_point end;
    // Without asking: how long each connection is kept before hanging up.
    std::chrono::milliseconds linger{0};
};

// Connects and hangs up again in a loop. `ask`: sends a request on each
// connection and keeps it until the helper answers or ends it (a second at
// most), so that every one is examined and the client program's admitted
// connections turn over.
inline void connectLoop(const FloodShared& shared, bool ask) {
    while (Clock::now() < shared.end) {
        // Waits for room in the backlog as long as it takes, ahead of later
        // connections; the process ends at its time even so.
        const int fd = connectWithin(shared.to, std::chrono::milliseconds(0));
        if (fd < 0)
            continue;
        if (ask && ::send(fd, "{}", 2, MSG_NOSIGNAL | MSG_DONTWAIT) == 2) {
            pollfd entry{fd, POLLIN, 0};
            ::poll(&entry, 1, 1000);
        } else if (!ask && shared.linger.count() > 0) {
            pollfd entry{fd, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(shared.linger.count()));
        }
        ::close(fd);
    }
}

inline void* askingLoop(void* shared) {
    connectLoop(*static_cast<const FloodShared*>(shared), true);
    return nullptr;
}

inline void* lingeringLoop(void* shared) {
    connectLoop(*static_cast<const FloodShared*>(shared), false);
    return nullptr;
}

// `threads` threads with small stacks, each connecting to `path` in a loop
// for `seconds` and asking on each connection, or (`linger` given) keeping
// it that long without asking. Prints "started" once every thread runs.
inline int threadFlood(const std::string& path, int threads, int seconds,
                       std::chrono::milliseconds linger = std::chrono::milliseconds(0)) {
    static FloodShared shared;
    shared.to = address(path);
    shared.end = Clock::now() + std::chrono::seconds(seconds);
    shared.linger = linger;
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setstacksize(&attributes, std::max<std::size_t>(PTHREAD_STACK_MIN, 64 * 1024));
    for (int i = 0; i < threads; ++i) {
        pthread_t thread;
        if (const int error = ::pthread_create(
                &thread, &attributes, linger.count() > 0 ? lingeringLoop : askingLoop, &shared)) {
            std::printf("failed after %d threads: %s\n", i, std::strerror(error));
            std::fflush(stdout);
            return 2;
        }
        ::pthread_detach(thread);
    }
    std::printf("started\n");
    std::fflush(stdout);
    std::this_thread::sleep_until(shared.end);
    return 0; // ends the threads, also those still waiting in connect()
}

// Connects to `path` and hangs up again, as fast as it can, for `seconds`.
inline int reconnectFlood(const std::string& path, int seconds) {
    FloodShared shared{address(path), Clock::now() + std::chrono::seconds(seconds)};
    std::printf("started\n");
    std::fflush(stdout);
    connectLoop(shared, false);
    return 0;
}

// `count` times: connects to `path` afresh, sends `request` and waits for
// the reply, all within `bound`. Prints one line each: the milliseconds it
// took and "ok", "fail <text>", "closed" or "timeout".
inline int timedRequests(const std::string& path, int count, std::chrono::milliseconds bound,
                         const std::string& request) {
    const sockaddr_un to = address(path);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const auto left = [&] {
            return std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                         start + bound - Clock::now())
                                         .count());
        };
        std::string answer = "timeout";
        const int fd = connectWithin(to, bound);
        if (fd >= 0) {
            try {
                HostServiceWire::sendMessage(fd, request);
                pollfd entry{fd, POLLIN, 0};
                if (::poll(&entry, 1, static_cast<int>(left())) == 1) {
                    const auto failure = HostServiceWire::receiveReply(fd);
                    answer = failure ? "fail " + *failure : "ok";
                }
            } catch (const std::exception&) {
                answer = "closed";
            }
            ::close(fd);
        }
        const double milliseconds =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%.3f %s\n", milliseconds, answer.c_str());
        std::fflush(stdout);
    }
    return 0;
}

// `processes` processes of the calling program (forked, so each runs it),
// each connecting to `path` in a loop, sending one of `requests` in turn,
// padded with blanks to `size` bytes, and hanging up at once without waiting
// for the reply. Prints "started" once every process runs; at its time or
// on SIGTERM it ends them all and prints "ended" once every one is gone.
inline int hangUpFlood(const std::string& path, int processes, int seconds, std::size_t size,
                       std::vector<std::string> requests) {
    for (std::string& request : requests)
        request.resize(std::max(request.size(), size), ' ');
    const sockaddr_un to = address(path);
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    sigset_t stop;
    ::sigemptyset(&stop);
    ::sigaddset(&stop, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop, nullptr);
    const pid_t parent = ::getpid();
    std::vector<pid_t> children;
    const auto endChildren = [&children] {
        for (const pid_t child : children)
            ::kill(child, SIGKILL);
        for (const pid_t child : children)
            ::waitpid(child, nullptr, 0);
    };
    for (int i = 0; i < processes; ++i) {
        const pid_t child = ::fork();
        if (child < 0) {
            std::printf("failed after %d processes: %s\n", i, std::strerror(errno));
            std::fflush(stdout);
            endChildren();
            return 2;
        }
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(0);
            ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
            for (std::size_t turn = static_cast<std::size_t>(i); Clock::now() < end; ++turn) {
                const int fd = connectWithin(to, std::chrono::milliseconds(0));
                if (fd < 0)
                    continue;
                const std::string& request = requests[turn % requests.size()];
                [[maybe_unused]] const ssize_t sent =
                    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                ::close(fd);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    std::printf("started\n");
    std::fflush(stdout);
    while (true) {
        const auto left = end - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        const auto whole = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec wait{
            static_cast<time_t>(whole.count()),
            static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(left - whole).count())};
        if (::sigtimedwait(&stop, nullptr, &wait) == SIGTERM)
            break;
    }
    endChildren();
    std::printf("ended\n");
    return 0;
}

inline std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, '\t'))
        parts.push_back(part);
    return parts;
}

// Runs the mode named by the variable, when set, and exits with its status.
inline void runModeIfAsked() {
    const char* mode = std::getenv(modeVariable);
    if (!mode)
        return;
    const std::vector<std::string> parts = fields(mode);
    int status = 3;
    if (parts.size() == 4 && parts[0] == "threads")
        status = threadFlood(parts[1], std::stoi(parts[2]), std::stoi(parts[3]));
    else if (parts.size() == 5 && parts[0] == "lingering")
        status = threadFlood(parts[1], std::stoi(parts[2]), std::stoi(parts[3]),
                             std::chrono::milliseconds(std::stoi(parts[4])));
    else if (parts.size() == 3 && parts[0] == "reconnect")
        status = reconnectFlood(parts[1], std::stoi(parts[2]));
    else if (parts.size() >= 7 && parts[0] == "hangups")
        status =
            hangUpFlood(parts[1], std::stoi(parts[2]), std::stoi(parts[3]), std::stoul(parts[4]),
                        std::vector<std::string>(parts.begin() + 5, parts.end()));
    else if (parts.size() == 5 && parts[0] == "requests")
        status = timedRequests(parts[1], std::stoi(parts[2]),
                               std::chrono::milliseconds(std::stoi(parts[3])), parts[4]);
    std::fflush(stdout);
    ::_exit(status);
}

inline std::string threadsMode(const std::string& path, int threads, int seconds) {
    return "threads\t" + path + "\t" + std::to_string(threads) + "\t" + std::to_string(seconds);
}

inline std::string lingeringMode(const std::string& path, int threads, int seconds,
                                 std::chrono::milliseconds linger) {
    return "lingering\t" + path + "\t" + std::to_string(threads) + "\t" + std::to_string(seconds) +
           "\t" + std::to_string(linger.count());
}

inline std::string reconnectMode(const std::string& path, int seconds) {
    return "reconnect\t" + path + "\t" + std::to_string(seconds);
}

// `requests` must hold no tab.
inline std::string hangUpMode(const std::string& path, int processes, int seconds, std::size_t size,
                              const std::vector<std::string>& requests) {
    std::string mode = "hangups\t" + path + "\t" + std::to_string(processes) + "\t" +
                       std::to_string(seconds) + "\t" + std::to_string(size);
    for (const std::string& request : requests)
        mode += "\t" + request;
    return mode;
}

inline std::string requestsMode(const std::string& path, int count, std::chrono::milliseconds bound,
                                const std::string& request) {
    return "requests\t" + path + "\t" + std::to_string(count) + "\t" +
           std::to_string(bound.count()) + "\t" + request;
}

// A process run under `uid` from `argv` (looked up in PATH) with
// `environment` (none: this process's), its standard output read line by
// line; killed when destroyed or when the creating thread ends, and after
// `seconds` at the latest.
class UserProcess {
public:
    UserProcess(uid_t uid, const std::vector<std::string>& argv,
                const std::vector<std::string>& environment, int seconds) {
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::system_error(errno, std::generic_category(), "fork");
        if (pid_ == 0) {
            ::dup2(output[1], 1);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                ::setresuid(uid, uid, uid) != 0)
                ::_exit(120);
            // After the change of user, which clears it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::alarm(static_cast<unsigned>(seconds));
            std::vector<char*> arguments;
            for (const std::string& argument : argv)
                arguments.push_back(const_cast<char*>(argument.c_str()));
            arguments.push_back(nullptr);
            std::vector<char*> variables;
            for (const std::string& variable : environment)
                variables.push_back(const_cast<char*>(variable.c_str()));
            variables.push_back(nullptr);
            ::execvpe(arguments.front(), arguments.data(),
                      environment.empty() ? environ : variables.data());
            ::_exit(121);
        }
        ::close(output[1]);
        fromProcess_ = output[0];
    }
    ~UserProcess() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ::close(fromProcess_);
    }
    UserProcess(const UserProcess&) = delete;
    UserProcess& operator=(const UserProcess&) = delete;

    // Asks it to end (SIGTERM).
    void terminate() { ::kill(pid_, SIGTERM); }

    // The next line it prints, or "timeout" after `milliseconds`.
    std::string line(int milliseconds = 30000) {
        std::string text;
        const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (true) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd entry{fromProcess_, POLLIN, 0};
            char c;
            if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) != 1 ||
                ::read(fromProcess_, &c, 1) != 1)
                return "timeout";
            if (c == '\n')
                return text;
            text += c;
        }
    }

private:
    pid_t pid_ = -1;
    int fromProcess_ = -1;
};

// `program` run under `uid` in one of the modes above.
class ModeProcess : public UserProcess {
public:
    ModeProcess(const std::filesystem::path& program, uid_t uid, const std::string& mode,
                int seconds)
        : UserProcess(uid, {program.string()}, {std::string(modeVariable) + "=" + mode}, seconds) {}
};

// One line of timedRequests: how long the request took and its answer.
struct TimedAnswer {
    double milliseconds = 0;
    std::string answer;
};

inline std::optional<TimedAnswer> timedAnswer(const std::string& line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return std::nullopt;
    try {
        return TimedAnswer{std::stod(line.substr(0, blank)), line.substr(blank + 1)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The helper program (HelperMain::run) in a child process, handed a socket
// at `settings.socketPath` as socket activation hands it: bound and
// listening with `backlog` before the helper starts. Killed when destroyed.
class ActivatedHelper {
public:
    ActivatedHelper(const HelperSettings& settings, int backlog) {
        const sockaddr_un at = address(settings.socketPath.string());
        std::filesystem::create_directories(settings.socketPath.parent_path());
        std::filesystem::remove(settings.socketPath);
        HostServiceWire::Socket listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!listener || ::bind(listener.fd(), reinterpret_cast<const sockaddr*>(&at), sizeof at) ||
            ::chmod(settings.socketPath.c_str(), 0666) != 0 ||
            ::listen(listener.fd(), backlog) != 0)
            throw std::system_error(errno, std::generic_category(), "activation socket");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::system_error(errno, std::generic_category(), "fork");
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::dup2(listener.fd(), 3) != 3)
                ::_exit(122);
            ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            ::setenv("LISTEN_FDS", "1", 1);
            ::_exit(HelperMain::run(settings));
        }
    }
    ~ActivatedHelper() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ActivatedHelper(const ActivatedHelper&) = delete;
    ActivatedHelper& operator=(const ActivatedHelper&) = delete;

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// The resident memory of process `pid` in KiB (VmRSS), or none once it is
// gone.
inline std::optional<long> residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return std::nullopt;
}

// The processor time process `pid` has used in all its threads (utime and
// stime of /proc/PID/stat), or none once it is gone.
inline std::optional<std::chrono::milliseconds> processorTime(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return std::nullopt;
    // Fields after the command name, which may hold blanks: state is field 3,
    // utime 14 and stime 15.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int at = 3; at <= 15 && fields >> field; ++at) {
        if (at >= 14)
            ticks += std::stol(field);
    }
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

// How long the main thread of process `pid` was runnable, on a processor or
// waiting for one (/proc/PID/task/PID/schedstat), or none once it is gone.
// Unlike processor time it does not shrink when other work takes the
// processors: a thread that never sleeps is runnable all the time.
inline std::optional<std::chrono::milliseconds> runnableTime(pid_t pid) {
    const std::string id = std::to_string(pid);
    std::ifstream file("/proc/" + id + "/task/" + id + "/schedstat");
    long long running = 0;
    long long waiting = 0;
    if (!(file >> running >> waiting))
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::nanoseconds(running + waiting));
}

// A counter in memory shared with the processes this one forks after it
// was made, such as an ActivatedHelper whose settings call increment().
class SharedCounter {
public:
    SharedCounter()
        : value_(static_cast<long*>(::mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE,
                                           MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {
        if (value_ == MAP_FAILED)
            throw std::system_error(errno, std::generic_category(), "mmap");
    }
    ~SharedCounter() { ::munmap(value_, sizeof(long)); }
    SharedCounter(const SharedCounter&) = delete;
    SharedCounter& operator=(const SharedCounter&) = delete;

    void increment() { ++std::atomic_ref<long>(*value_); }
    long value() const { return std::atomic_ref<long>(*value_).load(); }

private:
    // Zero from the start, as every anonymous mapping.
    long* value_;
};

// The highest resident memory of a process while this lives, sampled every
// 20 ms on a thread of its own. `beyond`, when given, is called once (on that
// thread) when the memory first passes `limitKiB`: a helper whose memory
// has no bound would take the machine's.
class PeakResidentMemory {
public:
    explicit PeakResidentMemory(pid_t pid, long limitKiB = 0, std::function<void()> beyond = {})
        : thread_([this, pid, limitKiB, beyond = std::move(beyond)] {
              std::unique_lock lock(mutex_);
              while (!stopping_) {
                  lock.unlock();
                  const std::optional<long> now = residentKiB(pid);
                  const bool passed = beyond && now && *now > limitKiB && peak_ <= limitKiB;
                  if (passed)
                      beyond();
                  lock.lock();
                  if (now)
                      peak_ = std::max(peak_, *now);
                  stopped_.wait_for(lock, std::chrono::milliseconds(20));
              }
          }) {}
    ~PeakResidentMemory() {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        stopped_.notify_all();
        thread_.join();
    }
    PeakResidentMemory(const PeakResidentMemory&) = delete;
    PeakResidentMemory& operator=(const PeakResidentMemory&) = delete;

    long peakKiB() {
        std::lock_guard guard(mutex_);
        return peak_;
    }

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    long peak_ = 0;
    std::thread thread_;
};

// Counts the rewrites of the hosts file in `folder`, on a thread of its own:
// each one renames a new file over it. The move from the staging name is
// watched too, since the kernel folds an event into an unread one just like
// it. The thread may lag behind the folder by any time on a busy machine:
// count() is what it has seen so far, fence() what was renamed before the
// call.
class HostsRewrites {
public:
    explicit HostsRewrites(const std::filesystem::path& folder)
        : folder_(folder), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0)
            throw std::system_error(errno, std::generic_category(), "inotify");
        thread_ = std::thread([this] { watch(); });
    }
    ~HostsRewrites() {
        stopping_ = true;
        thread_.join();
        ::close(fd_);
    }
    HostsRewrites(const HostsRewrites&) = delete;
    HostsRewrites& operator=(const HostsRewrites&) = delete;

    long count() {
        std::lock_guard guard(mutex_);
        return count_;
    }

    // The rewrites renamed before this call, once the thread has seen them
    // all: a marker renamed into the folder now comes after each of them in
    // the kernel's queue of events. None when the marker is not seen within
    // `bound`.
    std::optional<long> fence(std::chrono::milliseconds bound = std::chrono::milliseconds(30000)) {
        const std::string name = fencePrefix + std::to_string(++fences_);
        const std::filesystem::path staged = folder_ / ".rewrites-fence";
        const std::filesystem::path marker = folder_ / name;
        std::ofstream(staged).close();
        if (::rename(staged.c_str(), marker.c_str()) != 0)
            throw std::system_error(errno, std::generic_category(), "fence");
        std::unique_lock lock(mutex_);
        const bool seen = changed_.wait_for(lock, bound, [&] { return fenced_.contains(name); });
        lock.unlock();
        std::filesystem::remove(marker);
        if (!seen)
            return std::nullopt;
        lock.lock();
        return fenced_.at(name);
    }

private:
    static constexpr const char* fencePrefix = ".rewrites-fence-";

    void watch() {
        alignas(inotify_event) std::array<char, 64 * 1024> buffer;
        while (!stopping_) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 100) != 1)
                continue;
            ssize_t length;
            while ((length = ::read(fd_, buffer.data(), buffer.size())) > 0) {
                std::lock_guard guard(mutex_);
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                    if ((event->mask & IN_MOVED_TO) && event->len > 0) {
                        const std::string name = event->name;
                        if (name == "hosts")
                            ++count_;
                        else if (name.starts_with(fencePrefix))
                            fenced_[name] = count_;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
                changed_.notify_all();
            }
        }
    }

    const std::filesystem::path folder_;
    int fd_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    long count_ = 0;
    int fences_ = 0;
    // The count at each marker, by its name.
    std::map<std::string, long> fenced_;
    std::thread thread_;
};

} // namespace vessora::helperflood
