// The status poll and its supervision, and stop / stop-all, with sleeping
// stand-in processes in the engine's table and a fake helper.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class StackEngineStatusTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        auto options =
            StackEngineTesting::quickOptions(folder.path() / "data", brew.brew(), helper);
        engine = std::make_unique<StackEngine>(options);
    }
    void TearDown() override {
        StackEngineTesting::setBusy(*engine, false);
        engine->stopAll();
        fs::remove_all(engine->socketDirectory());
        UserDefaults::setStandard(nullptr);
    }

    StackProfile create(const std::string& name, std::optional<std::string> hostname = {},
                        bool virtualHost = false) {
        return engine->create(name, "php@8.4", "mariadb@11.4", false, "nginx", false, std::nullopt,
                              "app", hostname, virtualHost, false);
    }

    // Launches stand-ins for the given services; returns them in order.
    std::vector<std::shared_ptr<ManagedProcess>>
    run(const std::string& id, std::vector<std::string> services = {"MariaDB", "PHP", "nginx"}) {
        std::vector<std::shared_ptr<ManagedProcess>> launched;
        for (const std::string& service : services) {
            launched.push_back(std::make_shared<ManagedProcess>(service, "/bin/sleep",
                                                                std::vector<std::string>{"60"},
                                                                folder.path() / "process.log"));
            StackEngineTesting::addProcess(*engine, id, launched.back());
        }
        return launched;
    }

    static void killAndWait(ManagedProcess& process) {
        ::kill(process.pid(), SIGKILL);
        for (int attempt = 0; attempt < 200 && process.isRunning(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    StackStatus status(const std::string& id) { return engine->statuses().at(id); }

    TemporaryFolder folder{"vessora-status"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
};

TEST_F(StackEngineStatusTests, DescriptionsOfStoppedAndRunningEnvironments) {
    const StackProfile shop = create("Shop");
    EXPECT_EQ(engine->statuses().size(), 3u) << "the two built-ins and the new one";
    EXPECT_EQ(status(shop.id), (StackStatus{false, "Stopped", {}}));

    const fs::path report = StackPaths(engine->root(), shop).migrationReport();
    PrivateFile::write(report, "not json");
    EXPECT_EQ(status(shop.id).description, "Migration incomplete");
    MigrationReport done;
    done.succeeded = true;
    done.save(report);
    EXPECT_EQ(status(shop.id).description, "Stopped");
    done.succeeded = false;
    done.save(report);
    StackEngineTesting::setFailure(*engine, shop.id, "It broke.");
    EXPECT_EQ(status(shop.id).description, "It broke.") << "failure text wins";

    const auto processes = run(shop.id);
    const StackStatus running = status(shop.id);
    EXPECT_TRUE(running.running);
    EXPECT_EQ(running.description, "Running");
    EXPECT_EQ(running.processes,
              (std::map<std::string, std::int32_t>{{"MariaDB", processes[0]->pid()},
                                                   {"PHP", processes[1]->pid()},
                                                   {"nginx", processes[2]->pid()}}));
}

TEST_F(StackEngineStatusTests, WhileBusyAnExitedProcessIsOnlyReported) {
    const StackProfile shop = create("Shop");
    const auto processes = run(shop.id, {"MariaDB", "PHP"});
    StackEngineTesting::setBusy(*engine, true);
    EXPECT_EQ(status(shop.id),
              (StackStatus{false,
                           "Preparing…",
                           {{"MariaDB", processes[0]->pid()}, {"PHP", processes[1]->pid()}}}));
    killAndWait(*processes[1]);
    EXPECT_EQ(status(shop.id),
              (StackStatus{false, "Preparing…", {{"MariaDB", processes[0]->pid()}}}));
    EXPECT_EQ(StackEngineTesting::processCount(*engine, shop.id), 2u);
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, shop.id));
    EXPECT_TRUE(processes[0]->isRunning());
}

TEST_F(StackEngineStatusTests, PollLeavesTheFlagOfTheOperationThatHoldsIt) {
    const StackProfile shop = create("Shop");
    const auto processes = run(shop.id);
    // An operation waits in a helper request, holding the flag.
    helper->hold();
    auto switching = std::async(std::launch::async, [&] { engine->configureLocalHosts(true); });
    ASSERT_TRUE(helper->waitUntilHeld());
    killAndWait(*processes[1]);

    EXPECT_EQ(status(shop.id).description, "Preparing…");
    EXPECT_TRUE(StackEngineTesting::busy(*engine))
        << "the poll must not clear a flag it did not take";
    EXPECT_EQ(thrownMessage([&] { engine->stop(shop.id); }),
              "Another Vessora action is still in progress.");
    EXPECT_TRUE(processes[0]->isRunning());

    helper->release();
    switching.get();
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    // Idle again: the next poll takes the environment down.
    EXPECT_EQ(status(shop.id).description, "Process exited: PHP (9)");
}

TEST_F(StackEngineStatusTests, PollJudgesAnExitAgainOnceItHoldsTheFlag) {
    // Between the poll's first look and its claim of the flag, a stop ends
    // the environment cleanly: no "Process exited:" text appears.
    const StackProfile shop = create("Shop");
    const auto processes = run(shop.id);
    killAndWait(*processes[2]);
    StackEngineTesting::onExitSeen(*engine, [&](const std::string& id) {
        EXPECT_EQ(id, shop.id);
        engine->stop(id);
    });
    EXPECT_EQ(status(shop.id), (StackStatus{false, "Stopped", {}}));
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, shop.id));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // A failed start took it down and kept its own text: the text stays.
    const auto again = run(shop.id);
    killAndWait(*again[0]);
    StackEngineTesting::onExitSeen(*engine, [&](const std::string& id) {
        StackEngineTesting::stopProcesses(*engine, id);
        StackEngineTesting::setFailure(*engine, id, "MariaDB did not start.");
    });
    EXPECT_EQ(status(shop.id), (StackStatus{false, "MariaDB did not start.", {}}));

    // A start that launched new servers meanwhile is reported as it is now.
    const auto old = run(shop.id);
    killAndWait(*old[0]);
    std::vector<std::shared_ptr<ManagedProcess>> fresh;
    StackEngineTesting::onExitSeen(*engine, [&](const std::string& id) {
        StackEngineTesting::stopProcesses(*engine, id);
        fresh = run(id);
    });
    const StackStatus now = status(shop.id);
    StackEngineTesting::onExitSeen(*engine, nullptr);
    EXPECT_TRUE(now.running);
    EXPECT_EQ(now.description, "Running");
    ASSERT_EQ(fresh.size(), 3u);
    EXPECT_EQ(now.processes.at("MariaDB"), fresh[0]->pid());
}

