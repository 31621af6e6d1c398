// The monitor: the first load, the poll's pace, the helper connection, the
// automatic reconnection of local addresses and the install log.
#include "Vessora/App/AppModel.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"

#include <QSignalSpy>

namespace vessora {
namespace {

using namespace std::chrono_literals;

class MonitorTest : public AppModelTest {
protected:
    int polls() const { return engine->calls("statuses"); }
    int connections() const { return engine->calls("configureLocalHosts"); }
    // Lets several polls pass.
    void letPollsPass(int count = 4) {
        const int target = polls() + count;
        ASSERT_TRUE(waitFor([&] { return polls() >= target; }));
    }
    // Local addresses set up earlier; the helper is enabled and current.
    void setUpEarlier() {
        defaults->set(AppModel::localHostSetupEnabledKey, true);
        hostSetup->setStatus(ServiceStatus::enabled);
        hostSetup->setNeedsRefresh(false);
    }
    // An install waits at its gate once the model shows the failure it
    // wrote to the log.
    const std::string failedInstallLog = "Error: php@8.4: not available\n";
    void holdAnInstallThatLoggedAFailure() {
        const std::filesystem::path log = StackPaths::installLog(root.path());
        PrivateFile::createDirectories(log.parent_path());
        engine->hold("install");
        ASSERT_TRUE(model().perform("Installing packages for Studio…", false,
                                    [](AppEngine& e) { e.install("studio"); }));
        PrivateFile::write(log, failedInstallLog);
        ASSERT_TRUE(waitFor([&] { return model().installLog() == failedInstallLog; }));
    }
};

TEST_F(MonitorTest, LoadsRecordsAndPackagesBeforeThePollAndSelectsTheFirst) {
    model().setSelectedID(std::string("legacy"));
    startMonitor();
    const std::vector<std::string> log = engine->log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "allProfiles");
    EXPECT_EQ(log[1], "installations");
    EXPECT_EQ(log[2], "statuses");
    EXPECT_EQ(model().selectedID(), "studio");
    EXPECT_TRUE(model().packageStatusKnown());
}

TEST_F(MonitorTest, PollsDoNotOverlapAndStopWhenTheMonitorStops) {
    startMonitor();
    letPollsPass();
    // A slow poll: nothing else is asked until it is over.
    engine->hold("statuses");
    ASSERT_TRUE(waitUntilHeld("statuses"));
    const int during = polls();
    QTest::qWait(static_cast<int>(monitorInterval.count()) * 5);
    EXPECT_EQ(polls(), during);
    engine->release("statuses");
    letPollsPass(2);

    model().stopMonitor();
    QTest::qWait(static_cast<int>(monitorInterval.count()) * 2);
    const int stopped = polls();
    QTest::qWait(static_cast<int>(monitorInterval.count()) * 5);
    EXPECT_EQ(polls(), stopped);
    EXPECT_FALSE(model().monitoring());
    // The registration (a service-manager query of seconds at worst) is
    // read once per poll, on the poll's worker.
    EXPECT_EQ(hostSetup->calls("status"), stopped);
    EXPECT_EQ(hostSetup->calls("needsRefresh"), stopped);
}

TEST_F(MonitorTest, ALostHelperConnectionIsNoticedOnlyWhileConnected) {
    setUpEarlier();
    engine->setConnected(false);
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().localHostReady(); }));
    letPollsPass();
    const int asked = engine->calls("localHostConnected");
    EXPECT_GT(asked, 0);

    engine->setConnected(false);
    ASSERT_TRUE(waitFor([&] { return !model().localHostReady(); }));
    const int afterLoss = engine->calls("localHostConnected");
    letPollsPass();
    EXPECT_EQ(engine->calls("localHostConnected"), afterLoss);
}

TEST_F(MonitorTest, ReconnectsOnceAfterStartUp) {
    setUpEarlier();
    engine->fail("configureLocalHosts", "Could not connect to local host setup.");
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return connections() == 1 && !model().busy(); }));
    EXPECT_EQ(engine->log()[3], "configureLocalHosts(true)");
    EXPECT_EQ(model().error(), "Could not connect to local host setup.");
    EXPECT_FALSE(model().localHostReady());
    letPollsPass();
    EXPECT_EQ(connections(), 1);

    // Once the registration leaves "enabled" and comes back, one more try.
    engine->fail("configureLocalHosts", std::nullopt);
    hostSetup->setStatus(ServiceStatus::requiresApproval);
    letPollsPass(2);
    EXPECT_EQ(connections(), 1);
    hostSetup->setStatus(ServiceStatus::enabled);
    ASSERT_TRUE(waitFor([&] { return model().localHostReady(); }));
    EXPECT_EQ(connections(), 2);
    letPollsPass();
    EXPECT_EQ(connections(), 2);
}

