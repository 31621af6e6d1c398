// The built program itself: it starts, opens its data root, and quits
// cleanly when the session asks it to (a logout, Ctrl+C in its terminal, a
// closed terminal).
#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class VessoraProgramTest : public ::testing::TestWithParam<int> {};

TEST_P(VessoraProgramTest, StartsAndQuitsCleanlyOnASessionSignal) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "the program refuses root";
    TemporaryFolder home{"vessora-program"};
    // Its own home, data and configuration folders: never the user's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home.path() / "data").string()));
    environment.insert("XDG_CONFIG_HOME",
                       QString::fromStdString((home.path() / "config").string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("VESSORA_PREVIEW_ROOT");
    // No update check over the network from a test.
    fs::create_directories(home.path() / "config" / "Vessora");
    std::ofstream(home.path() / "config" / "Vessora" / "defaults.json")
        << R"({"Vessora.automaticUpdateChecks": false})";

    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(
        QString::fromStdString((fs::path(VESSORA_BINARY_DIR) / "bin" / "Vessora").string()));
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();

    // The engine has opened the data root once the records are written.
    const fs::path records = home.path() / "data" / "Vessora" / "profiles.json";
    EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(records); }, 20000))
        << program.readAll().toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);
    // Let the monitor run a while before the quit.
    QTest::qWait(500);

    ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), GetParam()), 0);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAll().toStdString();
    EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    std::filesystem::remove_all(StackEngine::socketDirectoryFor(records.parent_path()));
}

INSTANTIATE_TEST_SUITE_P(Signals, VessoraProgramTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& tested) {
                             return std::string(tested.param == SIGTERM  ? "Terminate"
                                                : tested.param == SIGINT ? "Interrupt"
                                                                         : "Hangup");
                         });

} // namespace
} // namespace vessora
