// The editor's header with the fake engine: Start's six conditions each on
// its own, Stop and Delete, the actions they start, and the address line.
#include "Vessora/Windows/EditorHeader.hpp"
#include "Vessora/Windows/ElidedLabel.hpp"
#include "Vessora/Windows/StatusDot.hpp"
#include "tests/Vessora/Support/EditorTest.hpp"

#include <QCheckBox>

#include <utility>
#include <vector>

namespace vessora {
namespace {

class EditorHeaderTest : public EditorTest {
protected:
    // Stopped, installed, saved, with an engine and no hostname: Start is
    // enabled; each test then breaks one condition.
    void showStartable() {
        startMonitor();
        installEverything();
        showSelected();
        ASSERT_TRUE(enabled("startButton"));
    }
};

TEST_F(EditorHeaderTest, StartNeedsNoActionRunning) {
    showStartable();
    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing", false, [](AppEngine& e) { e.install("legacy"); }));
    EXPECT_FALSE(enabled("startButton"));
    EXPECT_FALSE(enabled("stopButton"));
    EXPECT_FALSE(enabled("deleteButton"));
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(enabled("startButton"));
    EXPECT_TRUE(enabled("deleteButton"));
}

TEST_F(EditorHeaderTest, StartNeedsTheEnvironmentStopped) {
    showStartable();
    engine->setStatus("studio", StackStatus{true, "Running", {{"MariaDB", 1}}});
    ASSERT_TRUE(waitFor([&] { return !enabled("startButton"); }));
    EXPECT_TRUE(enabled("stopButton"));
    // Delete stays available while the environment runs.
    EXPECT_TRUE(enabled("deleteButton"));
}

TEST_F(EditorHeaderTest, StartNeedsEveryPackageOfTheSavedRecord) {
    showStartable();
    InstallationStatus missing;
    missing.installed = {{"nginx", true}, {"php@8.4", true}, {"mariadb@11.4", false}};
    engine->setInstallations(missing);
    refreshPackages();
    EXPECT_FALSE(enabled("startButton"));
    // A formula without an entry counts as missing too.
    missing.installed.erase("mariadb@11.4");
    engine->setInstallations(missing);
    refreshPackages();
    EXPECT_FALSE(enabled("startButton"));
}

TEST_F(EditorHeaderTest, StartNeedsTheDraftSaved) {
    showStartable();
    type("nameField", "Edited");
    EXPECT_FALSE(enabled("startButton"));
    click("discardButton");
    EXPECT_TRUE(enabled("startButton"));
}

TEST_F(EditorHeaderTest, StartStopAndDeleteWithoutAnEngine) {
    AppModel::Options noEngine = options();
    noEngine.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw std::runtime_error("Another Vessora instance is already using this data directory.");
    };
    AppModel broken(noEngine);
    ASSERT_FALSE(broken.hasEngine());
    EnvironmentEditor editor(broken, preferences, StackProfile::defaults().front(), &window);
    const auto isEnabled = [&](const char* name) {
        return editor.findChild<QWidget*>(name)->isEnabled();
    };
    // Without an engine no package status is ever known, so Start's
    // engine condition never stands alone here: it is read as missing.
    const auto conditions = EditorHeader::startConditions(editor.state());
    EXPECT_FALSE(conditions.engine);
    EXPECT_FALSE(conditions.busy);
    EXPECT_FALSE(conditions.unsaved);
    // No status known: Stop follows the processes, Delete only busy.
    EXPECT_FALSE(isEnabled("startButton"));
    EXPECT_FALSE(isEnabled("stopButton"));
    EXPECT_TRUE(isEnabled("deleteButton"));
    EXPECT_EQ(editor.findChild<QLabel*>("statusText")->text(), "Checking…");
}

TEST_F(EditorHeaderTest, EachStartConditionOnItsOwnDisablesStart) {
    using Conditions = EditorHeader::StartConditions;
    Conditions startable;
    startable.ready = true;
    startable.engine = true;
    ASSERT_TRUE(EditorHeader::startAllowed(startable));
    const std::vector<std::pair<const char*, void (*)(Conditions&)>> broken = {
        {"busy", [](Conditions& c) { c.busy = true; }},
        {"running", [](Conditions& c) { c.running = true; }},
        {"not ready", [](Conditions& c) { c.ready = false; }},
        {"unsaved", [](Conditions& c) { c.unsaved = true; }},
        {"no engine", [](Conditions& c) { c.engine = false; }},
        {"hostname without addresses", [](Conditions& c) { c.hostnameWithoutAddresses = true; }},
    };
    for (const auto& [name, breakOne] : broken) {
        Conditions conditions = startable;
        breakOne(conditions);
        EXPECT_FALSE(EditorHeader::startAllowed(conditions)) << name;
    }
}

TEST_F(EditorHeaderTest, AHostnameNeedsConnectedLocalAddresses) {
    storeStudio([](StackProfile& studio) {
        studio.hostname = "studio.test";
        studio.virtualHost = true;
    });
    startMonitor();
    installEverything();
    showSelected();
    EXPECT_FALSE(enabled("startButton"));
    // The same environment without a hostname can start.
    model().setSelectedID("legacy");
    EXPECT_TRUE(enabled("startButton"));
    model().setSelectedID("studio");
    connectLocalAddresses();
    EXPECT_TRUE(enabled("startButton"));
}

TEST_F(EditorHeaderTest, StopFollowsTheProcessesNotTheRunningFlag) {
    showStartable();
    EXPECT_FALSE(enabled("stopButton"));
    engine->setStatus("studio", StackStatus{false, "Preparing…", {{"MariaDB", 9}}});
    ASSERT_TRUE(waitFor([&] { return enabled("stopButton"); }));
    EXPECT_EQ(text("statusText"), "Preparing…");
    EXPECT_FALSE(find<StatusDot>("statusDot")->running());
}

TEST_F(EditorHeaderTest, StartAndStopRunThroughTheModelWithTheSavedID) {
    showStartable();
    engine->hold("start");
    click("startButton");
    ASSERT_TRUE(waitUntilHeld("start"));
    EXPECT_EQ(model().activity(), "Starting Studio…");
    EXPECT_FALSE(enabled("startButton"));
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return find<StatusDot>("statusDot")->running(); }));
    EXPECT_EQ(text("statusText"), "Running");
    EXPECT_EQ(find<QLabel>("statusText")->toolTip(), "Running");
    EXPECT_EQ(find<StatusDot>("statusDot")->colour(), StatusDot::runningColour());

    engine->hold("stop");
    click("stopButton");
    ASSERT_TRUE(waitUntilHeld("stop"));
    EXPECT_EQ(model().activity(), "Stopping Studio…");
    engine->release("stop");
    ASSERT_TRUE(waitForIdle());
    EXPECT_NE(std::find(engine->log().begin(), engine->log().end(), "start(studio)"),
              engine->log().end());
    EXPECT_NE(std::find(engine->log().begin(), engine->log().end(), "stop(studio)"),
              engine->log().end());
    ASSERT_TRUE(waitFor([&] { return !find<StatusDot>("statusDot")->running(); }));
    EXPECT_TRUE(enabled("startButton"));
}

