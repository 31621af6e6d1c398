// The main window's close button while a sheet is open, on a real X display
// with the close request a window manager sends: a private Xvfb (it picks
// a free display itself) runs CloseButtonProgram, whose own test says what
// it saw.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

TEST(CloseButtonTest, TheCloseButtonReachesTheQuitWhileASheetIsOpenOnARealDisplay) {
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd 1: the display number arrives on standard output once the
    // server accepts clients.
    server.start("/usr/bin/Xvfb",
                 {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForStarted(10000)) << server.errorString().toStdString();
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(30000))
        number += server.readAllStandardOutput();
    ASSERT_TRUE(number.endsWith('\n')) << server.readAllStandardError().toStdString();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":" + QString::fromLatin1(number.trimmed()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("XAUTHORITY");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(VESSORA_CLOSE_BUTTON_PROGRAM, {});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();
    const bool finished = program.waitForFinished(120000);
    const std::string output = program.readAll().toStdString();
    if (!finished)
        program.kill();
    server.terminate();
    server.waitForFinished(10000);
    ASSERT_TRUE(finished) << output;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(program.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

} // namespace
} // namespace vessora
