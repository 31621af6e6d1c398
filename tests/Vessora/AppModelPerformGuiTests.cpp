// perform(): one action at a time, what the status shows while and after it
// runs, the reloads and the selection that follows.
#include "Vessora/App/AppModel.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"

#include <QSignalSpy>

#include <thread>

namespace vessora {
namespace {

class PerformTest : public AppModelTest {};

TEST_F(PerformTest, RunsTheActionAndReloadsWithBusyAndActivityInStep) {
    model().setError(std::string("an earlier failure"));
    engine->hold("start");
    QSignalSpy finishedSpy(&model(), &AppModel::operationFinished);
    std::optional<bool> outcome;
    const bool accepted = model().perform(
        "Starting Studio…", true, [](AppEngine& e) { e.start("studio"); },
        [&](bool succeeded) {
            outcome = succeeded;
            // The reloads are done before the operation counts as ended.
            EXPECT_FALSE(model().busy());
            EXPECT_TRUE(model().statuses().at("studio").running);
        });
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(model().busy());
    EXPECT_EQ(model().activity(), "Starting Studio…");
    EXPECT_FALSE(model().error());

    // A second action while the first runs is refused and never reaches the
    // engine.
    ASSERT_TRUE(waitUntilHeld("start"));
    EXPECT_FALSE(model().perform("Stopping…", true, [](AppEngine& e) { e.stop("studio"); }));
    EXPECT_EQ(engine->calls("stop"), 0);

    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(outcome, true);
    EXPECT_EQ(finishedSpy.count(), 1);
    EXPECT_EQ(finishedSpy.front().front().toBool(), true);
    EXPECT_EQ(model().activity(), "Done");
    EXPECT_FALSE(model().error());
    EXPECT_TRUE(model().statuses().at("studio").running);
    // Action, records, statuses, then packages; the helper connection is
    // read only after a failure.
    EXPECT_EQ(engine->log(), (std::vector<std::string>{"start(studio)", "allProfiles", "statuses",
                                                       "installations"}));
}

TEST_F(PerformTest, AFailureIsShownAndTheReloadsStillRun) {
    engine->setConnected(true);
    engine->fail("start", "MariaDB did not start. See studio/logs/mariadb-error.log.");
    std::optional<bool> outcome;
    ASSERT_TRUE(model().perform(
        "Starting Studio…", false, [](AppEngine& e) { e.start("studio"); },
        [&](bool succeeded) { outcome = succeeded; }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(outcome, false);
    EXPECT_EQ(model().error(), "MariaDB did not start. See studio/logs/mariadb-error.log.");
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_TRUE(model().localHostReady());
    EXPECT_EQ(model().statuses().size(), 2u);
    EXPECT_EQ(engine->log(), (std::vector<std::string>{"start(studio)", "localHostConnected",
                                                       "allProfiles", "statuses"}));
}

// An import that ends with a failed report returns normally: the action
// says it did not succeed, and the status bar must not say "Done". The
// report is the wizard's to show, so `error` stays clear.
TEST_F(PerformTest, AnActionThatReportsItsOwnFailureEndsAsAFailureWithoutAnError) {
    engine->setMigrationOutcome(false, "SQL import failed (ERROR 1064 (42000) at line 3).",
                                std::nullopt);
    MigrationRequest request;
    request.name = "Portal";
    std::optional<bool> outcome;
    ASSERT_TRUE(model().performChecked(
        "Importing project…", false,
        [request](AppEngine& e) {
            return e.migrate(request, [](MigrationPhase) {}).report.succeeded;
        },
        [&](bool succeeded) { outcome = succeeded; }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(outcome, false);
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_FALSE(model().error());
    // As after any failure: the helper connection is read, then the reloads.
    EXPECT_EQ(engine->log(), (std::vector<std::string>{"migrate(Portal)", "localHostConnected",
                                                       "allProfiles", "statuses"}));
    EXPECT_EQ(model().selectedID(), model().profiles().back().id);

    engine->setMigrationOutcome(true, "Stack verification passed.", 3);
    ASSERT_TRUE(model().performChecked("Importing project…", false, [request](AppEngine& e) {
        return e.migrate(request, [](MigrationPhase) {}).report.succeeded;
    }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().activity(), "Done");
}

TEST_F(PerformTest, AFailingPackageQueryAfterAFailedActionKeepsTheActionsError) {
    engine->fail("stop", "A service could not be stopped.");
    engine->fail("installations", "Homebrew was not found.");
    ASSERT_TRUE(model().perform("Stopping…", true, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("installations"), 1);
    EXPECT_EQ(model().error(), "A service could not be stopped.");

    // After a successful action the package query's failure is what is shown.
    engine->fail("stop", std::nullopt);
    ASSERT_TRUE(model().perform("Stopping…", true, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "Homebrew was not found.");
}

TEST_F(PerformTest, AnythingThrownBecomesAText) {
    engine->failWithoutException("stop");
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "An unknown error occurred.");
}

TEST_F(PerformTest, TheEnginesOwnRefusalIsShownLikeAnyFailure) {
    engine->setBusy(true);
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "Another Vessora action is still in progress.");
    EXPECT_FALSE(model().busy());
}

TEST_F(PerformTest, TwoCallsInOneTurnRunTheFirstOnly) {
    bool firstDone = false;
    bool secondDone = false;
    EXPECT_TRUE(model().perform(
        "Stopping…", false, [](AppEngine& e) { e.stop("studio"); },
        [&](bool) { firstDone = true; }));
    EXPECT_FALSE(model().perform(
        "Stopping…", false, [](AppEngine& e) { e.stop("legacy"); },
        [&](bool) { secondDone = true; }));
    ASSERT_TRUE(waitForIdle());
    QTest::qWait(50);
    EXPECT_TRUE(firstDone);
    EXPECT_FALSE(secondDone);
    EXPECT_EQ(engine->calls("stop"), 1);
}

TEST_F(PerformTest, ACreatedEnvironmentIsSelectedWhereverItStands) {
    engine->hold("update");
    ASSERT_TRUE(model().perform("Saving environment…", false,
                                [](AppEngine& e) { e.update(StackProfile::defaults().front()); }));
    ASSERT_TRUE(waitUntilHeld("update"));
    // The engine lists the new environment first.
    StackProfile added = StackProfile::defaults().front();
    added.id = "env-imported";
    std::vector<StackProfile> profiles = engine->storedProfiles();
    profiles.insert(profiles.begin(), added);
    engine->setProfiles(profiles);
    engine->release("update");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().selectedID(), "env-imported");

    // A create through the engine selects what it made.
    ASSERT_TRUE(model().perform("Creating Shop…", false, [](AppEngine& e) {
        e.create("Shop", "php@8.4", "mariadb@11.4", false, "nginx", false, std::nullopt, "shop",
                 std::nullopt, false, false);
    }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(model().profiles().size(), 4u);
    EXPECT_EQ(model().selectedID(), model().profiles().back().id);
    EXPECT_EQ(model().profiles().back().name, "Shop");
}

TEST_F(PerformTest, SelectionStaysOrMovesToTheFirstRemaining) {
    model().setSelectedID(std::string("legacy"));
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().selectedID(), "legacy");

    ASSERT_TRUE(
        model().perform("Moving Legacy to Trash…", true, [](AppEngine& e) { e.remove("legacy"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().selectedID(), "studio");

    ASSERT_TRUE(
        model().perform("Moving Studio to Trash…", true, [](AppEngine& e) { e.remove("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(model().profiles().empty());
    EXPECT_FALSE(model().selectedID());
}

TEST_F(PerformTest, WithoutPackageRefreshThePackageStateIsUntouched) {
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("installations"), 0);
    EXPECT_FALSE(model().packageStatusKnown());
}

TEST_F(PerformTest, WaitersRunOnceTheOperationHasEnded) {
    std::vector<std::string> order;
    model().afterOperation([&] { order.push_back("idle"); });
    EXPECT_EQ(order, (std::vector<std::string>{"idle"}));

    engine->hold("stop");
    ASSERT_TRUE(model().perform(
        "Stopping…", true, [](AppEngine& e) { e.stop("studio"); },
        [&](bool) { order.push_back("own follow-up"); }));
    model().afterOperation([&] {
        EXPECT_FALSE(model().busy());
        order.push_back("waiter");
    });
    ASSERT_TRUE(waitUntilHeld("stop"));
    QTest::qWait(20);
    EXPECT_EQ(order.size(), 1u);
    engine->release("stop");
    ASSERT_TRUE(waitFor([&] { return order.size() == 3; }));
    EXPECT_EQ(order[1], "own follow-up");
    EXPECT_EQ(order[2], "waiter");
}

TEST_F(PerformTest, AnOperationStillRunningAtTheEndIsWaitedFor) {
    engine->hold("stop");
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitUntilHeld("stop"));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        engine->release("stop");
    });
    // The model's end waits for the job, which holds its own copy of the
    // engine; nothing is delivered afterwards.
    resetModel();
    opener.join();
    EXPECT_EQ(engine->calls("stop"), 1);
    EXPECT_EQ(engine.use_count(), 1);
}

} // namespace
} // namespace vessora
