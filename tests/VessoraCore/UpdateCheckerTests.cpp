#include "VessoraCore/Foundation/DefaultsValue.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/UpdateCheckCancelled.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"
#include "VessoraCore/Updates/UpdateCheckSchedule.hpp"
#include "VessoraCore/Updates/UpdateChecker.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace vessora {
namespace {

using namespace std::chrono_literals;

const std::string verifyMessage = "Could not verify the release information. Try again later.";
const std::string connectionMessage =
    "Could not check for updates. Check your internet connection and try again.";

AppRelease release(const std::string& version, std::int64_t build,
                   const std::string& minimum = "14.0") {
    return AppRelease::decode(nlohmann::json{
        {"schemaVersion", 1},
        {"version", version},
        {"build", build},
        {"minimumMacOS", minimum},
        {"sha256", std::string(64, 'c')},
        {"homebrewAvailable",
         false}}.dump());
}

// Answers from a queue; each entry returns a release or throws.
class FakeFeed : public ReleaseFeed {
public:
    AppRelease fetch(std::stop_token stop) const override {
        ++calls;
        if (answers.empty())
            throw std::logic_error("unexpected feed request");
        auto answer = answers.front();
        answers.pop_front();
        return answer(stop);
    }
    void answer(AppRelease value) {
        answers.push_back([value](std::stop_token) { return value; });
    }
    template <typename Error>
    void fail(Error error) {
        answers.push_back([error](std::stop_token) -> AppRelease { throw error; });
    }

    mutable std::deque<std::function<AppRelease(std::stop_token)>> answers;
    mutable int calls = 0;
};

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    std::unique_ptr<UpdateChecker>
    checker(std::optional<ReleaseVersion> installed = ReleaseVersion::make("1.2.0", 6),
            SystemVersionProvider system = {}) {
        UpdateChecker::Options options;
        options.defaults = defaults;
        options.feed = feed;
        options.installed = std::move(installed);
        options.clock = [this] { return now; };
        options.systemVersion = std::move(system);
        return std::make_unique<UpdateChecker>(std::move(options));
    }

    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
    std::shared_ptr<FakeFeed> feed = std::make_shared<FakeFeed>();
    Date now = ReferenceDate::date(750000000);
};

TEST(UpdateCheckScheduleTest, DueOncePerDayOrWhenTheClockWentBack) {
    using UpdateCheckSchedule::shouldCheck;
    const Date now = ReferenceDate::date(750000000);
    EXPECT_FALSE(shouldCheck(false, std::nullopt, now));
    EXPECT_FALSE(shouldCheck(false, now - 100000s, now));
    EXPECT_TRUE(shouldCheck(true, std::nullopt, now));
    EXPECT_TRUE(shouldCheck(true, now + 1s, now));
    EXPECT_FALSE(shouldCheck(true, now, now));
    EXPECT_FALSE(shouldCheck(true, now - 86399s, now));
    EXPECT_TRUE(shouldCheck(true, now - 86400s, now));
    EXPECT_TRUE(shouldCheck(true, now - 86401s, now));
}

TEST_F(UpdateCheckerTest, FirstLaunchChecksAtOnceThenOncePerDay) {
    feed->answer(release("1.3.0", 1));
    auto updates = checker();
    EXPECT_FALSE(updates->latest());
    EXPECT_FALSE(updates->lastChecked());
    EXPECT_EQ(updates->currentVersion(), "1.2.0 (6)");

    updates->checkAutomatically(true);
    EXPECT_EQ(feed->calls, 1);
    EXPECT_FALSE(updates->isChecking());
    EXPECT_EQ(updates->error(), std::nullopt);
    ASSERT_TRUE(updates->latest());
    EXPECT_EQ(updates->latest()->version, "1.3.0");
    EXPECT_EQ(updates->lastChecked(), now);
    EXPECT_EQ(updates->availability(), UpdateAvailability::available);
    UpdateCheckStore store(defaults);
    EXPECT_EQ(store.lastAttempt(), now);
    EXPECT_EQ(store.lastSuccess(), now);
    EXPECT_EQ(store.cachedRelease(), release("1.3.0", 1));

    now += 86399s;
    updates->checkAutomatically(true);
    EXPECT_EQ(feed->calls, 1);
    now += 1s;
    feed->answer(release("1.3.0", 1));
    updates->checkAutomatically(true);
    EXPECT_EQ(feed->calls, 2);
    // The clock set back makes a check due at once.
    now -= 3600s;
    feed->answer(release("1.3.0", 1));
    updates->checkAutomatically(true);
    EXPECT_EQ(feed->calls, 3);
}

