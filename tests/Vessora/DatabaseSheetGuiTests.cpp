// The credentials sheet of the application account, offscreen, with the
// fake engine: the load, the password rules, saving for the next start,
// copying, a running or failing environment, and the lock while it saves.
// Both engine calls go straight to the workers, not through the model's
// single action.
#include "Vessora/Sheets/DatabaseSheet.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/DatabaseSheetTest.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>

namespace vessora {
namespace {

class DatabaseSheetGuiTest : public DatabaseSheetTest {
protected:
    void SetUp() override {
        DatabaseSheetTest::SetUp();
        engine->setApplicationPassword(profile.id, "0ld-pa$$");
        window.show();
    }
    void TearDown() override {
        engine->releaseAll();
        delete sheet_.data();
        DatabaseSheetTest::TearDown();
    }

    DatabaseSheet& open() {
        sheet_ = new DatabaseSheet(model(), preferences, profile, &window);
        sheet_->open();
        return *sheet_;
    }
    DatabaseSheet& openLoaded() {
        DatabaseSheet& sheet = open();
        EXPECT_TRUE(waitFor([&] { return sheet.draft().original().has_value(); }));
        return sheet;
    }

    template <typename Widget = QWidget>
    Widget* child(const char* name) const {
        Widget* found = sheet_->findChild<Widget*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) const { return child(name)->isVisibleTo(sheet_); }
    bool enabled(const char* name) const { return child(name)->isEnabled(); }
    QLineEdit* field(const char* name) const { return child<QLineEdit>(name); }
    // Types as a keyboard would, letters outside ASCII included.
    void type(const char* name, const QString& text) {
        field(name)->clear();
        for (const QChar letter : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
            QApplication::sendEvent(field(name), &press);
        }
    }

    QWidget window;
    QPointer<DatabaseSheet> sheet_;
};

TEST_F(DatabaseSheetGuiTest, ShowsTheConnectionAndTheLoadedPassword) {
    startMonitor();
    DatabaseSheet& sheet = openLoaded();
    EXPECT_EQ(sheet.width(), 470);
    EXPECT_EQ(child<QLabel>("hostValue")->text(), "127.0.0.1:13307");
    EXPECT_EQ(child<QLabel>("userValue")->text(), "vessora");
    EXPECT_EQ(child<QLabel>("databaseValue")->text(), "shop");
    EXPECT_EQ(field("passwordField")->text(), "0ld-pa$$");
    EXPECT_EQ(field("passwordField")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(enabled("passwordField"));
    EXPECT_FALSE(shown("confirmationField"));
    EXPECT_FALSE(shown("confirmLabel"));
    EXPECT_TRUE(enabled("copyButton"));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(shown("errorLine"));
    EXPECT_FALSE(shown("savedLabel"));
    EXPECT_EQ(child<QLabel>("runningNote")->text(),
              "A changed password is applied at the next start. Update your project’s database "
              "settings to match.");
    // Read on a worker, outside the model's single action.
    EXPECT_EQ(engine->calls("databaseCredentials"), 1);
    EXPECT_FALSE(model().busy());

    QApplication::clipboard()->clear();
    QTest::mouseClick(child<QAbstractButton>("copyButton"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), "0ld-pa$$");
    EXPECT_EQ(QApplication::clipboard()->mimeData()->data("x-kde-passwordManagerHint"), "secret");
}

TEST_F(DatabaseSheetGuiTest, ANewPasswordNeedsItsConfirmationAndIsSavedForTheNextStart) {
    startMonitor();
    DatabaseSheet& sheet = openLoaded();
    type("passwordField", "n\u00e9w secret");
    EXPECT_TRUE(shown("confirmationField"));
    EXPECT_FALSE(enabled("copyButton"));
    EXPECT_FALSE(enabled("saveButton"));
    type("confirmationField", "n\u00e9w secre");
    EXPECT_FALSE(enabled("saveButton"));
    QTest::keyClick(field("confirmationField"), Qt::Key_Return);
    EXPECT_EQ(engine->calls("setDatabasePassword"), 0);
    type("confirmationField", "n\u00e9w secret");
    EXPECT_TRUE(enabled("saveButton"));
    // Typing the old password back is no change at all.
    type("passwordField", "0ld-pa$$");
    EXPECT_FALSE(shown("confirmationField"));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_TRUE(enabled("copyButton"));
    // An empty password is never saved.
    field("passwordField")->clear();
    QTest::keyClick(field("passwordField"), Qt::Key_A);
    QTest::keyClick(field("passwordField"), Qt::Key_Backspace);
    EXPECT_TRUE(shown("confirmationField"));
    EXPECT_FALSE(enabled("saveButton"));

    type("passwordField", "n\u00e9w secret");
    type("confirmationField", "n\u00e9w secret");
    QTest::keyClick(field("confirmationField"), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return sheet.draft().saved() && !sheet.draft().busy(); }));
    EXPECT_EQ(engine->applicationPassword(profile.id), "n\u00e9w secret");
    EXPECT_EQ(engine->calls("setDatabasePassword"), 1);
    EXPECT_TRUE(shown("savedLabel"));
    EXPECT_FALSE(shown("confirmationField"));
    EXPECT_EQ(field("confirmationField")->text(), "");
    EXPECT_TRUE(enabled("copyButton"));
    EXPECT_FALSE(enabled("saveButton"));

