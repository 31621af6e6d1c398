// Base of the model's tests: a fake engine on a private folder, a fake
// helper registration, in-memory user defaults and a short monitor
// interval. model() builds the model on first use (tests adjust the fakes
// first); waitFor() spins the event loop until a condition holds, bounded.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeAppEngine.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace vessora {

class AppModelTest : public ::testing::Test {
protected:
    AppModel::Options options() {
        AppModel::Options result;
        result.build = BuildInfo::release("1.0.0", "1");
        result.environment = [](const std::string&) { return std::nullopt; };
        result.openEngine = [engine = engine](const std::filesystem::path&) {
            return std::static_pointer_cast<AppEngine>(engine);
        };
        if (openEngine)
            result.openEngine = openEngine;
        result.hostSetup = hostSetup;
        result.defaults = defaults;
        result.monitorInterval = monitorInterval;
        return result;
    }

    AppModel& model() {
        if (!model_)
            model_ = std::make_unique<AppModel>(options());
        return *model_;
    }

    // Ends the model: it waits for its running jobs, then lets the engine go.
    void resetModel() { model_.reset(); }

    // Starts the monitor and waits until its first poll has been applied:
    // a poll starts only after the previous one is done. A restart may
    // still see one poll of the monitor before it, so three reads: the
    // third begins only after the new monitor's first was applied.
    void startMonitor() {
        const int before = engine->calls("statuses");
        model().startMonitor();
        ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= before + 3; }));
    }

    // Spins the event loop until a call of `operation` waits at its gate.
    bool waitUntilHeld(const std::string& operation) {
        return waitFor([&] { return engine->isHeld(operation); });
    }

    // Waits for the running operation and its reloads to end.
    bool waitForIdle(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return waitFor([&] { return !model().busy(); }, limit);
    }

    static bool waitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return QTest::qWaitFor(condition, static_cast<int>(limit.count()));
    }

    void TearDown() override {
        // Open the gates first, so the model's end does not wait for them.
        engine->releaseAll();
        model_.reset();
        // The main thread never waits on the engine or the registration.
        EXPECT_FALSE(engine->calledFrom(std::this_thread::get_id()));
        EXPECT_FALSE(hostSetup->calledFrom(std::this_thread::get_id()));
    }

    TemporaryFolder root{"vessora-app"};
    std::shared_ptr<FakeAppEngine> engine = std::make_shared<FakeAppEngine>(root.path());
    std::shared_ptr<FakeHostSetup> hostSetup = std::make_shared<FakeHostSetup>();
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
    std::chrono::milliseconds monitorInterval{50};
    // Replaces the fake engine's opener, for a launch whose engine fails.
    AppModel::EngineOpener openEngine;

private:
    std::unique_ptr<AppModel> model_;
};

} // namespace vessora
