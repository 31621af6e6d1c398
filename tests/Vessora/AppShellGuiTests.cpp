// The orderly quit: the close button, the Quit command and the session's
// signals take one road that waits for the running action, stops every
// environment once (again while the engine is busy with something else, up
// to the bound), keeps the window up meanwhile and only then ends the loop.
#include "Vessora/App/AppShell.hpp"
#include "Vessora/App/QuitOnSignal.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SettingsWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

namespace vessora {
namespace {

class AppShellTest : public AppModelTest {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }

    void TearDown() override {
        feed->release();
        engine->releaseAll();
        shell_.reset();
        AppModelTest::TearDown();
        UserDefaults::setStandard(UserDefaults::inMemory());
    }

    AppShell& shell() {
        if (!shell_) {
            AppShell::Options options;
            options.model = this->options();
            options.model.quitStopLimit = quitStopLimit;
            options.model.quitStopPause = std::chrono::milliseconds(20);
            options.updates = updatesOptions();
            options.defaults = defaults;
            options.exit = [this] { ++exits; };
            shell_ = std::make_unique<AppShell>(std::move(options));
            shell_->start();
        }
        return *shell_;
    }

    // The update checks on the fake feed; a development build unless a test
    // sets updatesBuild.
    AppUpdates::Options updatesOptions() {
        AppUpdates::Options result;
        result.build = updatesBuild;
        result.defaults = defaults;
        result.feed = feed;
        return result;
    }

    void startAndWaitForPolls() {
        shell();
        const int before = engine->calls("statuses");
        ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= before + 2; }));
    }

    std::string activityShown() {
        return shell().window().findChild<QLabel*>("activityText")->accessibleName().toStdString();
    }

    BuildInfo updatesBuild = BuildInfo::developmentBuild();
    std::shared_ptr<FakeReleaseFeed> feed = std::make_shared<FakeReleaseFeed>();
    std::chrono::milliseconds quitStopLimit{10000};
    int exits = 0;
    std::unique_ptr<AppShell> shell_;
};

TEST_F(AppShellTest, CloseWaitsForTheRunningActionStopsOnceThenEnds) {
    engine->setStatus("studio", StackStatus{true, "Running", {{"PHP", 4}}});
    startAndWaitForPolls();
    engine->hold("install");
    ASSERT_TRUE(shell().model().perform("Installing packages for Legacy…", false,
                                        [](AppEngine& e) { e.install("legacy"); }));
    ASSERT_TRUE(waitUntilHeld("install"));
    const auto log = StackPaths::installLog(root.path());
    std::filesystem::create_directories(log.parent_path());
    { std::ofstream(log) << "==> Installing php@8.3\n"; }
    auto* installLog = shell().window().findChild<QWidget*>("installLog");
    ASSERT_TRUE(waitFor([&] { return installLog->isVisible(); }));

    EXPECT_FALSE(shell().window().close());
    EXPECT_TRUE(shell().terminating());
    // A second request, by any road, changes nothing.
    shell().window().findChild<QAction*>("quitAction")->trigger();
    shell().requestQuit();
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("stopAll"), 0);
    EXPECT_TRUE(shell().window().isVisible());
    EXPECT_EQ(activityShown(), "Stopping environments…");
    EXPECT_EQ(exits, 0);
    // No new action starts now.
    EXPECT_FALSE(
        shell().model().perform("Stopping Studio…", false, [](AppEngine& e) { e.stop("studio"); }));

    engine->hold("stopAll");
    engine->release("install");
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    EXPECT_EQ(activityShown(), "Stopping environments…");
    // The stop installs nothing: the earlier log is gone.
    QTest::qWait(100);
    EXPECT_FALSE(installLog->isVisible());
    EXPECT_TRUE(shell().window().isVisible());
    engine->release("stopAll");
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
    EXPECT_EQ(engine->calls("stop"), 0);
    const auto calls = engine->log();
    EXPECT_LT(std::find(calls.begin(), calls.end(), "install(legacy)"),
              std::find(calls.begin(), calls.end(), "stopAll"));
    EXPECT_FALSE(shell().model().error());
    // The shell lets the window close now.
    EXPECT_TRUE(shell().window().close());
    QTest::qWait(50);
    EXPECT_EQ(exits, 1);
}

