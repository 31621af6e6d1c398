// The status bar through its widgets: the indicator and the activity text
// while idle, during a package reload and during an action; stop-all; the
// error of a failed action; and texts that follow the interface language.
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>

namespace vessora {
namespace {

class StatusBarTest : public MainWindowTest {
protected:
    bool busyShown() { return find("busyIndicator")->isVisible(); }
    std::string activity() { return labelText("activityText"); }
    std::string tooltip() { return find("activityText")->toolTip().toStdString(); }
    bool enabled(const char* name) { return find(name)->isEnabled(); }

    static StackStatus running() {
        return StackStatus{true, "Running", {{"MariaDB", 1}, {"PHP", 2}, {"nginx", 3}}};
    }
};

TEST_F(StatusBarTest, IdleWithNothingRunning) {
    startMonitor();
    window();
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(find("idleIcon")->isVisible());
    EXPECT_EQ(activity(), "Ready");
    EXPECT_EQ(buttonText("refreshPackagesButton"), "Refresh packages");
    EXPECT_EQ(buttonText("stopAllButton"), "Stop all");
    EXPECT_TRUE(enabled("refreshPackagesButton"));
    EXPECT_FALSE(enabled("stopAllButton"));
}

TEST_F(StatusBarTest, PackageReloadShowsCheckingWithTheActivityAsTooltip) {
    startMonitor();
    window();
    engine->hold("installations");
    click("refreshPackagesButton");
    ASSERT_TRUE(waitUntilHeld("installations"));
    EXPECT_TRUE(busyShown());
    EXPECT_EQ(activity(), "Checking packages…");
    EXPECT_EQ(tooltip(), "Ready");
    EXPECT_FALSE(enabled("refreshPackagesButton"));
    // Not an action: busy and the error stay untouched.
    EXPECT_FALSE(model().busy());
    engine->release("installations");
    ASSERT_TRUE(waitFor([&] { return !model().refreshingPackages(); }));
    EXPECT_FALSE(busyShown());
    EXPECT_EQ(activity(), "Ready");
    EXPECT_TRUE(enabled("refreshPackagesButton"));
}

TEST_F(StatusBarTest, StopAllRunsThroughTheModelAndShowsItsActivity) {
    engine->setStatus("studio", running());
    startMonitor();
    window();
    ASSERT_TRUE(enabled("stopAllButton"));
    engine->hold("stopAll");
    click("stopAllButton");
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    EXPECT_TRUE(busyShown());
    EXPECT_EQ(activity(), "Stopping all environments…");
    EXPECT_FALSE(enabled("stopAllButton"));
    EXPECT_FALSE(enabled("refreshPackagesButton"));
    // The package reload that ends the action shows the action's own text.
    engine->hold("installations");
    engine->release("stopAll");
    ASSERT_TRUE(waitUntilHeld("installations"));
    EXPECT_TRUE(model().busy() && model().refreshingPackages());
    EXPECT_TRUE(busyShown());
    EXPECT_EQ(activity(), "Done");
    engine->release("installations");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(activity(), "Done");
    EXPECT_EQ(engine->calls("stopAll"), 1);
    // Stopped now: nothing left to stop.
    EXPECT_FALSE(enabled("stopAllButton"));
    // The reload after the action asked for packages too.
    EXPECT_GE(engine->calls("installations"), 2);
}

TEST_F(StatusBarTest, FailedStopAllShowsTheErrorAndTheFailureText) {
    engine->setStatus("studio", running());
    startMonitor();
    window();
    engine->fail("stopAll", "Some services could not be stopped.");
    click("stopAllButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(activity(), "Action failed. Check the error and logs.");
    EXPECT_TRUE(find("errorBox")->isVisible());
    EXPECT_EQ(labelText("errorText"), "Some services could not be stopped.");

    preferences().setLanguage(AppLanguage::french);
    EXPECT_EQ(activity(), "L'action a échoué. Consultez l'erreur et les journaux.");
    EXPECT_EQ(buttonText("stopAllButton"), "Tout arrêter");
    // The engine's text is shown as it came.
    EXPECT_EQ(labelText("errorText"), "Some services could not be stopped.");
}

TEST_F(StatusBarTest, AnActivityStoredTranslatedStaysAsStoredOneInEnglishIsTranslated) {
    startMonitor();
    window();
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(activity(), "Bereit");
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Studio wird gestartet…", false, [](AppEngine& e) { e.start("studio"); }));
    ASSERT_TRUE(waitUntilHeld("start"));
    EXPECT_EQ(activity(), "Studio wird gestartet…");
    preferences().setLanguage(AppLanguage::italian);
    EXPECT_EQ(activity(), "Studio wird gestartet…");
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(activity(), "Fatto");
}

TEST_F(StatusBarTest, ErrorAndInstallLogShowTogetherWhileAnActionRuns) {
    startMonitor();
    window();
    model().setError("Earlier failure.");
    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing packages for Studio…", true,
                                [](AppEngine& e) { e.install("studio"); }));
    ASSERT_TRUE(waitUntilHeld("install"));
    const auto log = StackPaths::installLog(root.path());
    std::filesystem::create_directories(log.parent_path());
    { std::ofstream(log) << "==> Installing php@8.4\n"; }
    // perform clears the error; a failure meanwhile shows above the log.
    model().setError("Checking packages failed.");
    ASSERT_TRUE(waitFor([&] { return find("installLog")->isVisible(); }));
    EXPECT_TRUE(find("errorBox")->isVisible());
    EXPECT_LT(find("errorBox")->y(), find("installLog")->y());
    EXPECT_EQ(find<QPlainTextEdit>("installLog")->toPlainText().toStdString(),
              "==> Installing php@8.4\n");
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(find("installLog")->isVisible());
}

TEST_F(StatusBarTest, AFailedLocalAddressSetUpDoesNotKeepTheEarlierDone) {
    startMonitor();
    window();
    ASSERT_TRUE(model().perform("Saving…", false, [](AppEngine&) {}));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(activity(), "Done");

    hostSetup->failRegister("Could not launch /usr/bin/pkexec: No such file or directory");
    model().setUpLocalHosts();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "Could not launch /usr/bin/pkexec: No such file or directory");
    EXPECT_NE(activity(), "Done");
    EXPECT_EQ(activity(), "Action failed. Check the error and logs.");

