// The update-check model on the main thread: what survives a restart, how a
// failure and a cancellation end, that a development build never asks the
// feed, and how manual and automatic checks share the one running check.
#include "VessoraCore/Foundation/DefaultsValue.hpp"
#include "VessoraCore/Updates/UpdateCheckStore.hpp"
#include "tests/Vessora/Support/AppUpdatesTest.hpp"

#include <QSignalSpy>

#include <chrono>

namespace vessora {
namespace {

using namespace std::chrono_literals;

const std::string connectionMessage =
    "Could not check for updates. Check your internet connection and try again.";
const std::string verifyMessage = "Could not verify the release information. Try again later.";

TEST_F(AppUpdatesTest, TheCachedAnswerSurvivesARestart) {
    const AppRelease newer = FakeReleaseFeed::makeRelease("1.3.0", 9);
    feed->answer(newer);
    ASSERT_TRUE(checkAndWait());
    EXPECT_EQ(updates().latest(), newer);
    EXPECT_EQ(updates().lastChecked(), now);
    EXPECT_EQ(updates().availability(), UpdateAvailability::available);

    restart();
    // The next launch knows the release and the time without asking.
    now += 3600s;
    EXPECT_EQ(updates().latest(), newer);
    EXPECT_EQ(updates().lastChecked(), now - 3600s);
    EXPECT_EQ(updates().availability(), UpdateAvailability::available);
    EXPECT_FALSE(updates().dismissed());
    EXPECT_EQ(feed->calls(), 1);

    // A damaged cache is ignored at start-up, nothing else is lost.
    restart();
    defaults->set(UpdateCheckStore::cachedReleaseKey, DefaultsValue::fromBytes("{\"schema"));
    EXPECT_FALSE(updates().latest());
    EXPECT_EQ(updates().lastChecked(), now - 3600s);
}

TEST_F(AppUpdatesTest, AFailedCheckIsShownOnceAndNeverThrown) {
    const AppRelease known = FakeReleaseFeed::makeRelease("1.2.0", 6);
    feed->answer(known);
    ASSERT_TRUE(checkAndWait());
    const auto checkedAt = updates().lastChecked();

    QSignalSpy changes(&updates(), &AppUpdates::changed);
    now += 90000s;
    feed->failTransport();
    EXPECT_NO_THROW(updates().checkManually());
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(updates().error(), connectionMessage);
    // The last good answer stays; only the attempt time moved.
    EXPECT_EQ(updates().latest(), known);
    EXPECT_EQ(updates().lastChecked(), checkedAt);
    EXPECT_EQ(DefaultsValue::date(defaults->value(UpdateCheckStore::lastAttemptKey)), now);
    // Once: the check's start and its end, nothing published afterwards.
    EXPECT_EQ(changes.count(), 2);
    QTest::qWait(50);
    EXPECT_EQ(changes.count(), 2);

    // A refused answer has its own sentence; the next start clears it.
    feed->failInvalid();
    feed->hold();
    updates().checkManually();
    EXPECT_TRUE(updates().isChecking());
    EXPECT_FALSE(updates().error());
    feed->release();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(updates().error(), verifyMessage);

    feed->answer(known);
    ASSERT_TRUE(checkAndWait());
    EXPECT_FALSE(updates().error());
}

TEST_F(AppUpdatesTest, ADevelopmentBuildNeverFetches) {
    for (const BuildInfo& development :
         {BuildInfo::developmentBuild(), BuildInfo::release("1.2", "6"),
          BuildInfo::release("1.2.0", ""), BuildInfo::release("1.2.0", "0"),
          BuildInfo::release("1.2.0", "6a")}) {
        build = development;
        restart();
        // A cached release from an earlier packaged run stays unused.
        defaults->set(UpdateCheckStore::cachedReleaseKey,
                      DefaultsValue::fromBytes(FakeReleaseFeed::makeRelease("1.3.0", 9).encode()));
        QSignalSpy forward(&updates(), &AppUpdates::mainWindowRequested);
        updates().checkAutomatically(true);
        updates().checkManually();
        EXPECT_FALSE(updates().isChecking());
        EXPECT_EQ(updates().currentVersion(), "Development build");
        EXPECT_FALSE(updates().availability());
        // The details still come forward and explain why.
        EXPECT_TRUE(updates().showDetails());
        EXPECT_EQ(forward.count(), 1);
    }
    QTest::qWait(50);
    EXPECT_EQ(feed->calls(), 0);
    EXPECT_FALSE(defaults->value(UpdateCheckStore::lastAttemptKey));
}

TEST_F(AppUpdatesTest, ManualRequestsDuringACheckStartNoSecondOne) {
    QSignalSpy forward(&updates(), &AppUpdates::mainWindowRequested);
    QSignalSpy details(&updates(), &AppUpdates::showDetailsChanged);
    feed->hold();
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    updates().setShowDetails(false);
    updates().checkManually();
    updates().checkAutomatically(true);
    // Each request brings the window and the sheet forward again.
    EXPECT_EQ(forward.count(), 2);
    EXPECT_TRUE(updates().showDetails());
    EXPECT_EQ(details.count(), 3);
    feed->release();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(feed->calls(), 1);
    EXPECT_TRUE(updates().latest());
}

TEST_F(AppUpdatesTest, AutomaticChecksFollowTheScheduleAndThePreference) {
    // First launch: due at once.
    feed->answer(FakeReleaseFeed::makeRelease("1.2.0", 6));
    updates().startAutomaticChecks(preferences());
    EXPECT_TRUE(updates().isChecking());
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(feed->calls(), 1);
    // Showing the window does not bring the details forward.
    EXPECT_FALSE(updates().showDetails());

    // Within the day nothing runs, with the preference on or off.
    now += 86399s;
    preferences().setAutomaticUpdateChecks(false);
    preferences().setAutomaticUpdateChecks(true);
    EXPECT_FALSE(updates().isChecking());

    // A day later a change of the preference runs the check it allows.
    now += 1s;
    preferences().setAutomaticUpdateChecks(false);
    EXPECT_FALSE(updates().isChecking());
    feed->hold();
    preferences().setAutomaticUpdateChecks(true);
    EXPECT_TRUE(updates().isChecking());
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    // Assigning the same value again keeps that check.
    preferences().setAutomaticUpdateChecks(true);
    EXPECT_TRUE(updates().isChecking());
    // Turning the preference off stops it without a message.
    preferences().setAutomaticUpdateChecks(false);
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(updates().error());
    EXPECT_EQ(feed->calls(), 2);
    EXPECT_EQ(DefaultsValue::date(defaults->value(UpdateCheckStore::lastAttemptKey)), now);
}

// While the feed fails, the day is counted from the last attempt, not the
// last success: a later launch within the day does not ask again.
TEST_F(AppUpdatesTest, AFailedAutomaticCheckIsNotRepeatedWithinTheDay) {
    feed->failTransport();
    updates().checkAutomatically(true);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(feed->calls(), 1);
    EXPECT_EQ(updates().error(), connectionMessage);

    now += 3600s;
    updates().checkAutomatically(true);
    EXPECT_FALSE(updates().isChecking());
    QTest::qWait(50);
    EXPECT_EQ(feed->calls(), 1);

    now += 86400s - 3600s;
    feed->answer(FakeReleaseFeed::makeRelease("1.2.0", 6));
    updates().checkAutomatically(true);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(feed->calls(), 2);
}

TEST_F(AppUpdatesTest, QuittingDuringACheckEndsItSilentlyAndPromptly) {
    feed->hold();
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    // A manual check is not the automatic one: a new preference keeps it.
    updates().checkAutomatically(false);
    EXPECT_TRUE(feed->waiting());

    updates().cancel();
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(updates().error());
    EXPECT_FALSE(updates().latest());

    // Destroying the model with a check held at the gate does not hang.
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    const auto started = std::chrono::steady_clock::now();
    restart();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(feed->waiting());
}

} // namespace
} // namespace vessora
