// The orderly quit: the close button, the Quit command and the session's
// signals take one road that waits for the running action, stops every
// environment once (again while the engine is busy with something else, up
// to the bound), keeps the window up meanwhile and only then ends the loop.
// Quit reaches the shell from every window of the program, a sheet over the
// main window included, as the keys a user presses there.
#include "Vessora/App/AppShell.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/QuitOnSignal.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SettingsWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

namespace vessora {
namespace {

class AppShellTest : public AppModelTest {
protected:
    void SetUp() override {
        UserDefaults::setStandard(defaults);
        FileChooser::setCurrent(chooser);
    }

    void TearDown() override {
        feed->release();
        engine->releaseAll();
        shell_.reset();
        FileChooser::setCurrent(nullptr);
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

    QDialog* sheet() { return shell().window().sheets().current(); }

    bool waitForSheet(const char* name) {
        return waitFor([&] { return sheet() && sheet()->objectName() == name; });
    }

    // The widget a user's keys go to once `window` is in front: the one
    // with the focus there, else the window itself, as Qt delivers them.
    static QWidget* focusIn(QWidget* window) {
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window))
            return nullptr;
        QWidget* focused = window->focusWidget();
        return focused && focused->isVisible() ? focused : window;
    }

    int quitActionTriggers() {
        auto* quit = shell().window().findChild<QAction*>("quitAction");
        if (!quitSpy_)
            quitSpy_ = std::make_unique<QSignalSpy>(quit, &QAction::triggered);
        return static_cast<int>(quitSpy_->count());
    }

    // What the import wizard's default runtime needs, before the window
    // loads the package status.
    void installImportRuntime() {
        InstallationStatus installations;
        for (const char* formula : {"nginx", "php@8.4", "mariadb@11.4"})
            installations.installed[formula] = true;
        engine->setInstallations(installations);
    }

    // The wizard over the main window, filled and importing "Portal" from a
    // folder, held in its copying phase.
    MigrationSheet* importHeldWhileCopying() {
        engine->setMigrationPhases(
            {MigrationPhase::checking, MigrationPhase::copying, MigrationPhase::importing});
        engine->hold(FakeAppEngine::phaseGate(MigrationPhase::copying));
        shell().model().setShowMigration(true);
        if (!waitForSheet("migrationSheet")) {
            ADD_FAILURE() << "no import wizard";
            return nullptr;
        }
        auto* wizard = qobject_cast<MigrationSheet*>(sheet());
        auto* name = wizard->findChild<QLineEdit*>("nameField");
        name->setFocus();
        name->insert("Portal");
        wizard->findChild<QPushButton*>("chooseFolderButton")->click();
        chooser->answer(project.path());
        auto* next = wizard->findChild<QPushButton*>("primaryButton");
        for (int step = 0; step <= MigrationDraft::reviewStep; ++step) {
            if (!next->isEnabled()) {
                ADD_FAILURE() << "the wizard does not go on from step " << step;
                return nullptr;
            }
            next->click();
        }
        if (!wizard->draft().importing() ||
            !waitUntilHeld(FakeAppEngine::phaseGate(MigrationPhase::copying))) {
            ADD_FAILURE() << "the import did not start";
            return nullptr;
        }
        return wizard;
    }