TEST_F(MonitorTest, NoReconnectionWithAnOutdatedHelperOrWithoutTheUsersSetUp) {
    setUpEarlier();
    hostSetup->setNeedsRefresh(true);
    startMonitor();
    letPollsPass();
    EXPECT_EQ(connections(), 0);
    EXPECT_TRUE(model().hostSetupNeedsUpdate());

    hostSetup->setNeedsRefresh(false);
    defaults->set(AppModel::localHostSetupEnabledKey, false);
    letPollsPass();
    EXPECT_EQ(connections(), 0);

    // A value that is not a flag does not count as set up.
    defaults->set(AppModel::localHostSetupEnabledKey, "yes");
    letPollsPass();
    EXPECT_EQ(connections(), 0);

    defaults->set(AppModel::localHostSetupEnabledKey, true);
    ASSERT_TRUE(waitFor([&] { return connections() == 1; }));
}

TEST_F(MonitorTest, NeverReconnectsWhileAnOperationRuns) {
    startMonitor();
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    setUpEarlier();
    letPollsPass();
    EXPECT_EQ(connections(), 0);
    engine->release("start");
    ASSERT_TRUE(waitFor([&] { return model().localHostReady(); }));
    EXPECT_EQ(connections(), 1);
}

TEST_F(MonitorTest, ShowsOnlyWhatTheInstallLogGainedDuringTheAction) {
    const std::filesystem::path log = StackPaths::installLog(root.path());
    PrivateFile::createDirectories(log.parent_path());
    // Another day's install left its errors behind.
    const std::string earlier = "Error: php@8.4: not available\n";
    PrivateFile::write(log, earlier);
    startMonitor();
    letPollsPass();
    EXPECT_EQ(model().installLog(), "");

    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing packages for Studio…", true,
                                [](AppEngine& e) { e.install("studio"); }));
    letPollsPass();
    EXPECT_EQ(model().installLog(), "") << "an earlier action's lines are shown";

    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "line " + std::to_string(i) + " ü\n";
    PrivateFile::write(log, earlier + text);
    ASSERT_TRUE(waitFor([&] { return !model().installLog().empty(); }));
    // 3000 characters of this action's part; "ü" is two bytes but one character.
    const std::string expected = QString::fromStdString(text).right(3000).toStdString();
    EXPECT_EQ(model().installLog(), expected);

    // While idle the last text stays.
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    letPollsPass(2);
    PrivateFile::write(log, "new text");
    letPollsPass();
    EXPECT_EQ(model().installLog(), expected);
}

// The log the last action left is not shown at the start of the next one,
// which begins empty until a poll reads what it adds.
TEST_F(MonitorTest, TheNextActionShowsNothingOfTheLastOnesLogBeforeAnyPoll) {
    startMonitor();
    holdAnInstallThatLoggedAFailure();
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(model().installLog(), failedInstallLog);

    // No poll is applied from here on.
    engine->hold("statuses");
    ASSERT_TRUE(waitUntilHeld("statuses"));
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    EXPECT_TRUE(model().busy());
    EXPECT_EQ(model().installLog(), "");
    engine->release("statuses");
    ASSERT_TRUE(waitForIdle());
}

// A poll under way when the first action ends brings that action's log;
// arriving once the next has begun, it is dropped.
TEST_F(MonitorTest, APollReadForTheLastActionDoesNotShowItsLogInTheNext) {
    setUpEarlier();
    startMonitor();
    // Connected, so each poll asks the engine about the helper connection
    // between the statuses and the log: a gate the actions never pass.
    ASSERT_TRUE(waitFor([&] { return model().localHostReady() && !model().busy(); }));
    holdAnInstallThatLoggedAFailure();

    engine->hold("localHostConnected");
    ASSERT_TRUE(waitUntilHeld("localHostConnected"));
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    ASSERT_EQ(model().installLog(), "");
    QSignalSpy shown(&model(), &AppModel::installLogChanged);
    const int before = polls();
    engine->release("localHostConnected");
    // The next poll begins only after the held one was applied.
    ASSERT_TRUE(waitFor([&] { return polls() > before; }));
    EXPECT_EQ(shown.count(), 0);
    EXPECT_EQ(model().installLog(), "");
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
}

TEST_F(MonitorTest, AnInstallLogShorterThanAtTheActionsStartCountsFromItsBeginning) {
    const std::filesystem::path log = StackPaths::installLog(root.path());
    PrivateFile::createDirectories(log.parent_path());
    PrivateFile::write(log, std::string(5000, 'x') + "\n");
    startMonitor();
    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing packages for Studio…", true,
                                [](AppEngine& e) { e.install("studio"); }));
    letPollsPass();
    EXPECT_EQ(model().installLog(), "");
    // The log was replaced by a fresh one.
    PrivateFile::write(log, "==> Fetching php@8.2\n");
    ASSERT_TRUE(waitFor([&] { return !model().installLog().empty(); }));
    EXPECT_EQ(model().installLog(), "==> Fetching php@8.2\n");
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
}

class LocalHostsTest : public MonitorTest {};

