// The sidebar through its widgets: rows, run state, versions, the count,
// the selection in both directions and across polls, the context menu, and
// what is disabled while an action runs or without an engine.
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/EnvironmentRow.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QWindow>

namespace vessora {
namespace {

class SidebarTest : public MainWindowTest {
protected:
    QListWidget* list() { return find<QListWidget>("environmentList"); }

    EnvironmentRow* row(int index) {
        return static_cast<EnvironmentRow*>(list()->itemWidget(list()->item(index)));
    }

    std::string rowText(int index, const char* name) {
        auto* label = row(index)->findChild<QLabel*>(name);
        return label ? label->accessibleName().toStdString() : std::string();
    }

    bool rowRunning(int index) {
        return row(index)
            ->findChild<QWidget*>("environmentStatusDot")
            ->property("running")
            .toBool();
    }

    // Opens the row's context menu as a right click would.
    QMenu* openContextMenu(int index) {
        const QRect area = list()->visualItemRect(list()->item(index));
        emit list()->customContextMenuRequested(area.center());
        return window().findChild<QMenu*>("environmentContextMenu");
    }

    static StackProfile profile(std::string id, std::string name, std::string php,
                                std::string mariaDB) {
        StackProfile result = StackProfile::defaults().front();
        result.id = std::move(id);
        result.name = std::move(name);
        result.php = std::move(php);
        result.mariaDB = std::move(mariaDB);
        return result;
    }
};

TEST_F(SidebarTest, ListsEveryRecordWithItsRunStateAndVersions) {
    StackStatus running{true, "Running", {{"MariaDB", 11}, {"PHP", 12}, {"nginx", 13}}};
    engine->setStatus("legacy", running);
    // Still starting: processes, but not all three.
    engine->setStatus("studio", StackStatus{false, "Preparing…", {{"MariaDB", 21}}});
    startMonitor();
    window();
    ASSERT_EQ(list()->count(), 2);
    EXPECT_EQ(rowText(0, "environmentName"), "Studio");
    EXPECT_EQ(rowText(0, "environmentVersions"), "PHP 8.4 · MariaDB 11.4");
    EXPECT_EQ(rowText(1, "environmentName"), "Legacy");
    EXPECT_EQ(rowText(1, "environmentVersions"), "PHP 8.3 · MariaDB 10.11");
    EXPECT_FALSE(rowRunning(0));
    EXPECT_TRUE(rowRunning(1));
    EXPECT_EQ(labelText("environmentCount"), "2 environments");

    // The next poll turns the dot.
    engine->setStatus("legacy", StackStatus{false, "Stopped", {}});
    EXPECT_TRUE(waitFor([&] { return !rowRunning(1); }));
}

TEST_F(SidebarTest, VersionLineDropsEveryFormulaPrefixAndCountsOne) {
    engine->setProfiles({profile("one", "Shop", "php", "mariadb@10.11mariadb@")});
    EXPECT_EQ(EnvironmentRow::versionLine(profile("x", "X", "php@8.2php@", "mariadb@11.4")),
              "PHP 8.2 · MariaDB 11.4");
    startMonitor();
    window();
    ASSERT_EQ(list()->count(), 1);
    EXPECT_EQ(rowText(0, "environmentVersions"), "PHP php · MariaDB 10.11");
    EXPECT_EQ(labelText("environmentCount"), "1 environment");
}

TEST_F(SidebarTest, EmptyListShowsZeroAndTheEmptyState) {
    engine->setProfiles({});
    startMonitor();
    window();
    EXPECT_EQ(list()->count(), 0);
    EXPECT_EQ(labelText("environmentCount"), "0 environments");
    EXPECT_EQ(model().selectedID(), std::nullopt);
    EXPECT_TRUE(find("emptyState")->isVisible());
    EXPECT_FALSE(find("editorSlot")->isVisible());
    click("emptyStateNewButton");
    EXPECT_TRUE(model().showCreate());
}

TEST_F(SidebarTest, SelectionFollowsClicksAndTheModelAndSurvivesPolls) {
    startMonitor();
    window();
    ASSERT_EQ(list()->currentRow(), 0);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      list()->visualItemRect(list()->item(1)).center());
    EXPECT_EQ(model().selectedID(), "legacy");
    // Polls with changed statuses redraw the rows but keep the selection.
    engine->setStatus("studio", StackStatus{true, "Running", {{"PHP", 5}}});
    const int before = engine->calls("statuses");
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= before + 3; }));
    EXPECT_EQ(list()->currentRow(), 1);
    EXPECT_EQ(model().selectedID(), "legacy");

    model().setSelectedID("studio");
    EXPECT_EQ(list()->currentRow(), 0);
    EXPECT_TRUE(list()->item(0)->isSelected());
    model().setSelectedID(std::nullopt);
    EXPECT_EQ(list()->selectedItems().size(), 0);
}

TEST_F(SidebarTest, ContextMenuAsksToDeleteThatRowWithoutSelectingIt) {
    startMonitor();
    window();
    QMenu* menu = openContextMenu(1);
    ASSERT_NE(menu, nullptr);
    QAction* remove = menu->findChild<QAction*>("deleteEnvironmentAction");
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->text().toStdString(), "Delete environment…");
    ASSERT_TRUE(remove->isEnabled());
    remove->trigger();
    ASSERT_TRUE(model().pendingDeletion().has_value());
    EXPECT_EQ(model().pendingDeletion()->id, "legacy");
    EXPECT_TRUE(model().showDeleteConfirmation());
    EXPECT_EQ(model().selectedID(), "studio");
    menu->close();
}

