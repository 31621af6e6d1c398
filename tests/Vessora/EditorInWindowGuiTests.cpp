// The editor inside the main window with the fake engine: it sits in the
// window's editor slot, and its certificate and database sheets go through
// the window's presenter - one sheet at a time, the draft's flag lowered
// when the sheet closes, and closed with the editor when the saved record
// changes.
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QLineEdit>
#include <QPointer>

namespace vessora {
namespace {

class EditorInWindowTest : public MainWindowTest {
protected:
    EnvironmentEditor* editor() {
        return qobject_cast<EnvironmentEditor*>(window().detail().editorSlot().editor());
    }

    void clickInEditor(const char* name) {
        auto* button = editor()->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }
};

TEST_F(EditorInWindowTest, TheSlotShowsTheEditorOfTheSelectedRecord) {
    startMonitor();
    window();
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->saved(), StackProfile::defaults().front());
    EXPECT_TRUE(editor()->isVisible());
    model().setSelectedID("legacy");
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->saved().id, "legacy");
}

TEST_F(EditorInWindowTest, PollsNeverRemakeTheEditorNorTouchWhatIsBeingTyped) {
    startMonitor();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QPointer<EnvironmentEditor> shown = editor();
    ASSERT_NE(shown, nullptr);
    auto* name = shown->findChild<QLineEdit*>("nameField");
    ASSERT_NE(name, nullptr);
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, "Studio Shop");
    name->setCursorPosition(6);

    // Polls that change what the window shows: another environment runs.
    engine->setStatus("legacy", StackStatus{true, "Running", {{"MariaDB", 7}}});
    ASSERT_TRUE(waitFor([&] { return model().anyRunning(); }));
    const int polls = engine->calls("statuses");
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= polls + 3; }));
    QTest::qWait(20);
    ASSERT_EQ(editor(), shown);
    EXPECT_TRUE(name->hasFocus());
    EXPECT_EQ(name->text(), "Studio Shop");
    EXPECT_EQ(name->cursorPosition(), 6);

    // Typing goes on where the cursor stood; the draft has every key.
    QTest::keyClicks(name, "s");
    EXPECT_EQ(name->text(), "Studios Shop");
    EXPECT_EQ(shown->draft().profile().name, "Studios Shop");
    // A reload after an action brings the same record back: the same editor
    // and draft (the form is locked while the action runs, which moves the
    // focus away).
    ASSERT_TRUE(model().perform("Reloading", false, [](AppEngine&) {}));
    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(editor(), shown);
    EXPECT_EQ(name->text(), "Studios Shop");
    EXPECT_EQ(shown->draft().profile().name, "Studios Shop");
}

TEST_F(EditorInWindowTest, TheEditorsSheetsTakeTheirTurnAtTheWindow) {
    auto profiles = StackProfile::defaults();
    profiles.front().httpsEnabled = true;
    profiles.front().httpsPort = 8443;
    engine->setProfiles(profiles);
    startMonitor();
    window();
    QPointer<EnvironmentEditor> shown = editor();
    ASSERT_NE(shown, nullptr);

    clickInEditor("certificateButton");
    ASSERT_TRUE(waitForSheet("localHTTPSSheet"));
    EXPECT_TRUE(shown->draft().showCertificate());
    EXPECT_EQ(shown->certificateSheet(), sheet());
    // The window's own sheets wait for it.
    model().setShowCreate(true);
    EXPECT_EQ(sheet()->objectName(), "localHTTPSSheet");
    sheet()->reject();
    EXPECT_FALSE(shown->draft().showCertificate());
    ASSERT_TRUE(waitForSheet("newEnvironmentSheet"));

    // Asked for while another sheet is open, the database manager waits.
    clickInEditor("databasesButton");
    EXPECT_TRUE(shown->draft().showDatabase());
    EXPECT_TRUE(window().sheets().waiting("databases"));
    sheet()->reject();
    ASSERT_TRUE(waitForSheet("databaseManagerSheet"));
    EXPECT_EQ(shown->databaseSheet(), sheet());
    sheet()->reject();
    EXPECT_FALSE(shown->draft().showDatabase());
    QTest::qWait(20);
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(EditorInWindowTest, AChangedSavedRecordClosesTheOldEditorsSheet) {
    auto profiles = StackProfile::defaults();
    profiles.front().httpsEnabled = true;
    profiles.front().httpsPort = 8443;
    engine->setProfiles(profiles);
    startMonitor();
    window();
    QPointer<EnvironmentEditor> first = editor();
    clickInEditor("certificateButton");
    ASSERT_TRUE(waitForSheet("localHTTPSSheet"));
    QPointer<QDialog> open = sheet();

    // Another window of the program could have saved it meanwhile.
    profiles.front().name = "Renamed";
    engine->setProfiles(profiles);
    ASSERT_TRUE(model().perform("Reloading", false, [](AppEngine&) {}));
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return first.isNull() && open.isNull(); }));
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->saved().name, "Renamed");
    EXPECT_FALSE(editor()->draft().showCertificate());
    EXPECT_EQ(sheet(), nullptr);
}

} // namespace
} // namespace vessora
