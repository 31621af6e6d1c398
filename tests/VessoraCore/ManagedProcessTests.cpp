#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/ChildProcess.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace vessora;
using namespace std::chrono_literals;

namespace {

const std::filesystem::path sh = "/bin/sh";

bool becomes(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3000ms) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool hasEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    auto state = line.find(") ");
    return state != std::string::npos && (line[state + 2] == 'Z' || line[state + 2] == 'X');
}

pid_t readPid(const std::filesystem::path& file) {
    pid_t pid = 0;
    becomes([&] {
        std::ifstream in(file);
        return static_cast<bool>(in >> pid) && pid > 0;
    });
    return pid;
}

class ManagedProcessTests : public ::testing::Test {
protected:
    TemporaryFolder folder{"vessora-managed"};
};

TEST_F(ManagedProcessTests, RunsUntilSignalledAndReportsTheSignal) {
    auto log = folder.path() / "server.log";
    PrivateFile::writeWithMode(log, "earlier run\n", 0644);
    ManagedProcess server("nginx", sh, {"-c", "echo started; echo oops >&2; exec sleep 30"}, log);
    EXPECT_EQ(server.service(), "nginx");
    EXPECT_GT(server.pid(), 0);
    EXPECT_TRUE(server.isRunning());
    EXPECT_EQ(server.terminationStatus(), 0);
    ASSERT_TRUE(becomes([&] { return PrivateFile::read(log).size() > 12; }));

    EXPECT_TRUE(server.terminate());
    ASSERT_TRUE(becomes([&] { return !server.isRunning(); }));
    EXPECT_EQ(server.terminationStatus(), SIGTERM);
    EXPECT_FALSE(server.signal(SIGKILL)); // reaped: its pid is no longer ours to signal
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(PrivateFile::read(log), "earlier run\nstarted\noops\n");
    struct stat info {};
    ASSERT_EQ(::stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u); // an existing log keeps its mode
}

TEST_F(ManagedProcessTests, ExitCodeAndNewPrivateLog) {
    auto log = folder.path() / "exit.log";
    ManagedProcess server("MariaDB", sh, {"-c", "exit 7"}, log);
    ASSERT_TRUE(becomes([&] { return !server.isRunning(); }));
    EXPECT_EQ(server.terminationStatus(), 7);
    struct stat info {};
    ASSERT_EQ(::stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ManagedProcessTests, WaitForExitWakesWhenTheProcessEnds) {
    ManagedProcess server("PHP", "/bin/sleep", {"30"}, folder.path() / "php.log");
    ASSERT_GE(server.exitDescriptor(), 0);
    EXPECT_FALSE(server.waitForExit(50ms)) << "still running";

    // Ends after a short while: the wait returns then, not after its limit.
    ManagedProcess quick("nginx", sh, {"-c", "sleep 0.1"}, folder.path() / "nginx.log");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(quick.waitForExit(30s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    EXPECT_FALSE(quick.isRunning());
    EXPECT_EQ(quick.terminationStatus(), 0);
    EXPECT_TRUE(quick.waitForExit(0ms)) << "once ended, at once";

    server.signal(SIGKILL);
    EXPECT_TRUE(server.waitForExit(30s));
    EXPECT_EQ(server.terminationStatus(), SIGKILL);
}

TEST_F(ManagedProcessTests, SignalReachesTheWorkersItStarted) {
    auto pidFile = folder.path() / "worker.pid";
    // A master that ignores SIGTERM, with a worker of its own.
    std::string script =
        "trap '' TERM; sleep 30 & echo $! > '" + pidFile.string() + "'; while :; do sleep 1; done";
    ManagedProcess server("PHP", sh, {"-c", script}, folder.path() / "php.log");
    pid_t worker = readPid(pidFile);
    ASSERT_GT(worker, 0);
    EXPECT_TRUE(server.signal(SIGKILL));
    ASSERT_TRUE(becomes([&] { return !server.isRunning(); }));
    EXPECT_EQ(server.terminationStatus(), SIGKILL);
    EXPECT_TRUE(becomes([&] { return hasEnded(worker); })) << "worker kept running";
}

TEST_F(ManagedProcessTests, DestructionLeavesTheProcessRunning) {
    pid_t pid = 0;
    {
        ManagedProcess server("Apache", "/bin/sleep", {"30"}, folder.path() / "apache.log");
        pid = server.pid();
    }
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(hasEnded(pid));
    // Clean up as its owner would.
    ::kill(pid, SIGKILL);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
}

TEST_F(ManagedProcessTests, EnvironmentAndStandardInput) {
    auto log = folder.path() / "env.log";
    ManagedProcess server("PHP", sh, {"-c", "echo \"$PATH|$PHP_INI_SCAN_DIR\"; cat"}, log,
                          {{"PHP_INI_SCAN_DIR", "/env/config/ini.d"}});
    ASSERT_TRUE(becomes([&] { return !server.isRunning(); })); // stdin is /dev/null
    EXPECT_EQ(server.terminationStatus(), 0);
    EXPECT_EQ(PrivateFile::read(log),
              std::string(ChildProcess::childPath) + "|/env/config/ini.d\n");
}

TEST_F(ManagedProcessTests, LaunchFailures) {
    auto log = folder.path() / "missing.log";
    EXPECT_THROW(ManagedProcess("nginx", folder.path() / "no-such-server", {}, log),
                 std::system_error);
    EXPECT_TRUE(std::filesystem::exists(log)); // the created log stays

    EXPECT_THROW(ManagedProcess("nginx", "/bin/sleep", {"30"}, folder.path() / "no" / "log"),
                 std::filesystem::filesystem_error);
}

} // namespace
