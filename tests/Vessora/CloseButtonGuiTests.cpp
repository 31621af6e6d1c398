// The main window's close button while a sheet is open, on a real X display
// with the close request a window manager sends: a private Xvfb (it picks
// a free display itself) runs one of CloseButtonProgram's tests, which says
// what it saw.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

// Runs one of the program's tests on a display of its own and returns what
// it printed when it does not pass.
::testing::AssertionResult passesOnADisplay(const QString& test) {
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd 1: the display number arrives on standard output once the
    // server accepts clients.
    server.start("/usr/bin/Xvfb",
                 {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    if (!server.waitForStarted(10000))
        return ::testing::AssertionFailure() << server.errorString().toStdString();
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(30000))
        number += server.readAllStandardOutput();
    if (!number.endsWith('\n'))
        return ::testing::AssertionFailure() << server.readAllStandardError().toStdString();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":" + QString::fromLatin1(number.trimmed()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("XAUTHORITY");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(VESSORA_CLOSE_BUTTON_PROGRAM, {"--gtest_filter=CloseButtonTest." + test});
    if (!program.waitForStarted(10000)) {
        server.terminate();
        server.waitForFinished(10000);
        return ::testing::AssertionFailure() << program.errorString().toStdString();
    }
    const bool finished = program.waitForFinished(120000);
    const std::string output = program.readAll().toStdString();
    if (!finished) {
        program.kill();
        program.waitForFinished(10000);
    }
    server.terminate();
    server.waitForFinished(10000);
    if (!finished || program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0 ||
        output.find("[  PASSED  ] 1 test.") == std::string::npos)
        return ::testing::AssertionFailure() << output;
    return ::testing::AssertionSuccess();
}

TEST(CloseButtonTest, TheCloseButtonReachesTheQuitWhileASheetIsOpenOnARealDisplay) {
    EXPECT_TRUE(passesOnADisplay("TheCloseButtonAsksForTheQuitWhileASheetIsOpenAndAnActionRuns"));
}

TEST(CloseButtonTest, OtherWindowManagerMessagesLeaveTheProgramRunningOnARealDisplay) {
    EXPECT_TRUE(passesOnADisplay("OnlyTheMainWindowsCloseRequestAsksForTheQuit"));
}

} // namespace
} // namespace vessora