TEST_F(StackEngineStatusTests, ExitedProcessStopsItsEnvironmentAndTellsTheHelper) {
    const StackProfile shop = create("Shop");
    const StackProfile other = create("Other");
    engine->configureLocalHosts(true);
    const std::size_t requests = helper->requests().size();
    const auto processes = run(shop.id);
    const auto others = run(other.id);
    killAndWait(*processes[0]);
    killAndWait(*processes[2]);

    const std::string text = "Process exited: MariaDB (9), nginx (9)";
    EXPECT_EQ(status(shop.id), (StackStatus{false, text, {}}));
    EXPECT_FALSE(processes[1]->isRunning());
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, shop.id));
    EXPECT_EQ(helper->requests().size(), requests + 1);
    EXPECT_EQ(status(shop.id).description, text);
    EXPECT_TRUE(status(other.id).running);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

TEST_F(StackEngineStatusTests, LostHelperStopsEnvironmentsWithHostnames) {
    const StackProfile named = create("Named", "named.test");
    const StackProfile plain = create("Plain");
    engine->configureLocalHosts(true);
    run(named.id);
    run(plain.id);
    helper->setConnected(false);
    const std::size_t requests = helper->requests().size();

    const auto statuses = engine->statuses();
    EXPECT_EQ(statuses.at(named.id).description,
              "Local host setup disconnected. Reconnect it before starting this environment.");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, named.id));
    EXPECT_TRUE(statuses.at(plain.id).running);
    EXPECT_FALSE(StackEngineTesting::localHostsEnabled(*engine));
    EXPECT_EQ(helper->requests().size(), requests);
}

TEST_F(StackEngineStatusTests, RouterGoneStopsOnlyRoutedEnvironments) {
    const StackProfile routed = create("Routed", "routed.test", true);
    const StackProfile named = create("Named", "named.test", false);
    run(routed.id);
    run(named.id);
    // Never started: the router has no process at all.
    const auto statuses = engine->statuses();
    EXPECT_EQ(statuses.at(routed.id).description,
              "The local host router stopped. Start the environment again.");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, routed.id));
    EXPECT_TRUE(statuses.at(named.id).running);
    EXPECT_TRUE(helper->requests().empty()) << "local addresses are off";
}

TEST_F(StackEngineStatusTests, StopClearsTheFailureAndStopAllKeepsIt) {
    const StackProfile shop = create("Shop");
    const StackProfile other = create("Other");
    EXPECT_EQ(thrownMessage([&] { engine->stop("nope"); }), "Unknown environment.");
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // Without processes a stop only clears the kept failure text.
    StackEngineTesting::setFailure(*engine, shop.id, "It broke.");
    engine->stop(shop.id);
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, shop.id));
    EXPECT_TRUE(helper->requests().empty());

    engine->configureLocalHosts(true);
    const auto processes = run(shop.id);
    StackEngineTesting::setFailure(*engine, shop.id, "It broke.");
    engine->stop(shop.id);
    for (const auto& process : processes)
        EXPECT_FALSE(process->isRunning());
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, shop.id));
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, shop.id));
    const std::size_t requests = helper->requests().size();

    run(shop.id);
    run(other.id);
    StackEngineTesting::setFailure(*engine, other.id, "Still broken.");
    helper->fail("The helper is gone.");
    EXPECT_EQ(thrownMessage([&] { engine->stopAll(); }), "The helper is gone.");
    EXPECT_EQ(helper->requests().size(), requests + 1);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, shop.id));
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, other.id));
    EXPECT_TRUE(StackEngineTesting::hasFailure(*engine, other.id));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    helper->fail(std::nullopt);
}

TEST_F(StackEngineStatusTests, StopIsRefusedWhileAnotherOperationWaits) {
    const StackProfile shop = create("Shop");
    engine->configureLocalHosts(true);
    run(shop.id);
    helper->hold();
    auto stopping = std::async(std::launch::async, [&] { engine->stop(shop.id); });
    ASSERT_TRUE(helper->waitUntilHeld());
    EXPECT_EQ(thrownMessage([&] { engine->stopAll(); }),
              "Another Vessora action is still in progress.");
    // The poll still answers and supervises nothing meanwhile.
    EXPECT_EQ(status(shop.id).description, "Stopped");
    helper->release();
    stopping.get();
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

} // namespace
} // namespace vessora