    // A later set-up that succeeds says so, whether it connects at once or
    // waits for the user's approval.
    hostSetup->failRegister(std::nullopt);
    model().setUpLocalHosts();
    ASSERT_TRUE(waitForIdle());
    ASSERT_FALSE(model().error());
    EXPECT_EQ(activity(), "Done");

    engine->fail("stop", "A service could not be stopped.");
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(activity(), "Action failed. Check the error and logs.");
    hostSetup->setStatusAfterRegister(ServiceStatus::requiresApproval);
    model().setUpLocalHosts();
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(hostSetup->calls("openApproval"), 1);
    ASSERT_FALSE(model().error());
    EXPECT_EQ(activity(), "Done");
}

// Refused because a hostname's environment runs: the refusal is an error,
// and the status bar does not keep the "Done" of the action before.
TEST_F(StatusBarTest, TheRefusedHelperUpdateDoesNotKeepTheEarlierDone) {
    StackProfile named = StackProfile::defaults().front();
    named.hostname = "shop.test";
    engine->setProfiles({named});
    engine->setStatus(named.id, running());
    hostSetup->setStatus(ServiceStatus::enabled);
    hostSetup->setNeedsRefresh(true);
    startMonitor();
    window();
    ASSERT_TRUE(waitFor([&] { return model().hostSetupNeedsUpdate(); }));
    ASSERT_TRUE(model().perform("Saving…", false, [](AppEngine&) {}));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(activity(), "Done");

    model().setUpLocalHosts();
    EXPECT_EQ(model().error(),
              "Stop environments with hostnames before updating local host setup.");
    EXPECT_EQ(activity(), "Action failed. Check the error and logs.");
    EXPECT_EQ(hostSetup->calls("registerHelper"), 0);
}

} // namespace
} // namespace vessora