    BuildInfo updatesBuild = BuildInfo::developmentBuild();
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
    TemporaryFolder project{"vessora-project"};
    std::unique_ptr<QSignalSpy> quitSpy_;
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

// The reported case: a long import with its progress sheet in front. Ctrl+Q
// there, again, the menu item and the window's close button all ask for
// the one quit, which waits for the import to end, then stops everything.
TEST_F(AppShellTest, QuitFromTheImportSheetWaitsForTheImportThenStopsEverythingOnce) {
    installImportRuntime();
    startAndWaitForPolls();
    ASSERT_TRUE(waitFor([&] { return shell().model().packageStatusKnown(); }));
    MigrationSheet* wizard = importHeldWhileCopying();
    ASSERT_NE(wizard, nullptr);
    QWidget* focused = focusIn(wizard);
    ASSERT_NE(focused, nullptr);
    ASSERT_EQ(quitActionTriggers(), 0);

    QTest::keyClick(focused, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(shell().terminating());
    EXPECT_EQ(activityShown(), "Stopping environments…");
    EXPECT_EQ(quitActionTriggers(), 1);
    QTest::keyClick(focused, Qt::Key_Q, Qt::ControlModifier);
    shell().window().findChild<QAction*>("quitAction")->trigger();
    EXPECT_FALSE(shell().window().close());
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("stopAll"), 0);
    EXPECT_EQ(exits, 0);
    // The sheet stays as it was, the import goes on.
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_TRUE(wizard->draft().importing());
    EXPECT_TRUE(shell().window().isVisible());

    engine->hold("stopAll");
    engine->release(FakeAppEngine::phaseGate(MigrationPhase::copying));
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    // The import ended as it would have; its result shows until the end.
    ASSERT_TRUE(wizard->draft().result().has_value());
    EXPECT_EQ(wizard->findChild<IconLabel*>("resultStatus")->text(), "Import complete");
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(activityShown(), "Stopping environments…");
    EXPECT_EQ(exits, 0);
    engine->release("stopAll");
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
    EXPECT_EQ(engine->calls("migrate"), 1);
    const auto calls = engine->log();
    EXPECT_LT(std::find(calls.begin(), calls.end(), "migrate(Portal)"),
              std::find(calls.begin(), calls.end(), "stopAll"));
    EXPECT_FALSE(shell().model().error());
    QTest::qWait(50);
    EXPECT_EQ(exits, 1);
}

// Ctrl+Q in a sheet's field while an action runs: no keystroke for the
// field, the sheet keeps what was typed until the program ends, and
// nothing new can start from it meanwhile.
TEST_F(AppShellTest, QuitInASheetFieldKeepsTheSheetAsTypedUntilTheActionEnds) {
    startAndWaitForPolls();
    engine->hold("install");
    ASSERT_TRUE(shell().model().perform("Installing packages for Legacy…", false,
                                        [](AppEngine& e) { e.install("legacy"); }));
    ASSERT_TRUE(waitUntilHeld("install"));
    shell().model().setShowCreate(true);
    ASSERT_TRUE(waitForSheet("newEnvironmentSheet"));
    QDialog* create = sheet();
    auto* name = create->findChild<QLineEdit*>("nameField");
    ASSERT_NE(focusIn(create), nullptr);
    name->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == name; }));
    QTest::keyClicks(name, "Shop");

    QTest::keyClick(name, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(shell().terminating());
    EXPECT_EQ(name->text().toStdString(), "Shop");
    EXPECT_EQ(activityShown(), "Stopping environments…");
    EXPECT_FALSE(create->findChild<QPushButton*>("createButton")->isEnabled());
    QTest::qWait(100);
    EXPECT_EQ(engine->calls("stopAll"), 0);

    engine->hold("stopAll");
    engine->release("install");
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    EXPECT_EQ(sheet(), create);
    EXPECT_TRUE(create->isVisible());
    EXPECT_EQ(name->text().toStdString(), "Shop");
    EXPECT_FALSE(create->findChild<QPushButton*>("createButton")->isEnabled());
    EXPECT_EQ(activityShown(), "Stopping environments…");
    engine->release("stopAll");
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
    EXPECT_EQ(engine->calls("create"), 0);
}

// With nothing running the quit stops everything at once, from each sheet
// the window presents, the settings window or the window itself; a held
// key's repeats ask nothing more.
TEST_F(AppShellTest, QuitWithNothingRunningStopsAndEndsAtOnceFromEveryWindow) {
    struct Front {
        std::string name;
        // Opens it; the object name of the sheet it presents, none for a
        // window of its own.
        std::function<std::string(AppShell&)> open;
    };
    const std::vector<Front> fronts{
        {"window", [](AppShell&) { return std::string(); }},
        {"about",
         [](AppShell& s) {
             s.window().findChild<QAction*>("aboutAction")->trigger();
             return std::string("aboutBox");
         }},
        {"create",
         [](AppShell& s) {
             s.model().setShowCreate(true);
             return std::string("newEnvironmentSheet");
         }},
        {"import",
         [](AppShell& s) {
             s.model().setShowMigration(true);
             return std::string("migrationSheet");
         }},
        {"local addresses",
         [](AppShell& s) {
             s.model().setShowLocalHosts(true);
             return std::string("localHostSheet");
         }},
        {"update details",
         [](AppShell& s) {
             s.updates().setShowDetails(true);
             return std::string("updateDetailsSheet");
         }},
        {"delete confirmation",
         [](AppShell& s) {
             s.model().setPendingDeletion(s.model().profiles().front());
             s.model().setShowDeleteConfirmation(true);
             return std::string("deleteConfirmation");
         }},
        {"settings",
         [](AppShell& s) {
             s.openSettings();
             return std::string();
         }},
    };
    for (const Front& front : fronts) {
        SCOPED_TRACE(front.name);
        shell_.reset();
        quitSpy_.reset();
        exits = 0;
        const int stopsBefore = engine->calls("stopAll");
        startAndWaitForPolls();
        const std::string sheetName = front.open(shell());
        QWidget* window = &shell().window();
        if (!sheetName.empty()) {
            ASSERT_TRUE(waitForSheet(sheetName.c_str()));
            window = sheet();
        } else if (front.name == "settings") {
            window = shell().settingsWindow();
        }
        QWidget* focused = focusIn(window);
        ASSERT_NE(focused, nullptr);
        ASSERT_EQ(quitActionTriggers(), 0);
        QTest::keyClick(focused, Qt::Key_Q, Qt::ControlModifier);
        QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier, QString(), true);
        QApplication::sendEvent(focused, &repeated);
        ASSERT_TRUE(waitFor([&] { return exits == 1; }));
        EXPECT_EQ(engine->calls("stopAll"), stopsBefore + 1);
        EXPECT_EQ(quitActionTriggers(), 1);
    }
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
    // Quit shows its keys, also where the platform names none.
    EXPECT_EQ(
        shell().window().findChild<QAction*>("quitAction")->shortcut().toString().toStdString(),
        "Ctrl+Q");

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
