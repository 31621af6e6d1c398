// Base of the update views' and model's tests: a fake feed, in-memory
// defaults that are also the standard store (the texts read the interface
// language there), a fixed clock, the preferences on the same store and a
// release build 1.2.0 (6). updates() builds the model on first use; tests
// adjust the options first.
#pragma once

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

namespace vessora {

class AppUpdatesTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }

    void TearDown() override {
        feed->release();
        updates_.reset();
        preferences_.reset();
        // The main thread never waits on the network.
        EXPECT_FALSE(feed->calledFrom(std::this_thread::get_id()));
        EXPECT_EQ(feed->unexpected(), 0);
        UserDefaults::setStandard(UserDefaults::inMemory());
    }

    AppUpdates::Options options() {
        AppUpdates::Options result;
        result.build = build;
        result.defaults = defaults;
        result.feed = feed;
        result.clock = [this] { return now; };
        result.systemVersion = [this] { return system; };
        return result;
    }

    AppUpdates& updates() {
        if (!updates_)
            updates_ = std::make_unique<AppUpdates>(options());
        return *updates_;
    }

    AppPreferences& preferences() {
        if (!preferences_)
            preferences_ = std::make_unique<AppPreferences>(defaults);
        return *preferences_;
    }

    // Ends the model as a quit does, keeping what it stored.
    void restart() { updates_.reset(); }

    // Runs one manual check to its end.
    bool checkAndWait() {
        updates().checkManually();
        return waitForIdle();
    }

    bool waitForIdle() {
        return waitFor([&] { return !updates().isChecking(); });
    }

    static bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
        return QTest::qWaitFor(condition, milliseconds);
    }

    BuildInfo build = BuildInfo::release("1.2.0", "6");
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
    std::shared_ptr<FakeReleaseFeed> feed = std::make_shared<FakeReleaseFeed>();
    Date now = ReferenceDate::date(763732800); // 2025-03-15 12:00 UTC
    std::optional<SystemVersion> system;

private:
    std::unique_ptr<AppPreferences> preferences_;
    std::unique_ptr<AppUpdates> updates_;
};

} // namespace vessora