    // Editing hides the saved label; the saved text brings it back.
    QTest::keyClick(field("passwordField"), Qt::Key_X);
    EXPECT_FALSE(shown("savedLabel"));
    QTest::keyClick(field("passwordField"), Qt::Key_Backspace);
    EXPECT_TRUE(shown("savedLabel"));
    QTest::mouseClick(child<QAbstractButton>("copyButton"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("n\u00e9w secret"));
}

TEST_F(DatabaseSheetGuiTest, WhileAnyServerProcessLivesThePasswordCannotChange) {
    // Still starting: one process, not running yet.
    engine->setStatus(profile.id, StackStatus{false, "Preparing…", {{"MariaDB", 11}}});
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return !model().statuses().at(profile.id).processes.empty(); }));
    DatabaseSheet& sheet = openLoaded();
    EXPECT_TRUE(sheet.draft().running());
    EXPECT_FALSE(enabled("passwordField"));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_TRUE(enabled("copyButton"));
    EXPECT_EQ(child<QLabel>("runningNote")->text(),
              "Stop the environment to change its database password.");

    engine->setStatus(profile.id, StackStatus{false, "Stopped", {}});
    ASSERT_TRUE(waitFor([&] { return enabled("passwordField"); }));
    EXPECT_EQ(child<QLabel>("runningNote")->text(),
              "A changed password is applied at the next start. Update your project’s database "
              "settings to match.");
}

TEST_F(DatabaseSheetGuiTest, AFailedLoadLeavesThePasswordEmptyAndDisabled) {
    engine->fail("databaseCredentials", "Invalid local database credentials.");
    startMonitor();
    DatabaseSheet& sheet = open();
    ASSERT_TRUE(waitFor([&] { return sheet.draft().error().has_value(); }));
    EXPECT_TRUE(shown("errorLine"));
    EXPECT_EQ(child<QLabel>("errorLine")->text(), "Invalid local database credentials.");
    EXPECT_EQ(field("passwordField")->text(), "");
    EXPECT_FALSE(enabled("passwordField"));
    EXPECT_FALSE(enabled("copyButton"));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(model().error());
}

TEST_F(DatabaseSheetGuiTest, TheSheetStaysWhileASaveRunsAndShowsARefusal) {
    startMonitor();
    DatabaseSheet& sheet = openLoaded();
    type("passwordField", "another");
    type("confirmationField", "another");
    engine->hold("setDatabasePassword");
    QTest::mouseClick(child<QAbstractButton>("saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntilHeld("setDatabasePassword"));
    EXPECT_TRUE(sheet.draft().busy());
    EXPECT_FALSE(enabled("doneButton"));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("copyButton"));
    EXPECT_FALSE(enabled("passwordField"));
    EXPECT_FALSE(enabled("confirmationField"));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.close());
    EXPECT_TRUE(sheet.isVisible());
    // The model's single action is not taken.
    EXPECT_FALSE(model().busy());

    // The environment was started meanwhile: the engine refuses.
    engine->setStatus(profile.id, StackStatus{true, "Running", {{"MariaDB", 11}}});
    engine->release("setDatabasePassword");
    ASSERT_TRUE(waitFor([&] { return !sheet.draft().busy(); }));
    EXPECT_EQ(child<QLabel>("errorLine")->text(),
              "Stop the environment before changing its settings.");
    EXPECT_EQ(field("passwordField")->text(), "another");
    EXPECT_EQ(sheet.draft().original(), "0ld-pa$$");
    EXPECT_FALSE(sheet.draft().saved());
    EXPECT_EQ(engine->applicationPassword(profile.id), "0ld-pa$$");

    QTest::mouseClick(child<QAbstractButton>("doneButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
}

TEST_F(DatabaseSheetGuiTest, EveryLanguageFitsInEveryState) {
    startMonitor();
    DatabaseSheet& sheet = openLoaded();
    const std::vector<std::string> none;
    const auto check = [&] {
        for (AppLanguage language : AppLanguages::allCases) {
            preferences.setLanguage(language);
            SCOPED_TRACE(AppLanguages::id(language));
            EXPECT_EQ(sheet.width(), DatabaseSheet::sheetWidth);
            EXPECT_EQ(clippedTexts(sheet), none);
        }
    };
    check();
    type("passwordField", "changed");
    check();
    type("confirmationField", "changed");
    QTest::mouseClick(child<QAbstractButton>("saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sheet.draft().saved(); }));
    check();
    engine->setStatus(profile.id, StackStatus{true, "Running", {{"MariaDB", 11}}});
    ASSERT_TRUE(waitFor([&] { return sheet.draft().running(); }));
    check();
}

} // namespace
} // namespace vessora
