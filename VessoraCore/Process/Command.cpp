#include "VessoraCore/Process/Command.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/ChildProcess.hpp"
#include "VessoraCore/Process/LogText.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace vessora::Command {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void failFile(const char* what, const std::filesystem::path& file, int error) {
    throw std::filesystem::filesystem_error(what, file,
                                            std::error_code(error, std::generic_category()));
}

std::filesystem::path temporaryFile() {
    return std::filesystem::temp_directory_path() / Uuid::random();
}

// Removes the runner's own log when the call ends, however it ends.
class TemporaryLog {
public:
    TemporaryLog() = default;
    TemporaryLog(const TemporaryLog&) = delete;
    TemporaryLog& operator=(const TemporaryLog&) = delete;
    ~TemporaryLog() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    void own(std::filesystem::path path) { path_ = std::move(path); }

private:
    std::filesystem::path path_;
};

// The child until it is reaped: an early way out kills its group and reaps
// it, so no program outlives a failed call.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ <= 0)
            return;
        ::kill(-pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    // Looks without reaping: an unreaped child keeps its pid and group id
    // ours, so signalling the group stays safe.
    bool hasExited(const std::filesystem::path& executable) {
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
                return info.si_pid == pid_;
            if (errno != EINTR)
                lost(executable);
        }
    }

    void signalGroup(int signal) { ::kill(-pid_, signal); }

    int reap(const std::filesystem::path& executable) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
            if (errno != EINTR)
                lost(executable);
        }
        pid_ = -1;
        return ChildProcess::terminationStatus(status);
    }

private:
    [[noreturn]] void lost(const std::filesystem::path& executable) {
        int error = errno;
        pid_ = -1; // somebody else reaped it: its pid may be reused
        throw std::system_error(error, std::generic_category(),
                                "Could not wait for " + executable.string());
    }

    pid_t pid_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

UniqueFd privateInput(std::string_view bytes) {
    auto path = temporaryFile();
    UniqueFd writer(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!writer)
        throw VessoraError(L10n::text("Could not prepare private command input."));
    bool written = writeAll(writer.get(), bytes);
    UniqueFd reader(written ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    // The bytes stay reachable only through the open handle.
    if (::unlink(path.c_str()) != 0)
        failFile("Could not remove the private command input", path, errno);
    if (!reader)
        throw VessoraError(L10n::text("Could not prepare private command input."));
    return reader;
}

UniqueFd standardInput(const CommandOptions& options) {
    if (options.inputFile) {
        UniqueFd fd(::open(options.inputFile->c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd)
            failFile("Could not open the command input", *options.inputFile, errno);
        return fd;
    }
    if (options.input)
        return privateInput(*options.input);
    UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!fd)
        failFile("Could not open", "/dev/null", errno);
    return fd;
}

Clock::duration timeLimit(double seconds) {
    // NaN and absurd values wait for a very long time rather than overflow.
    if (!(seconds < 1e9))
        seconds = 1e9;
    seconds = std::max(seconds, 0.0);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

CommandResult run(const std::filesystem::path& executable,
                  const std::vector<std::string>& arguments, const CommandOptions& options) {
    const bool temporary = !options.log;
    const std::filesystem::path logPath = temporary ? temporaryFile() : *options.log;
    TemporaryLog temporaryLog;

    UniqueFd input = standardInput(options);
    if (!temporary && logPath.has_parent_path())
        PrivateFile::createDirectories(logPath.parent_path());

    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (temporary ? O_EXCL : 0);
    UniqueFd log(::open(logPath.c_str(), flags, 0600));
    if (!log)
        failFile("Could not open the command log", logPath, errno);
    if (temporary)
        temporaryLog.own(logPath);
    // A shared log holds earlier runs; the output is only what this run adds.
    struct stat before {};
    if (::fstat(log.get(), &before) != 0)
        failFile("Could not open the command log", logPath, errno);
    const auto start = static_cast<std::uintmax_t>(before.st_size);

    const pid_t pid =
        ChildProcess::launch(executable, arguments, ChildProcess::environment(options.environment),
                             input.get(), log.get());
    Child child(pid);
    // Wakes the moment the program ends rather than on a sleeping schedule.
    const UniqueFd exited = ChildProcess::exitDescriptor(pid);

    const auto deadline = Clock::now() + timeLimit(options.timeout);
    while (!child.hasExited(executable)) {
        auto now = Clock::now();
        if (now >= deadline) {
            child.signalGroup(SIGTERM);
            std::this_thread::sleep_for(500ms);
            // Also reaches what the program started, even if it has exited.
            child.signalGroup(SIGKILL);
            child.reap(executable);
            throw VessoraError(L10n::text("Timed out: %@. Log: %@",
                                          {executable.filename().string(), logPath.string()}));
        }
        // Readable but not yet reapable should not happen; never spin on it.
        if (ChildProcess::waitForExit(exited, deadline - now) && !child.hasExited(executable))
            std::this_thread::sleep_for(1ms);
    }

    CommandResult result;
    result.status = child.reap(executable);
    result.output = options.outputLimit ? LogText::tailSince(logPath, start, *options.outputLimit)
                                        : LogText::wholeSince(logPath, start);
    struct stat written {};
    if (options.outputLimit && ::fstat(log.get(), &written) == 0) {
        const auto size = static_cast<std::uintmax_t>(written.st_size);
        result.outputTruncated = (size < start ? size : size - start) > *options.outputLimit;
    }
    return result;
}

} // namespace vessora::Command