TEST_F(LocalHostsTest, SetUpWaitingForApprovalOpensItAndTheMonitorConnectsLater) {
    startMonitor();
    hostSetup->setStatusAfterRegister(ServiceStatus::requiresApproval);
    model().setUpLocalHosts();
    EXPECT_TRUE(model().busy());
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(hostSetup->calls("registerHelper"), 1);
    EXPECT_EQ(hostSetup->calls("openApproval"), 1);
    EXPECT_TRUE(model().hostApprovalPending());
    EXPECT_FALSE(model().localHostReady());
    EXPECT_EQ(defaults->value(AppModel::localHostSetupEnabledKey), true);
    EXPECT_EQ(connections(), 0);

    // The user approves: the next poll connects.
    hostSetup->setStatus(ServiceStatus::enabled);
    ASSERT_TRUE(waitFor([&] { return model().localHostReady(); }));
    EXPECT_EQ(connections(), 1);
    EXPECT_FALSE(model().hostApprovalPending());
}

TEST_F(LocalHostsTest, SetUpConnectsAtOnceWhenTheHelperIsEnabled) {
    startMonitor();
    model().setUpLocalHosts();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(model().localHostReady());
    EXPECT_FALSE(model().error());
    EXPECT_EQ(connections(), 1);
    EXPECT_EQ(hostSetup->calls("openApproval"), 0);
    // Nothing is reloaded by the set-up itself; it ends as any action does.
    EXPECT_EQ(model().activity(), "Done");
}

TEST_F(LocalHostsTest, AFailedRegistrationLeavesTheSetUpOff) {
    startMonitor();
    hostSetup->failRegister("Install the signed Vessora release system-wide to enable local host "
                            "setup.");
    model().setUpLocalHosts();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(),
              "Install the signed Vessora release system-wide to enable local host setup.");
    EXPECT_FALSE(defaults->value(AppModel::localHostSetupEnabledKey));
    EXPECT_EQ(connections(), 0);
}

TEST_F(LocalHostsTest, AnOutdatedHelperIsNotReplacedUnderARunningHostname) {
    StackProfile named = StackProfile::defaults().front();
    named.hostname = "shop.test";
    engine->setProfiles({named});
    engine->setStatus(named.id, StackStatus{true, "Running", {{"MariaDB", 1}}});
    hostSetup->setStatus(ServiceStatus::enabled);
    hostSetup->setNeedsRefresh(true);
    startMonitor();
    model().setUpLocalHosts();
    EXPECT_FALSE(model().busy());
    EXPECT_EQ(model().error(),
              "Stop environments with hostnames before updating local host setup.");
    QTest::qWait(50);
    EXPECT_EQ(hostSetup->calls("registerHelper"), 0);
}

TEST_F(LocalHostsTest, RemovalRefusedByTheEngineKeepsTheSetUp) {
    setUpEarlier();
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().localHostReady() && !model().busy(); }));
    engine->fail("configureLocalHosts",
                 "Stop environments with hostnames before removing local host setup.");
    model().removeLocalHosts();
    EXPECT_EQ(model().activity(), "Removing local address setup…");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(),
              "Stop environments with hostnames before removing local host setup.");
    EXPECT_EQ(defaults->value(AppModel::localHostSetupEnabledKey), true);
    EXPECT_EQ(hostSetup->calls("unregister"), 0);
}

TEST_F(LocalHostsTest, RemovalForgetsTheSetUp) {
    setUpEarlier();
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().localHostReady() && !model().busy(); }));
    model().removeLocalHosts();
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(model().error());
    EXPECT_EQ(hostSetup->calls("unregister"), 1);
    EXPECT_EQ(defaults->value(AppModel::localHostSetupEnabledKey), false);
    EXPECT_FALSE(model().localHostReady());
    ASSERT_TRUE(waitFor([&] { return !model().hostSetupRegistered(); }));
    // The reconnection and the removal; no reconnection after it.
    letPollsPass();
    EXPECT_EQ(connections(), 2);
}

// A package query that fails while a local-address operation runs writes
// `error`; the operation's follow-up still goes by its own outcome.
TEST_F(LocalHostsTest, FollowUpsJudgeTheirOwnOutcomeNotTheSharedError) {
    startMonitor();
    engine->fail("installations", "brew info failed (1):\noffline");
    engine->hold("installations");
    engine->hold("configureLocalHosts");
    model().refreshPackages();
    ASSERT_TRUE(waitUntilHeld("installations"));

    setUpEarlier();
    ASSERT_TRUE(waitUntilHeld("configureLocalHosts"));
    engine->release("installations");
    ASSERT_TRUE(waitFor([&] { return model().error().has_value(); }));
    engine->release("configureLocalHosts");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(model().localHostReady());

    // The same for a removal.
    engine->hold("installations");
    engine->hold("configureLocalHosts");
    model().refreshPackages();
    ASSERT_TRUE(waitUntilHeld("installations"));
    model().removeLocalHosts();
    ASSERT_TRUE(waitUntilHeld("configureLocalHosts"));
    engine->release("installations");
    ASSERT_TRUE(waitFor([&] { return model().error().has_value(); }));
    engine->release("configureLocalHosts");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "brew info failed (1):\noffline");
    EXPECT_EQ(defaults->value(AppModel::localHostSetupEnabledKey), false);
    EXPECT_FALSE(model().localHostReady());
}

} // namespace
} // namespace vessora