TEST_F(UpdateCheckerTest, AutomaticChecksOffWaitForTheUser) {
    auto updates = checker();
    updates->checkAutomatically(false);
    EXPECT_EQ(feed->calls, 0);
    EXPECT_FALSE(UpdateCheckStore(defaults).lastAttempt());
    feed->answer(release("1.2.0", 6));
    updates->check();
    EXPECT_EQ(feed->calls, 1);
    EXPECT_EQ(updates->availability(), UpdateAvailability::current);
}

TEST_F(UpdateCheckerTest, CachedAnswerSurvivesARestart) {
    TemporaryFolder folder;
    defaults = std::make_shared<UserDefaults>(folder.path() / "defaults.json");
    feed->answer(release("1.3.0", 1, "15.1"));
    checker()->check();

    defaults = std::make_shared<UserDefaults>(folder.path() / "defaults.json");
    auto restarted = checker(ReleaseVersion::make("1.2.0", 6), [] {
        return SystemVersion{15, 0, 9};
    });
    ASSERT_TRUE(restarted->latest());
    EXPECT_EQ(*restarted->latest(), release("1.3.0", 1, "15.1"));
    ASSERT_TRUE(restarted->lastChecked());
    EXPECT_LT(std::chrono::abs(*restarted->lastChecked() - now), 1ms);
    EXPECT_EQ(restarted->availability(), UpdateAvailability::requiresNewerMacOS);
    // The attempt was stored too: no automatic check within the day.
    restarted->checkAutomatically(true);
    EXPECT_EQ(feed->calls, 1);
}

TEST_F(UpdateCheckerTest, DamagedOrOutdatedCacheIsIgnored) {
    auto outdated = release("1.3.0", 1).toJSON();
    outdated["schemaVersion"] = 2;
    for (const auto& stored :
         {DefaultsValue::fromBytes(outdated.dump()), DefaultsValue::fromBytes("{}"),
          DefaultsValue::fromBytes(""), nlohmann::json{{"data", "not base64"}},
          nlohmann::json(release("1.3.0", 1).encode()), release("1.3.0", 1).toJSON()}) {
        defaults->set(UpdateCheckStore::cachedReleaseKey, stored);
        defaults->set(UpdateCheckStore::lastSuccessKey, "yesterday");
        auto updates = checker();
        EXPECT_FALSE(updates->latest()) << stored;
        EXPECT_FALSE(updates->lastChecked());
        EXPECT_EQ(updates->availability(), std::nullopt);
    }
    defaults->set(UpdateCheckStore::cachedReleaseKey,
                  DefaultsValue::fromBytes(release("1.3.0", 1).encode()));
    EXPECT_TRUE(checker()->latest());
}

TEST_F(UpdateCheckerTest, DevelopmentBuildNeverFetches) {
    auto updates = checker(std::nullopt);
    defaults->set(UpdateCheckStore::cachedReleaseKey,
                  DefaultsValue::fromBytes(release("9.0.0", 1).encode()));
    updates->checkAutomatically(true);
    updates->check();
    EXPECT_FALSE(updates->begin());
    EXPECT_EQ(feed->calls, 0);
    EXPECT_FALSE(updates->isChecking());
    EXPECT_FALSE(UpdateCheckStore(defaults).lastAttempt());
    EXPECT_EQ(checker(std::nullopt)->availability(), std::nullopt);
    EXPECT_EQ(updates->currentVersion(), "Development build");
    defaults->set("Vessora.language", "de");
    EXPECT_EQ(updates->currentVersion(), L10n::text("Development build", {}, AppLanguage::german));
    EXPECT_NE(updates->currentVersion(), "Development build");
}