TEST_F(AppShellTest, StopAllIsRetriedWhileTheEngineIsBusyElsewhere) {
    startAndWaitForPolls();
    // The engine is busy with something the interface did not start.
    engine->setBusy(true);
    shell().requestQuit();
    ASSERT_TRUE(waitFor([&] { return engine->calls("stopAll") >= 3; }));
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(shell().window().isVisible());
    EXPECT_EQ(activityShown(), "Stopping environments…");
    EXPECT_TRUE(shell().model().busy());
    EXPECT_FALSE(shell().window().findChild<QWidget*>("stopAllButton")->isEnabled());

    engine->setBusy(false);
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_FALSE(shell().model().error());
    const int calls = engine->calls("stopAll");
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("stopAll"), calls);
}

TEST_F(AppShellTest, TheRetryGivesUpAtTheBoundAndTheQuitGoesOn) {
    quitStopLimit = std::chrono::milliseconds(300);
    startAndWaitForPolls();
    engine->setBusy(true);
    const auto started = std::chrono::steady_clock::now();
    shell().requestQuit();
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_GE(engine->calls("stopAll"), 2);
    EXPECT_EQ(shell().model().error(), "Another Vessora action is still in progress.");
    engine->setBusy(false);
}

TEST_F(AppShellTest, AnotherFailureOfStopAllIsNotRetried) {
    startAndWaitForPolls();
    engine->fail("stopAll", "Some services could not be stopped.");
    shell().requestQuit();
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
    EXPECT_EQ(shell().model().error(), "Some services could not be stopped.");
}

TEST_F(AppShellTest, SigtermTakesTheSameRoad) {
    startAndWaitForPolls();
    QuitOnSignal onSignal;
    QObject::connect(&onSignal, &QuitOnSignal::quitRequested, &shell(), &AppShell::requestQuit);
    engine->hold("stopAll");
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    EXPECT_TRUE(shell().terminating());
    EXPECT_TRUE(shell().window().isVisible());
    // Ctrl+C and a closed terminal meanwhile change nothing.
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_EQ(std::raise(SIGHUP), 0);
    QTest::qWait(50);
    engine->release("stopAll");
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
}

TEST_F(AppShellTest, WithoutAnEngineTheQuitEndsAtOnce) {
    AppShell::Options options;
    options.model = this->options();
    options.model.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw std::runtime_error("No data root.");
    };
    options.updates = updatesOptions();
    options.defaults = defaults;
    options.exit = [this] { ++exits; };
    AppShell noEngine(std::move(options));
    noEngine.start();
    noEngine.requestQuit();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(noEngine.model().error(), "No data root.");
}

TEST_F(AppShellTest, AQuitBeforeTheWindowWasShownEndsAtOnceWithoutStopping) {
    AppShell::Options options;
    options.model = this->options();
    options.updates = updatesOptions();
    options.defaults = defaults;
    options.exit = [this] { ++exits; };
    AppShell early(std::move(options));
    early.requestQuit();
    EXPECT_EQ(exits, 1);
    early.requestQuit();
    // Too late to show anything now.
    early.start();
    QTest::qWait(100);
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(early.window().isVisible());
    EXPECT_TRUE(engine->log().empty());
}

TEST_F(AppShellTest, TheLanguageIsWrittenForTheSystemBeforeTheWindow) {
    defaults->set("Vessora.language", "fr");
    shell();
    EXPECT_EQ(defaults->value("AppleLanguages"), nlohmann::json({"fr"}));
    EXPECT_FALSE(shell().window().windowIcon().isNull());
}

TEST_F(AppShellTest, TheLanguageLinkAndSettingsOpenOneSettingsWindow) {
    startAndWaitForPolls();
    EXPECT_EQ(shell().settingsWindow(), nullptr);
    shell().window().findChild<QAction*>("languageAction")->trigger();
    SettingsWindow* settings = shell().settingsWindow();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_TRUE(settings->isWindow());
    EXPECT_NE(settings->findChild<QWidget*>("preferencesView"), nullptr);
    EXPECT_EQ(settings->windowTitle().toStdString(), "Settings");
    shell().window().findChild<QAction*>("settingsAction")->trigger();
    EXPECT_EQ(shell().settingsWindow(), settings);
    shell().preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(settings->windowTitle().toStdString(), "Einstellungen");
    settings->close();
    EXPECT_TRUE(waitFor([&] { return shell().settingsWindow() == nullptr; }));
}