TEST_F(EditorHeaderTest, AFailedStartShowsTheEnginesTextAsTheStatus) {
    showStartable();
    engine->fail("start", "MariaDB did not start. See studio/logs/mariadb-error.log.");
    click("startButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "MariaDB did not start. See studio/logs/mariadb-error.log.");
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_TRUE(enabled("startButton"));
}

TEST_F(EditorHeaderTest, DeleteHandsTheSavedRecordToTheConfirmation) {
    showStartable();
    type("nameField", "Unsaved name");
    click("deleteButton");
    EXPECT_TRUE(model().showDeleteConfirmation());
    ASSERT_TRUE(model().pendingDeletion());
    EXPECT_EQ(*model().pendingDeletion(), StackProfile::defaults().front());
    EXPECT_EQ(engine->calls("remove"), 0);
    auto* button = find<QAbstractButton>("deleteButton");
    EXPECT_EQ(button->toolTip(), "Delete environment…");
    EXPECT_EQ(button->accessibleName(), "Delete environment");
}

TEST_F(EditorHeaderTest, TheAddressLinePrefersHTTPSAndNamesTheMariaDBPort) {
    storeStudio([](StackProfile& studio) {
        studio.httpsEnabled = true;
        studio.httpsPort = 8443;
    });
    startMonitor();
    showSelected();
    EXPECT_EQ(text("addressLine"), "https://127.0.0.1:8443 · MariaDB :13307");
    // The line shows the saved record, not the draft.
    find<QCheckBox>("httpsBox")->click();
    EXPECT_EQ(text("addressLine"), "https://127.0.0.1:8443 · MariaDB :13307");
    model().setSelectedID("legacy");
    EXPECT_EQ(text("addressLine"), "http://127.0.0.1:8081 · MariaDB :13308");
    storeStudio([](StackProfile& studio) {
        studio.hostname = "studio.test";
        studio.virtualHost = true;
        studio.name = std::string(200, 'W');
    });
    model().setSelectedID("studio");
    reload();
    EXPECT_EQ(text("addressLine"), "http://studio.test:8088 · MariaDB :13307");
    // A long name stays on one line, shortened, and never widens the window.
    auto* name = find<ElidedLabel>("environmentName");
    EXPECT_EQ(name->text().size(), 200);
    EXPECT_LT(name->shownText().size(), 200);
    EXPECT_TRUE(name->shownText().endsWith(QChar(0x2026)));
    EXPECT_LE(editor()->width(), window.width());
}

} // namespace
} // namespace vessora