TEST_F(UpdateCheckerTest, FailuresAreShownOnceAndKeepTheLastAnswer) {
    feed->answer(release("1.3.0", 1));
    auto updates = checker();
    updates->check();
    const Date firstSuccess = now;

    now += 10s;
    feed->fail(UpdateCheckError::invalidResponse());
    updates->check();
    EXPECT_EQ(updates->error(), verifyMessage);
    EXPECT_EQ(updates->latest(), release("1.3.0", 1));
    EXPECT_EQ(updates->lastChecked(), firstSuccess);
    EXPECT_EQ(UpdateCheckStore(defaults).lastAttempt(), now);
    EXPECT_EQ(UpdateCheckStore(defaults).lastSuccess(), firstSuccess);

    now += 10s;
    feed->fail(std::runtime_error("Operation timed out after 1000 milliseconds"));
    updates->check();
    EXPECT_EQ(updates->error(), connectionMessage);
    EXPECT_FALSE(updates->isChecking());

    // The next check clears the message when it starts.
    ASSERT_TRUE(updates->begin());
    EXPECT_EQ(updates->error(), std::nullopt);
    EXPECT_TRUE(updates->isChecking());
    updates->finish({UpdateFetchResult::Kind::release, release("1.3.0", 1), ""}, false);
    EXPECT_EQ(updates->error(), std::nullopt);
    EXPECT_EQ(updates->lastChecked(), now);

    // In the interface language of the moment.
    defaults->set("Vessora.language", "fr");
    feed->fail(UpdateCheckError::invalidResponse());
    updates->check();
    EXPECT_EQ(updates->error(), L10n::text(verifyMessage, {}, AppLanguage::french));
    EXPECT_NE(updates->error(), verifyMessage);
}

TEST_F(UpdateCheckerTest, CancellationLeavesNoMessage) {
    feed->answer(release("1.3.0", 1));
    auto updates = checker();
    updates->check();

    feed->fail(UpdateCheckCancelled());
    updates->check();
    EXPECT_EQ(updates->error(), std::nullopt);
    EXPECT_FALSE(updates->isChecking());

    // An answer that arrives after the stop request counts as cancelled.
    now += 60s;
    std::stop_source stop;
    feed->answers.push_back([&](std::stop_token) {
        stop.request_stop();
        return release("2.0.0", 1);
    });
    updates->check(stop.get_token());
    EXPECT_EQ(updates->latest(), release("1.3.0", 1));
    EXPECT_EQ(updates->error(), std::nullopt);
    EXPECT_EQ(UpdateCheckStore(defaults).cachedRelease(), release("1.3.0", 1));
    EXPECT_EQ(UpdateCheckStore(defaults).lastAttempt(), now);
    EXPECT_NE(UpdateCheckStore(defaults).lastSuccess(), now);
}

TEST_F(UpdateCheckerTest, OneRequestAtATime) {
    auto updates = checker();
    ASSERT_TRUE(updates->begin());
    EXPECT_FALSE(updates->begin());
    updates->check();
    EXPECT_EQ(feed->calls, 0);
    EXPECT_TRUE(updates->isChecking());
    updates->finish(UpdateChecker::fetch(*feed, {}), false); // the queue is empty: a failure
    EXPECT_EQ(updates->error(), connectionMessage);
    // A stray result while none runs changes nothing.
    updates->finish({UpdateFetchResult::Kind::release, release("1.3.0", 1), ""}, false);
    EXPECT_FALSE(updates->latest());
}

TEST_F(UpdateCheckerTest, ClosedBannerStaysClosedForTheSameRelease) {
    feed->answer(release("1.3.0", 1));
    auto updates = checker();
    updates->check();
    updates->setDismissed(true);
    feed->answer(release("1.3.0", 1));
    updates->check();
    EXPECT_TRUE(updates->dismissed());
    feed->answer(release("1.3.0", 2));
    updates->check();
    EXPECT_FALSE(updates->dismissed());

    // A restart forgets the choice.
    updates->setDismissed(true);
    EXPECT_FALSE(checker()->dismissed());
}

TEST_F(UpdateCheckerTest, StoreWriteFailureIsShownNotThrown) {
    TemporaryFolder folder;
    // A folder where the file should be: every write fails, even as root.
    std::filesystem::create_directory(folder.path() / "defaults.json");
    defaults = std::make_shared<UserDefaults>(folder.path() / "defaults.json");
    feed->answer(release("1.3.0", 1));
    auto updates = checker();
    EXPECT_NO_THROW(updates->check());
    EXPECT_FALSE(updates->isChecking());
    EXPECT_EQ(updates->latest(), release("1.3.0", 1));
    ASSERT_TRUE(updates->error());
    EXPECT_EQ(updates->error()->rfind("Could not save the update status: ", 0), 0u)
        << *updates->error();

    // A failed check outranks the store's complaint.
    feed->fail(std::runtime_error("Could not resolve host"));
    updates->check();
    EXPECT_EQ(updates->error(), connectionMessage);
}

} // namespace
} // namespace vessora
