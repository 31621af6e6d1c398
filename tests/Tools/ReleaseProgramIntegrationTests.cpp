// The program as the run command builds it (tools/release-build.cmake, the
// Debian-backed stand-in's brew path compiled in), started under xvfb-run
// the way a desktop session starts it, on a private data root: it maps a
// window titled "Vessora" whose class matches the desktop entry, and a
// SIGTERM ends it cleanly with nothing of it left running.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// The display xvfb-run chose, with its authority file.
struct Display {
    std::string name;
    std::string authority;

    CommandResult run(const std::string& program, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"-display", name});
        return Command::run(program, arguments, {.environment = {{"XAUTHORITY", authority}}});
    }
};

// The mapped top-level windows named `title` (Qt also names its unmapped
// helper windows after the application).
std::vector<std::string> shownWindowsTitled(const Display& display, const std::string& title) {
    const CommandResult tree = display.run("/usr/bin/xwininfo", {"-root", "-tree"});
    std::vector<std::string> ids;
    const std::regex line("^\\s*(0x[0-9a-f]+) \"" + title + "\":");
    std::istringstream lines(tree.output);
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        if (!std::regex_search(text, match, line))
            continue;
        const CommandResult state = display.run("/usr/bin/xwininfo", {"-id", match.str(1)});
        if (state.output.find("Map State: IsViewable") != std::string::npos)
            ids.push_back(match.str(1));
    }
    return ids;
}

// Processes of this user still running the program or naming the private
// folder (servers the program started would), as "pid command line".
std::vector<std::string> leftOver(const fs::path& program, const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream file(entry.path() / "cmdline");
        std::string commandLine((std::istreambuf_iterator<char>(file)), {});
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        std::error_code unreadable;
        const fs::path executable = fs::read_symlink(entry.path() / "exe", unreadable);
        if (executable == program || commandLine.find(folder.string()) != std::string::npos)
            found.push_back(pid + " " + commandLine);
    }
    return found;
}

// xvfb-run and everything in its process group (Xvfb, the program) end
// with the test, also when it fails half-way.
struct VirtualSession {
    std::optional<ManagedProcess> process;
    ~VirtualSession() {
        if (process && process->isRunning()) {
            process->signal(SIGKILL);
            process->waitForExit(10s);
        }
    }
};

TEST(ReleaseProgramTest, ShowsItsWindowOnADisplayAndQuitsOnSigtermLeavingNothingRunning) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "the program refuses root";
    const fs::path program = VESSORA_RELEASE_PROGRAM;
    ASSERT_TRUE(fs::exists(program)) << program;

    // The stand-in's prefixes where the build expects them, laid out afresh
    // as the run command does.
    const fs::path brewRoot = VESSORA_RELEASE_BREW_ROOT;
    fs::remove_all(brewRoot);
    const CommandResult prefixes =
        Command::run(fs::path(VESSORA_SOURCE_DIR) / "tools/build-brew-prefixes.py",
                     {brewRoot.string()}, {.timeout = 300});
    ASSERT_EQ(prefixes.status, 0) << prefixes.output;

    // Its own home, data and settings: never the user's. No update check
    // goes out from a test.
    TemporaryFolder home{"vessora-display"};
    const fs::path dataRoot = home.path() / "data" / "Vessora";
    fs::create_directories(home.path() / "config" / "Vessora");
    PrivateFile::write(home.path() / "config" / "Vessora" / "defaults.json",
                       R"({"Vessora.automaticUpdateChecks": false})");
    // Tells the test which display xvfb-run chose, its authority file and
    // the program's pid, then becomes the program.
    const fs::path started = home.path() / "started";
    const fs::path launcher = home.path() / "launch.sh";
    PrivateFile::write(launcher, "echo \"$DISPLAY $XAUTHORITY $$\" > '" + started.string() +
                                     ".new' && mv '" + started.string() + ".new' '" +
                                     started.string() + "' && exec '" + program.string() + "'\n");

    VirtualSession session;
    const fs::path log = home.path() / "session.log";
    session.process.emplace(
        "xvfb-run", "/usr/bin/xvfb-run",
        std::vector<std::string>{"--auto-servernum", "--error-file=" + log.string(),
                                 "--server-args=-screen 0 1280x800x24 -nolisten tcp", "/bin/sh",
                                 launcher.string()},
        log,
        std::map<std::string, std::string>{{"HOME", home.path().string()},
                                           {"XDG_DATA_HOME", (home.path() / "data").string()},
                                           {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                           {"XDG_CACHE_HOME", (home.path() / "cache").string()},
                                           {"QT_QPA_PLATFORM", "xcb"}});
    const auto sessionLog = [&] { return fs::exists(log) ? PrivateFile::read(log) : ""; };

    ASSERT_TRUE(waitFor([&] { return fs::exists(started); }, 60s)) << sessionLog();
    std::istringstream startedLine(PrivateFile::read(started));
    Display display;
    pid_t pid = 0;
    startedLine >> display.name >> display.authority >> pid;
    ASSERT_THAT(display.name, ::testing::StartsWith(":"));
    ASSERT_GT(pid, 0);

    std::vector<std::string> windows;
    ASSERT_TRUE(waitFor(
        [&] {
            windows = shownWindowsTitled(display, "Vessora");
            return !windows.empty();
        },
        60s))
        << sessionLog();
    ASSERT_EQ(windows.size(), 1u);
    // The desktop entry's StartupWMClass finds the window by its class.
    const CommandResult windowClass =
        display.run("/usr/bin/xprop", {"-id", windows.front(), "WM_CLASS"});
    EXPECT_EQ(windowClass.output, "WM_CLASS(STRING) = \"Vessora\", \"Vessora\"\n");
    // The engine opened the private data root.
    EXPECT_TRUE(waitFor([&] { return fs::exists(dataRoot / "profiles.json"); }, 30s))
        << sessionLog();
    EXPECT_TRUE(session.process->isRunning()) << sessionLog();

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_TRUE(session.process->waitForExit(60s)) << sessionLog();
    // xvfb-run hands on the program's status: a clean quit.
    EXPECT_EQ(session.process->terminationStatus(), 0) << sessionLog();
    // Nothing of the session is left: not Xvfb in xvfb-run's process group,
    // not the program, not a server it started.
    EXPECT_TRUE(
        waitFor([&] { return ::kill(-session.process->pid(), 0) == -1 && errno == ESRCH; }, 10s));
    EXPECT_THAT(leftOver(program, home.path()), ::testing::IsEmpty());
    fs::remove_all(StackEngine::socketDirectoryFor(dataRoot));
}

} // namespace
} // namespace vessora
