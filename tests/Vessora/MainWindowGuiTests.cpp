// The main window: one sheet at a time in the order asked, flags set back
// when a sheet closes, the toolbar, the editor made anew only when the saved
// record or the selection changes, the sizes, and a language change.
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QPointer>
#include <QSignalSpy>
#include <QSplitter>
#include <QToolBar>

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
