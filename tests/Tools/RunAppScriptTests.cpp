// The run command's checks, which must stop it before anything is installed
// or built. The script runs in a clean environment whose PATH starts with
// fakes: `id` answers for the user the test plays (root or not), and every
// program that would install or build records its call and fails.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <pwd.h>

using namespace vessora;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

// An unprivileged account every Debian system has.
const std::string someone = "nobody";

struct ScriptRun {
    int status = 0;
    std::string output;
    std::string calls; // one line per faked program that was run
};

class RunAppScriptTests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(::getpwnam(someone.c_str()), nullptr);
        fs::create_directory(fakes());
        fake("id", "case \"$*\" in\n"
                   "-u) echo \"$FAKE_UID\" ;;\n"
                   "-un) echo \"$FAKE_USER\" ;;\n"
                   "*) exec /usr/bin/id \"$@\" ;;\n"
                   "esac\n");
        for (const char* program :
             {"sudo", "runuser", "apt-get", "dpkg-query", "debconf-set-selections", "cmake",
              "ninja", "python3", "systemctl", "service"})
            fake(program, "echo \"$(basename \"$0\") $*\" >> \"$FAKE_CALLS\"\nexit 97\n");
    }

    fs::path fakes() const { return folder.path() / "bin"; }

    void fake(const std::string& name, const std::string& body) const {
        PrivateFile::write(fakes() / name, "#!/bin/sh\n" + body);
        fs::permissions(fakes() / name, fs::perms(0755));
    }

    // Runs the script as root (uid 0) or as `someone`, with only the given
    // variables besides PATH, HOME and the fakes' own.
    ScriptRun run(bool asRoot, const std::map<std::string, std::string>& variables,
                  const std::vector<std::string>& arguments = {}) const {
        const fs::path calls = folder.path() / "calls";
        std::vector<std::string> command{"-i",
                                         "PATH=" + fakes().string() + ":/usr/bin:/bin",
                                         "HOME=" + folder.path().string(),
                                         "FAKE_CALLS=" + calls.string(),
                                         asRoot ? "FAKE_UID=0" : "FAKE_UID=65534",
                                         asRoot ? "FAKE_USER=root" : "FAKE_USER=" + someone};
        for (const auto& [name, value] : variables)
            command.push_back(name + "=" + value);
        command.push_back("/bin/bash");
        command.push_back((fs::path(VESSORA_SOURCE_DIR) / "tools/run-app.sh").string());
        command.insert(command.end(), arguments.begin(), arguments.end());
        const CommandResult result = Command::run("/usr/bin/env", command, {.timeout = 30});
        ScriptRun outcome{result.status, result.output, ""};
        if (fs::exists(calls))
            outcome.calls = PrivateFile::read(calls);
        return outcome;
    }

    // A refusal: status 1, one sentence on one line, nothing run.
    static void expectRefusal(const ScriptRun& outcome, const std::string& about) {
        EXPECT_EQ(outcome.status, 1) << outcome.output;
        EXPECT_THAT(outcome.output, HasSubstr(about));
        EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 1)
            << outcome.output;
        EXPECT_TRUE(outcome.output.ends_with(".\n")) << outcome.output;
        EXPECT_EQ(outcome.calls, "");
    }

    TemporaryFolder folder{"vessora-run-app"};
};

TEST_F(RunAppScriptTests, WithoutADisplayItStopsAtOnce) {
    const std::string display = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    expectRefusal(run(false, {}), display);
    expectRefusal(run(false, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}), display);
    expectRefusal(run(true, {{"SUDO_USER", someone}}), display);
    // Not even the dry run passes without one.
    expectRefusal(run(false, {}, {"--checks-only"}), display);
}

TEST_F(RunAppScriptTests, RootWithoutAUserToRunAsStopsAtOnce) {
    const std::map<std::string, std::string> display{{"DISPLAY", ":0"}};
    const std::string noUser = "Vessora does not run as root and no user was named to run it";
    expectRefusal(run(true, display), noUser);
    auto fromRoot = display;
    fromRoot["SUDO_USER"] = "root"; // sudo called by root itself
    expectRefusal(run(true, fromRoot), noUser);

    auto named = display;
    named["VESSORA_USER"] = "root";
    expectRefusal(run(true, named), "Vessora does not run as root: set VESSORA_USER");
    named["VESSORA_USER"] = "no-such-vessora-user";
    expectRefusal(run(true, named), "There is no user named no-such-vessora-user");

    // Without root only one's own user can be named.
    named["VESSORA_USER"] = "root";
    expectRefusal(run(false, named), "Only root can start Vessora for another user (root)");
}

TEST_F(RunAppScriptTests, WithADisplayAndAUserTheChecksPass) {
    const std::string ready = "Ready to install, build and start Vessora for " + someone + ".\n";
    for (const auto& variables : std::vector<std::map<std::string, std::string>>{
             {{"DISPLAY", ":0"}}, {{"WAYLAND_DISPLAY", "wayland-0"}}}) {
        const ScriptRun own = run(false, variables, {"--checks-only"});
        EXPECT_EQ(own.status, 0) << own.output;
        EXPECT_EQ(own.output, ready);
        EXPECT_EQ(own.calls, "");
    }
    for (const auto& variables : std::vector<std::map<std::string, std::string>>{
             {{"DISPLAY", ":0"}, {"SUDO_USER", someone}},
             {{"DISPLAY", ":0"}, {"SUDO_USER", "root"}, {"VESSORA_USER", someone}}}) {
        const ScriptRun root = run(true, variables, {"--checks-only"});
        EXPECT_EQ(root.status, 0) << root.output;
        EXPECT_EQ(root.output, ready);
        EXPECT_EQ(root.calls, "");
    }
}

TEST_F(RunAppScriptTests, UnknownArgumentsAreRefusedBeforeAnythingRuns) {
    const ScriptRun outcome = run(false, {{"DISPLAY", ":0"}}, {"--install-only"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.output, "Usage: bash tools/run-app.sh [--checks-only]\n");
    EXPECT_EQ(outcome.calls, "");
}

} // namespace
