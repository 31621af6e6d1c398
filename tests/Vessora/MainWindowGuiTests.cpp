// The main window: one sheet at a time in the order asked, flags set back
// when a sheet closes, the toolbar, the editor made anew only when the saved
// record or the selection changes, the sizes, and a language change.
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QToolBar>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace vessora {

namespace {

class MainWindowShapeTest : public MainWindowTest {
protected:
    QAction* action(const char* name) {
        auto* found = window().findChild<QAction*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QWidget* editor() { return window().detail().editorSlot().editor(); }
};

TEST_F(MainWindowShapeTest, SheetsOpenOneAtATimeInTheOrderAsked) {
    startMonitor();
    window();
    model().setShowMigration(true);
    ASSERT_TRUE(waitForSheet("migrationSheet"));
    QPointer<QDialog> migration = sheet();
    EXPECT_EQ(migration->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(migration->isVisible());

    // Asked for meanwhile: they wait.
    action("localAddressesAction")->trigger();
    EXPECT_TRUE(model().showLocalHosts());
    StackProfile legacy = StackProfile::defaults().back();
    model().setPendingDeletion(legacy);
    model().setShowDeleteConfirmation(true);
    EXPECT_EQ(sheet(), migration.data());
    EXPECT_TRUE(window().sheets().waiting("localHosts"));

    migration->findChild<QAbstractButton*>("closeButton")->click();
    EXPECT_FALSE(model().showMigration());
    ASSERT_TRUE(waitForSheet("localHostSheet"));
    EXPECT_TRUE(waitFor([&] { return migration.isNull(); }));

    // A request whose flag was cleared while it waited is dropped.
    model().setShowDeleteConfirmation(false);
    model().setPendingDeletion(std::nullopt);
    sheet()->reject();
    EXPECT_FALSE(model().showLocalHosts());
    QTest::qWait(50);
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(MainWindowShapeTest, NewEnvironmentButtonsOpenTheSheetAndClosingResetsTheFlag) {
    startMonitor();
    window();
    click("headerNewButton");
    ASSERT_TRUE(waitForSheet("newEnvironmentSheet"));
    QPointer<QDialog> open = sheet();
    EXPECT_EQ(open->windowModality(), Qt::WindowModal);
    open->reject();
    EXPECT_FALSE(model().showCreate());
    EXPECT_TRUE(waitFor([&] { return open.isNull(); }));
}

TEST_F(MainWindowShapeTest, ClearingAFlagClosesItsSheet) {
    startMonitor();
    window();
    model().setShowLocalHosts(true);
    ASSERT_TRUE(waitForSheet("localHostSheet"));
    QPointer<QDialog> open = sheet();
    model().setShowLocalHosts(false);
    EXPECT_TRUE(waitFor([&] { return open.isNull(); }));
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(MainWindowShapeTest, ToolbarAndMenuWithTheirTexts) {
    startMonitor();
    window();
    QSignalSpy settings(&window(), &MainWindow::settingsRequested);
    QSignalSpy quit(&window(), &MainWindow::quitRequested);
    EXPECT_EQ(action("localAddressesAction")->toolTip().toStdString(), "Local addresses");
    EXPECT_EQ(action("languageAction")->toolTip().toStdString(), "Language");
    action("languageAction")->trigger();
    action("settingsAction")->trigger();
    EXPECT_EQ(settings.count(), 2);
    action("quitAction")->trigger();
    EXPECT_EQ(quit.count(), 1);

    // The toolbar stays usable while an action runs.
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    EXPECT_TRUE(action("localAddressesAction")->isEnabled());
    EXPECT_TRUE(action("languageAction")->isEnabled());
    engine->release("start");
    ASSERT_TRUE(waitForIdle());

    preferences().setLanguage(AppLanguage::italian);
    EXPECT_EQ(action("localAddressesAction")->toolTip().toStdString(), "Indirizzi locali");
    EXPECT_EQ(action("languageAction")->toolTip().toStdString(), "Lingua");
    EXPECT_EQ(action("settingsAction")->text().toStdString(), "Impostazioni…");
    EXPECT_EQ(action("quitAction")->text().toStdString(), "Esci da Vessora");
}

TEST_F(MainWindowShapeTest, EditorIsMadeAnewOnlyForAnotherRecordOrSelection) {
    startMonitor();
    window();
    QPointer<QWidget> first = editor();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(window().detail().editorSlot().record()->id, "studio");
    // The editor reaches the window's sheets from where it stands.
    EXPECT_EQ(SheetPresenter::of(editor()), &window().sheets());

    // Polls with new statuses and an action that changes nothing keep it.
    engine->setStatus("legacy", StackStatus{true, "Running", {{"PHP", 3}}});
    const int before = engine->calls("statuses");
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= before + 3; }));
    ASSERT_TRUE(model().perform("Stopping Legacy…", false, [](AppEngine& e) { e.stop("legacy"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(editor(), first.data());

    // A saved change of any field makes a new one.
    StackProfile changed = StackProfile::defaults().front();
    changed.phpMyAdminEnabled = !changed.phpMyAdminEnabled;
    ASSERT_TRUE(model().perform("Saving environment…", false,
                                [changed](AppEngine& e) { e.update(changed); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_NE(editor(), first.data());
    EXPECT_EQ(window().detail().editorSlot().record(), changed);
    QPointer<QWidget> second = editor();

    model().setSelectedID("legacy");
    EXPECT_NE(editor(), second.data());
    EXPECT_EQ(window().detail().editorSlot().record()->id, "legacy");
    EXPECT_TRUE(waitFor([&] { return first.isNull() && second.isNull(); }));
}

// Tab walks the window from top to bottom: sidebar, the editor's header
// and buttons (its form is locked while the environment runs), then the status bar, and back to the
// sidebar. A new editor's widgets join the focus chain at its end, behind the status bar, which
// must not make the status bar come first.
TEST_F(MainWindowShapeTest, TabFollowsTheWindowFromTopToBottomAfterTheEditorIsMadeAnew) {
    engine->setStatus("legacy", StackStatus{true, "Running", {{"PHP", 3}}});
    startMonitor();
    window();
    const auto tabOrder = [&] {
        // A new editor's widgets show once the event loop has run.
        EXPECT_TRUE(waitFor([&] {
            auto* stop = editor()->findChild<QWidget*>("stopButton");
            return stop && stop->isVisible() && stop->isEnabled();
        }));
        window().activateWindow();
        QApplication::setActiveWindow(&window());
        find("environmentList")->setFocus(Qt::TabFocusReason);
        std::vector<std::string> order;
        for (int step = 0; step < 60; ++step) {
            QWidget* focused = QApplication::focusWidget();
            if (!focused)
                break;
            order.push_back(focused->objectName().toStdString());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        return order;
    };
    // Where `name` stands after the list's first visit; the end when absent.
    const auto position = [](const std::vector<std::string>& order, const std::string& name) {
        return std::find(order.begin() + 1, order.end(), name) - order.begin();
    };
    const auto expectTopToBottom = [&](const std::vector<std::string>& order) {
        ASSERT_FALSE(order.empty());
        const auto stop = position(order, "stopButton");
        const auto project = position(order, "projectButton");
        const auto details = position(order, "detailsToggle");
        const auto refresh = position(order, "refreshPackagesButton");
        const auto stopAll = position(order, "stopAllButton");
        const auto back = position(order, "environmentList");
        EXPECT_LT(stop, project);
        EXPECT_LT(project, details);
        EXPECT_LT(details, refresh);
        EXPECT_EQ(stopAll, refresh + 1);
        EXPECT_LT(stopAll, back) << "the status bar ends the round";
        EXPECT_LT(back, static_cast<long>(order.size()));
    };

    model().setSelectedID("legacy");
    expectTopToBottom(tabOrder());

    // A save makes the editor anew as well.
    StackProfile changed = StackProfile::defaults().back();
    changed.phpMyAdminEnabled = !changed.phpMyAdminEnabled;
    QPointer<QWidget> before = editor();
    ASSERT_TRUE(model().perform("Saving environment…", false,
                                [changed](AppEngine& e) { e.update(changed); }));
    ASSERT_TRUE(waitForIdle());
    ASSERT_NE(editor(), before.data());
    expectTopToBottom(tabOrder());
}

// At the default size the editor fills the column: what appears below it
// must come into view, or a failure would go unseen.
TEST_F(MainWindowShapeTest, TheLogAndTheErrorBelowTheEditorScrollIntoView) {
    startMonitor();
    window();
    auto* viewport = find<QScrollArea>("detailScroll")->viewport();
    const auto inView = [&](const char* name) {
        QWidget* widget = find(name);
        const QRect area(widget->mapTo(viewport, QPoint(0, 0)), widget->size());
        return widget->isVisible() && viewport->rect().contains(area);
    };
    engine->hold("install");
    engine->fail("install", "brew install failed (1):\nno bottle");
    ASSERT_TRUE(model().perform("Installing packages for Studio…", true,
                                [](AppEngine& e) { e.install("studio"); }));
    // The action shows only what the log gains once it has begun.
    const auto log = StackPaths::installLog(root.path());
    PrivateFile::createDirectories(log.parent_path());
    PrivateFile::write(log, "==> Installing php@8.4\n");
    ASSERT_TRUE(waitFor([&] { return inView("installLog"); }));
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(waitFor([&] { return inView("errorBox"); }));

    // Scrolled back up by the user, a new error comes into view again.
    find<QScrollArea>("detailScroll")->verticalScrollBar()->setValue(0);
    ASSERT_FALSE(inView("errorBox"));
    engine->fail("stop", "A service could not be stopped.");
    ASSERT_TRUE(model().perform("Stopping Studio…", false, [](AppEngine& e) { e.stop("studio"); }));
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(waitFor([&] { return inView("errorBox"); }));
}

// The next action opens with the pane's log hidden and empty, not scrolled
// to the last action's failure until its first poll.
TEST_F(MainWindowShapeTest, TheNextActionShowsNothingOfTheLastOnesLog) {
    startMonitor();
    window();
    auto* shown = find<QPlainTextEdit>("installLog");
    engine->hold("install");
    ASSERT_TRUE(model().perform("Installing packages for Studio…", true,
                                [](AppEngine& e) { e.install("studio"); }));
    const auto log = StackPaths::installLog(root.path());
    PrivateFile::createDirectories(log.parent_path());
    PrivateFile::write(log, "Error: php@8.4: not available\n");
    ASSERT_TRUE(waitFor([&] { return shown->isVisible(); }));
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(shown->isVisible());

    engine->hold("statuses");
    ASSERT_TRUE(waitUntilHeld("statuses"));
    QSignalSpy reveals(&window().detail(), &DetailPane::revealRequested);
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    QApplication::processEvents();
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(shown->toPlainText().toStdString(), "");
    EXPECT_EQ(reveals.count(), 0);
    engine->release("statuses");
    ASSERT_TRUE(waitForIdle());
}

// Without an engine the reason is there from the start.
TEST_F(MainWindowShapeTest, TheErrorOfAnEngineThatDidNotOpenIsInView) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw std::runtime_error("Another Vessora instance is already using this data directory.");
    };
    AppModel noEngine(options);
    MainWindow window(noEngine, preferences(), updates());
    window.show();
    auto* viewport = window.findChild<QScrollArea*>("detailScroll")->viewport();
    auto* box = window.findChild<QWidget*>("errorBox");
    EXPECT_TRUE(waitFor([&] {
        return box->isVisible() &&
               viewport->rect().contains(QRect(box->mapTo(viewport, QPoint(0, 0)), box->size()));
    }));
}

// Every state of the window at its default width, in every language: tall
// enough that nothing scrolls away, and no text cut off.
TEST_F(MainWindowShapeTest, NoTextIsCutOffInAnyStateOrLanguage) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
    startMonitor();
    window().resize(920, 1100);
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return !updates().isChecking() && sheet(); }));
    sheet()->reject();
    ASSERT_TRUE(waitFor([&] { return !sheet() && find("updateBanner")->isVisible(); }));
    const auto check = [&](const char* state) {
        for (const AppLanguage language : AppLanguages::allCases) {
            preferences().setLanguage(language);
            SCOPED_TRACE(std::string(state) + " " + AppLanguages::id(language));
            EXPECT_EQ(clippedTexts(window()), std::vector<std::string>{});
        }
    };
    check("idle");

    engine->setStatus("studio",
                      StackStatus{true, "Running", {{"MariaDB", 1}, {"PHP", 2}, {"nginx", 3}}});
    ASSERT_TRUE(waitFor([&] { return find("stopAllButton")->isEnabled(); }));
    check("running");

    engine->hold("install");
    ASSERT_TRUE(model().perform(L10n::text("Installing packages for %@…", {"Legacy"}), true,
                                [](AppEngine& e) { e.install("legacy"); }));
    const auto log = StackPaths::installLog(root.path());
    PrivateFile::createDirectories(log.parent_path());
    PrivateFile::write(log, "==> Downloading https://ghcr.io/v2/homebrew/core/php/8.4/blobs\n");
    model().setError(std::string("brew install failed (1):\nError: php@8.4: no bottle available "
                                 "for this system, and building from source failed."));
    ASSERT_TRUE(waitFor([&] { return find("installLog")->isVisible(); }));
    check("busy with an error");
    engine->release("install");
    ASSERT_TRUE(waitForIdle());

    model().setSelectedID(std::nullopt);
    check("empty");
}

// Whatever the window shows as an English key (texts, tooltips, accessible
// names of its widgets and actions) is shown translated once the language
// changes, without any other event.
TEST_F(MainWindowShapeTest, ALanguageChangeRedrawsEveryTextOfTheWindow) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
    // The engine's own texts stay as it worded them.
    engine->setStatus(
        "studio",
        StackStatus{true, "As the engine worded it", {{"MariaDB", 1}, {"PHP", 2}, {"nginx", 3}}});
    startMonitor();
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return !updates().isChecking() && sheet(); }));
    sheet()->reject();
    ASSERT_TRUE(waitFor([&] { return !sheet() && find("updateBanner")->isVisible(); }));

    // Every text a widget or action carries, by where it is shown.
    const auto texts = [&] {
        std::map<std::pair<QObject*, int>, QString> shown;
        const auto add = [&](QObject* owner, int kind, const QString& text) {
            if (!text.isEmpty())
                shown[{owner, kind}] = text;
        };
        for (QWidget* widget : window().findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(&window()))
                continue;
            if (auto* label = qobject_cast<QLabel*>(widget))
                add(widget, 0, label->text());
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                add(widget, 0, button->text());
            add(widget, 1, widget->toolTip());
            add(widget, 2, widget->accessibleName());
        }
        for (QAction* action : window().findChildren<QAction*>()) {
            add(action, 0, action->text());
            add(action, 1, action->toolTip());
        }
        return shown;
    };
    const auto english = texts();
    preferences().setLanguage(AppLanguage::german);
    const auto german = texts();
    int keys = 0;
    for (const auto& [where, text] : english) {
        const std::string key = text.toStdString();
        const std::string translated = L10n::text(key, {}, AppLanguage::german);
        if (translated == key)
            continue;
        ++keys;
        const auto now = german.find(where);
        ASSERT_NE(now, german.end()) << key;
        EXPECT_EQ(now->second.toStdString(), translated) << where.first->objectName().toStdString();
    }
    // The sidebar, the banner, the editor, the status bar, toolbar and menu.
    EXPECT_GT(keys, 30);
}

TEST_F(MainWindowShapeTest, SizesAndTheEmptyStateButtonRules) {
    startMonitor();
    window();
    EXPECT_EQ(window().minimumSize(), QSize(860, 450));
    EXPECT_EQ(window().size(), QSize(920, 480));
    auto* sidebar = find("sidebar");
    EXPECT_EQ(sidebar->minimumWidth(), 200);
    EXPECT_EQ(sidebar->maximumWidth(), 270);
    window().resize(2000, 900);
    QTest::qWait(20);
    EXPECT_LE(sidebar->width(), 270);

    model().setSelectedID("nothing-here");
    EXPECT_TRUE(find("emptyState")->isVisible());
    EXPECT_EQ(labelText("emptyStateTitle"), "No environments");
    EXPECT_TRUE(find("emptyStateNewButton")->isEnabled());
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    EXPECT_FALSE(find("emptyStateNewButton")->isEnabled());
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
}

} // namespace
} // namespace vessora
