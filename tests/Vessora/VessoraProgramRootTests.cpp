// The program never runs as root: it says so and exits with an error.
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace vessora {
namespace {

TEST(VessoraProgramRootTest, RefusesToRunAsRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    QProcess program;
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QString::fromStdString(
        (std::filesystem::path(VESSORA_BINARY_DIR) / "bin" / "Vessora").string()));
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(program.readAll().toStdString().find("Vessora does not run as root."),
              std::string::npos);
}

} // namespace
} // namespace vessora