// A main window low on a 1600×1000 screen must not push settings below its edge.
TEST(SettingsPlacementTest, TheWindowIsCentredOverTheMainWindowAndKeptOnTheScreen) {
    const QRect screen(0, 0, 1600, 1000);
    const QSize frame(560, 700);
    EXPECT_EQ(SettingsWindow::placement(frame, QRect(300, 100, 1000, 800), screen),
              QPoint(520, 150));
    const QPoint low = SettingsWindow::placement(frame, QRect(100, 600, 1000, 800), screen);
    EXPECT_TRUE(screen.contains(QRect(low, frame))) << low.x() << "," << low.y();
    EXPECT_EQ(low.y(), 300);
    const QPoint right = SettingsWindow::placement(frame, QRect(1300, 0, 600, 400), screen);
    EXPECT_TRUE(screen.contains(QRect(right, frame))) << right.x() << "," << right.y();
    // A screen smaller than the window: its top-left stays reachable.
    EXPECT_EQ(SettingsWindow::placement(frame, QRect(0, 0, 400, 300), QRect(0, 24, 500, 500)),
              QPoint(0, 24));
}

// Settings open over the main window, wholly on its screen. The main window
// sits in the screen's far corner, away from where a new window would
// appear by itself (the top-left corner, offscreen).
TEST_F(AppShellTest, SettingsOpenOverTheMainWindowWhollyOnItsScreen) {
    startAndWaitForPolls();
    QWidget& main = shell().window();
    const QRect available = main.screen()->availableGeometry();
    main.move(available.right() - 400, available.bottom() - 300);
    const QRect mainShown = main.frameGeometry() & available;
    ASSERT_FALSE(mainShown.contains(available.topLeft()));
    shell().window().findChild<QAction*>("settingsAction")->trigger();
    SettingsWindow* settings = shell().settingsWindow();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    const QRect frame = settings->frameGeometry();
    const auto describe = [](const QRect& r) {
        return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
               std::to_string(r.width()) + "x" + std::to_string(r.height());
    };
    EXPECT_TRUE(available.contains(frame)) << describe(frame) << " on " << describe(available);
    EXPECT_TRUE(mainShown.contains(frame.center()))
        << describe(frame) << " is not over " << describe(mainShown);
    settings->close();
    EXPECT_TRUE(waitFor([&] { return shell().settingsWindow() == nullptr; }));
}

TEST_F(AppShellTest, StartingChecksForUpdatesAutomaticallyAndTheMenuChecksOnRequest) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 7));
    startAndWaitForPolls();
    ASSERT_TRUE(waitFor([&] { return feed->calls() == 1 && !shell().updates().isChecking(); }));
    // The banner in the window tells of the newer release.
    auto* banner = shell().window().findChild<QWidget*>("updateBanner");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisible());

    feed->hold();
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 7));
    auto* check = shell().window().findChild<QAction*>("checkForUpdatesAction");
    check->trigger();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    EXPECT_FALSE(check->isEnabled());
    // The details open over the main window.
    EXPECT_TRUE(shell().updates().showDetails());
    ASSERT_NE(shell().window().sheets().current(), nullptr);
    EXPECT_EQ(shell().window().sheets().current()->objectName().toStdString(),
              "updateDetailsSheet");
    feed->release();
    ASSERT_TRUE(waitFor([&] { return !shell().updates().isChecking(); }));
    EXPECT_TRUE(check->isEnabled());
    shell().window().sheets().current()->reject();
    EXPECT_FALSE(shell().updates().showDetails());
}

// The menu opens with the application-info group, then the update command
// and the settings; About names the version the update check compares.
TEST_F(AppShellTest, TheMenuStartsWithAboutWhichShowsTheVersion) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    startAndWaitForPolls();
    auto* menu = shell().window().findChild<QMenu*>("applicationMenu");
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> items;
    for (QAction* action : menu->actions())
        items.push_back(action->isSeparator() ? "-" : action->objectName().toStdString());
    EXPECT_EQ(items, (std::vector<std::string>{"aboutAction", "-", "checkForUpdatesAction", "-",
                                               "settingsAction", "-", "quitAction"}));
    auto* about = shell().window().findChild<QAction*>("aboutAction");
    EXPECT_EQ(about->text().toStdString(), "About Vessora");

    about->trigger();
    auto* box = qobject_cast<QMessageBox*>(shell().window().sheets().current());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->objectName().toStdString(), "aboutBox");
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text().toStdString(), "Vessora");
    EXPECT_EQ(box->informativeText().toStdString(), "Version 1.2.0 (6)");
    EXPECT_FALSE(box->iconPixmap().isNull());

    shell().preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(about->text().toStdString(), "Über Vessora");
    EXPECT_EQ(box->windowTitle().toStdString(), "Über Vessora");
    box->findChild<QPushButton*>("aboutOKButton")->click();
    EXPECT_TRUE(waitFor([&] { return shell().window().sheets().current() == nullptr; }));
}

} // namespace
} // namespace vessora