TEST_F(SidebarTest, ARealRightClickOnAnotherRowKeepsTheSelectionAndTheUnsavedEdits) {
    startMonitor();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    QPointer<EnvironmentEditor> editor =
        qobject_cast<EnvironmentEditor*>(window().detail().editorSlot().editor());
    ASSERT_NE(editor, nullptr);
    auto* name = editor->findChild<QLineEdit*>("nameField");
    ASSERT_NE(name, nullptr);
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, "Studio Shop");
    ASSERT_EQ(editor->draft().profile().name, "Studio Shop");

    // Through the window, as the display delivers it: the press, then the
    // context menu it brings.
    const QPoint at =
        list()->viewport()->mapTo(&window(), list()->visualItemRect(list()->item(1)).center());
    QTest::mousePress(window().windowHandle(), Qt::RightButton, {}, at);
    QMenu* menu = nullptr;
    ASSERT_TRUE(waitFor([&] {
        menu = window().findChild<QMenu*>("environmentContextMenu");
        return menu && menu->isVisible();
    }));
    EXPECT_EQ(model().selectedID(), "studio");
    EXPECT_EQ(list()->currentRow(), 0);
    ASSERT_EQ(qobject_cast<EnvironmentEditor*>(window().detail().editorSlot().editor()), editor);
    EXPECT_EQ(editor->draft().profile().name, "Studio Shop");

    menu->findChild<QAction*>("deleteEnvironmentAction")->trigger();
    ASSERT_TRUE(model().pendingDeletion().has_value());
    EXPECT_EQ(model().pendingDeletion()->id, "legacy");
    EXPECT_EQ(model().selectedID(), "studio");
    ASSERT_FALSE(editor.isNull());
    EXPECT_EQ(editor->draft().profile().name, "Studio Shop");
    menu->close();
}

TEST_F(SidebarTest, WhileAnActionRunsTheButtonsAndDeleteAreDisabledButRowsSelect) {
    startMonitor();
    window();
    for (const char* name : {"headerNewButton", "footerNewButton", "importProjectButton"})
        EXPECT_TRUE(find<QAbstractButton>(name)->isEnabled()) << name;
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    ASSERT_TRUE(waitUntilHeld("start"));
    for (const char* name : {"headerNewButton", "footerNewButton", "importProjectButton"})
        EXPECT_FALSE(find<QAbstractButton>(name)->isEnabled()) << name;
    EXPECT_TRUE(find<QAbstractButton>("supportLink")->isEnabled());
    QMenu* menu = openContextMenu(0);
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->findChild<QAction*>("deleteEnvironmentAction")->isEnabled());
    menu->close();
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                      list()->visualItemRect(list()->item(1)).center());
    EXPECT_EQ(model().selectedID(), "legacy");
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(find<QAbstractButton>("footerNewButton")->isEnabled());
}

TEST_F(SidebarTest, WithoutAnEngineTheBuiltInRecordsShowAndOnlyDeleteStaysOpen) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    AppModel noEngine(options);
    MainWindow window(noEngine, preferences(), updates());
    window.show();
    auto* list = window.findChild<QListWidget*>("environmentList");
    ASSERT_EQ(list->count(), 2);
    for (const char* name : {"headerNewButton", "footerNewButton", "importProjectButton"})
        EXPECT_FALSE(window.findChild<QAbstractButton*>(name)->isEnabled()) << name;
    EXPECT_EQ(window.findChild<QLabel*>("errorText")->text().toStdString(),
              "Another Vessora instance is already using this data directory.");
    EXPECT_TRUE(window.findChild<QWidget*>("errorBox")->isVisible());
    emit list->customContextMenuRequested(list->visualItemRect(list->item(0)).center());
    auto* menu = window.findChild<QMenu*>("environmentContextMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->findChild<QAction*>("deleteEnvironmentAction")->isEnabled());
    menu->close();
}

TEST_F(SidebarTest, ButtonsSetTheSheetFlagsAndTheSupportLinkOpensTheDonationPage) {
    auto desktop = std::make_shared<RecordingDesktopServices>();
    DesktopServices::setCurrent(desktop);
    startMonitor();
    window();
    click("headerNewButton");
    EXPECT_TRUE(model().showCreate());
    model().setShowCreate(false);
    click("footerNewButton");
    EXPECT_TRUE(model().showCreate());
    model().setShowCreate(false);
    click("importProjectButton");
    EXPECT_TRUE(model().showMigration());
    click("supportLink");
    ASSERT_EQ(desktop->requests.size(), 1u);
    EXPECT_EQ(desktop->requests.front().rfind("url https://", 0), 0u);
    DesktopServices::setCurrent(nullptr);
}

TEST_F(SidebarTest, ALanguageChangeRedrawsEveryText) {
    startMonitor();
    window();
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(labelText("environmentCount"), "2 Umgebungen");
    EXPECT_EQ(labelText("environmentsSection"), "Umgebungen");
    EXPECT_EQ(buttonText("footerNewButton"), "Neu");
    EXPECT_EQ(buttonText("importProjectButton"), "Projekt importieren…");
    EXPECT_EQ(find<QAbstractButton>("headerNewButton")->toolTip().toStdString(), "Neue Umgebung");
    EXPECT_EQ(rowText(0, "environmentName"), "Studio");
}

} // namespace
} // namespace vessora
