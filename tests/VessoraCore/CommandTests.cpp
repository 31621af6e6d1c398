#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/ChildProcess.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/LogText.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vessora;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const std::filesystem::path sh = "/bin/sh";
using Clock = std::chrono::steady_clock;

class CommandTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        // Private inputs and temporary logs go to TMPDIR: watch a folder of our own.
        if (const char* previous = std::getenv("TMPDIR"))
            previousTmp = previous;
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
    }
    void TearDown() override {
        if (previousTmp)
            ::setenv("TMPDIR", previousTmp->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        UserDefaults::setStandard(nullptr);
    }

    std::vector<std::string> tmpEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TemporaryFolder tmp{"vessora-command-tmp"};
    TemporaryFolder work{"vessora-command"};
    std::optional<std::string> previousTmp;
};

std::string fileText(const std::filesystem::path& file) {
    return PrivateFile::read(file);
}

// Gone or a zombie nobody has reaped yet: either way it no longer runs.
bool hasEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    auto state = line.find(") ");
    return state != std::string::npos && (line[state + 2] == 'Z' || line[state + 2] == 'X');
}

bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    while (!hasEnded(pid)) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

pid_t readPid(const std::filesystem::path& file) {
    auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        std::ifstream in(file);
        pid_t pid = 0;
        if (in >> pid && pid > 0)
            return pid;
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

TEST_F(CommandTests, StatusAndOutputOfAFinishedCommand) {
    auto result = Command::run(sh, {"-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "out\nerr\n");

    // A signal that ends the command is its status.
    EXPECT_EQ(Command::run(sh, {"-c", "kill -KILL $$"}).status, SIGKILL);
    EXPECT_TRUE(tmpEntries().empty()); // temporary logs are gone
}

TEST_F(CommandTests, TimeOutTerminatesTheCommand) {
    auto started = Clock::now();
    try {
        Command::run("/bin/sleep", {"30"}, {.timeout = 0.2});
        FAIL() << "no time-out";
    } catch (const VessoraError& error) {
        EXPECT_THAT(error.what(), StartsWith("Timed out: sleep. Log: " + tmp.path().string()));
    }
    EXPECT_LT(Clock::now() - started, 3s);
    EXPECT_TRUE(tmpEntries().empty()); // the named temporary log was removed all the same
}

TEST_F(CommandTests, TimeOutKillsWhatIgnoresTerminationAndEveryProgramItStarted) {
    auto log = work.path() / "logs" / "run.log";
    auto pidFile = work.path() / "children";
    // The shell dies on SIGTERM; its child ignores SIGTERM, as a server
    // bootstrap started by a script would.
    std::string script = "(trap '' TERM; exec sleep 30) & echo $! > '" + pidFile.string() +
                         "'; trap '' TERM; echo waiting; wait";
    auto started = Clock::now();
    EXPECT_THROW(Command::run(sh, {"-c", script}, {.log = log, .timeout = 0.3}), VessoraError);
    auto elapsed = Clock::now() - started;
    EXPECT_GE(elapsed, 750ms); // 0.3 s, then 0.5 s after SIGTERM
    EXPECT_LT(elapsed, 3s);

    pid_t grandchild = readPid(pidFile);
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(endsWithin(grandchild, 2000ms)) << "the started program survived the time-out";
    EXPECT_EQ(fileText(log), "waiting\n"); // the caller's log stays
}

TEST_F(CommandTests, OutputLimitTakesTheLastBytes) {
    std::string text;
    for (int i = 0; text.size() < 10000; ++i)
        text += std::to_string(i) + ",";
    text.resize(10000);

    auto limited = Command::run("/bin/cat", {}, {.input = text, .outputLimit = 3000});
    EXPECT_EQ(limited.output, text.substr(7000));
    EXPECT_TRUE(limited.outputTruncated);
    const auto exact = Command::run("/bin/cat", {}, {.input = text, .outputLimit = 10000});
    EXPECT_EQ(exact.output, text);
    EXPECT_FALSE(exact.outputTruncated);
    EXPECT_FALSE(Command::run("/bin/cat", {}, {.input = text}).outputTruncated);
    EXPECT_EQ(
        Command::run("/bin/cat", {}, {.input = text.substr(0, 100), .outputLimit = 3000}).output,
        text.substr(0, 100));
    EXPECT_EQ(Command::run("/bin/cat", {}, {.input = text, .outputLimit = 0}).output, "");
}

TEST_F(CommandTests, InvalidUTF8InTheLog) {
    // "é" is C3 A9: a limit of 3 cuts through it.
    auto cut = Command::run("/bin/cat", {},
                            {.input = "ab\xC3\xA9"
                                      "cd",
                             .outputLimit = 3});
    EXPECT_EQ(cut.output, "\xEF\xBF\xBD"
                          "cd");
    auto whole = Command::run("/bin/cat", {},
                              {.input = "ab\xC3\xA9"
                                        "cd",
                               .outputLimit = 100});
    EXPECT_EQ(whole.output, "ab\xC3\xA9"
                            "cd");

    std::string invalid = "ok \xFF\xF0\x9F\x98 done";
    EXPECT_EQ(Command::run("/bin/cat", {}, {.input = invalid}).output, "");
    EXPECT_EQ(Command::run("/bin/cat", {}, {.input = invalid, .outputLimit = 1000}).output,
              "ok \xEF\xBF\xBD\xEF\xBF\xBD done");
}

TEST_F(CommandTests, CallerLogIsAppendedToAndKeepsItsMode) {
    auto log = work.path() / "new" / "folder" / "run.log";
    Command::run(sh, {"-c", "echo first"}, {.log = log});
    auto second = Command::run(sh, {"-c", "echo second"}, {.log = log});
    // The output is this run's only; the log keeps both.
    EXPECT_EQ(second.output, "second\n");
    EXPECT_EQ(fileText(log), "first\nsecond\n");
    struct stat info {};
    ASSERT_EQ(::stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(log.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    auto shared = work.path() / "shared.log";
    PrivateFile::writeWithMode(shared, "earlier\n", 0644);
    EXPECT_EQ(Command::run(sh, {"-c", "echo later"}, {.log = shared, .outputLimit = 6}).output,
              "later\n");
    EXPECT_EQ(fileText(shared), "earlier\nlater\n");
    ASSERT_EQ(::stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

// A shared log holds earlier runs' errors: a failure reports only what this
// run wrote, also under an output limit, and a log cut shorter meanwhile
// counts from its start.
TEST_F(CommandTests, TheOutputIsWhatThisRunAddedToASharedLog) {
    auto shared = work.path() / "install.log";
    PrivateFile::write(shared, "Error: php@8.4: not available from Debian's packages\n");
    auto failed = Command::run(sh, {"-c", "echo 'Error: mariadb@10.11: refused' >&2; exit 1"},
                               {.log = shared, .outputLimit = 3000});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.output, "Error: mariadb@10.11: refused\n");
    EXPECT_FALSE(failed.outputTruncated);
    auto limited = Command::run(sh, {"-c", "printf 0123456789"}, {.log = shared, .outputLimit = 4});
    EXPECT_EQ(limited.output, "6789");
    EXPECT_TRUE(limited.outputTruncated);

    // A run that adds nothing returns nothing of what the log held: a start
    // at the log's size is an empty tail, not the whole file.
    const std::string before = fileText(shared);
    auto silent = Command::run(sh, {"-c", "exit 3"}, {.log = shared, .outputLimit = 3000});
    EXPECT_EQ(silent.status, 3);
    EXPECT_EQ(silent.output, "");
    EXPECT_FALSE(silent.outputTruncated);
    EXPECT_EQ(Command::run(sh, {"-c", "exit 3"}, {.log = shared}).output, "");
    EXPECT_EQ(fileText(shared), before);
    EXPECT_EQ(LogText::tail(shared, 3000, before.size()), "");
    EXPECT_EQ(LogText::whole(shared, before.size()), "");
    EXPECT_EQ(LogText::tail(shared, 4, before.size() - 1), "9");
    // A start past the end: the log was started anew, all of it counts.
    EXPECT_EQ(LogText::tail(shared, 4, before.size() + 1), "6789");

    // Emptied by the program itself: what is there now is all this run's.
    auto cut =
        Command::run(sh, {"-c", ": > '" + shared.string() + "'; echo anew"}, {.log = shared});
    EXPECT_EQ(cut.output, "anew\n");
}

TEST_F(CommandTests, PrivateInputLeavesNoFileBehind) {
    // While the command runs the temporary folder holds nothing, and its
    // standard input is an unlinked 0600 file holding the secret.
    std::string script = "ls -A '" + tmp.path().string() +
                         "'; stat -L -c %a /proc/self/fd/0; readlink /proc/self/fd/0; cat";
    auto result = Command::run(sh, {"-c", script},
                               {.log = work.path() / "input.log", .input = "top secret\n"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.output, StartsWith("600\n" + tmp.path().string() + "/"));
    EXPECT_THAT(result.output, HasSubstr(" (deleted)\ntop secret\n"));
    EXPECT_TRUE(tmpEntries().empty());

    auto file = work.path() / "input.txt";
    PrivateFile::write(file, "from the file");
    auto both = Command::run("/bin/cat", {}, {.input = "from the bytes", .inputFile = file});
    EXPECT_EQ(both.output, "from the file");
    EXPECT_TRUE(std::filesystem::exists(file)); // a caller's input file is never deleted

    // Without input the command reads the null device.
    EXPECT_EQ(Command::run("/bin/cat", {}).output, "");
    EXPECT_THROW(Command::run("/bin/cat", {}, {.inputFile = work.path() / "missing"}),
                 std::filesystem::filesystem_error);
}

TEST_F(CommandTests, ChildStartsCleanInItsOwnProcessGroup) {
    // Descriptors and signal state of ours that must not reach a child.
    int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    auto previousHandler = std::signal(SIGUSR1, SIG_IGN);

    auto result =
        Command::run(sh, {"-c", "ls /proc/$$/fd; grep -E '^(SigBlk|SigIgn)' /proc/self/status; "
                                "cut -d' ' -f5 /proc/$$/stat; echo $$"});

    std::signal(SIGUSR1, previousHandler);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(leaked);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    std::istringstream lines(result.output);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    ASSERT_EQ(all.size(), 7u) << result.output;
    EXPECT_EQ((std::vector<std::string>(all.begin(), all.begin() + 3)),
              (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(all[3], "SigBlk:\t0000000000000000");
    // glibc itself ignores its two internal signals (32, 33) in the child.
    ASSERT_THAT(all[4], StartsWith("SigIgn:\t"));
    EXPECT_EQ(std::stoull(all[4].substr(8), nullptr, 16) & 0x7fffffffu, 0u) << all[4];
    EXPECT_EQ(all[5], all[6]); // process group id == its own pid
}

TEST_F(CommandTests, EnvironmentOfTheChild) {
    ::setenv("VESSORA_INHERITED", "from the parent", 1);
    ::setenv("VESSORA_REPLACED", "old", 1);
    auto result = Command::run(
        sh, {"-c", "echo \"$PATH|$VESSORA_INHERITED|$VESSORA_REPLACED|$VESSORA_ADDED\""},
        {.environment = {{"VESSORA_REPLACED", "new"}, {"VESSORA_ADDED", "added"}}});
    EXPECT_EQ(result.output, std::string(ChildProcess::childPath) + "|from the parent|new|added\n");
    EXPECT_EQ(ChildProcess::childPath, "/home/linuxbrew/.linuxbrew/bin:/home/linuxbrew/.linuxbrew/"
                                       "sbin:/usr/bin:/bin:/usr/sbin:/sbin");

    auto overridden =
        Command::run(sh, {"-c", "echo \"$PATH\""}, {.environment = {{"PATH", "/opt/custom/bin"}}});
    EXPECT_EQ(overridden.output, "/opt/custom/bin\n");
    ::unsetenv("VESSORA_INHERITED");
    ::unsetenv("VESSORA_REPLACED");
}

TEST_F(CommandTests, MissingExecutableIsALaunchError) {
    try {
        Command::run(work.path() / "no-such-program", {});
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_THAT(error.what(), HasSubstr("no-such-program"));
    }
    EXPECT_TRUE(tmpEntries().empty());

    auto notExecutable = work.path() / "plain.txt";
    PrivateFile::write(notExecutable, "#!/bin/sh\n");
    EXPECT_THROW(Command::run(notExecutable, {}, {.input = "secret"}), std::system_error);
    EXPECT_TRUE(tmpEntries().empty()); // neither log nor input remains
}

TEST_F(CommandTests, FailureMessageKeepsTheLastCharacters) {
    CommandResult result{2, std::string(5000, 'x') + "e\xCC\x81nd"}; // "e" + combining acute
    auto tail = result.outputTail(4);
    EXPECT_EQ(tail, "xe\xCC\x81nd");
    EXPECT_EQ(result.outputTail().size(), 4000u - 3u + std::string("e\xCC\x81nd").size());
    EXPECT_EQ(CommandResult({1, "short"}).failureMessage("mariadb"), "mariadb failed (1):\nshort");
}

} // namespace
