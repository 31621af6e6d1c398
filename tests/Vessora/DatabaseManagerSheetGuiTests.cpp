// The database management sheet's widgets, offscreen, with the fake engine:
// what each state shows and enables, the list heights, the dismissal locks,
// the delete-user confirmation, the forms and the credentials sheet on top.
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseManagerSheet.hpp"
#include "Vessora/Sheets/DatabaseSheet.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/DatabaseSheetTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"
#include "tests/Vessora/Support/SpontaneousWheel.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QWheelEvent>

#include <gmock/gmock.h>

namespace vessora {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

class DatabaseManagerSheetTest : public DatabaseSheetTest {
protected:
    void SetUp() override {
        DatabaseSheetTest::SetUp();
        DesktopServices::setCurrent(desktop);
        window.resize(900, 600);
        window.show();
    }
    void TearDown() override {
        engine->releaseAll();
        delete sheet_.data();
        DesktopServices::setCurrent(nullptr);
        DatabaseSheetTest::TearDown();
    }

    DatabaseManagerSheet& open() {
        sheet_ = new DatabaseManagerSheet(model(), preferences, profile, &window);
        sheet_->open();
        return *sheet_;
    }
    // Opens the sheet on a running environment and waits for the inventory.
    DatabaseManagerSheet& openLoaded() {
        startRunning();
        DatabaseManagerSheet& sheet = open();
        EXPECT_TRUE(waitFor([&] { return sheet.draft().snapshot() && !model().busy(); }));
        settle();
        return sheet;
    }

    template <typename Widget = QWidget>
    Widget* child(const char* name) const {
        Widget* found = sheet_->findChild<Widget*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Lets new rows appear: a layout shows them from the event loop.
    static void settle() { QTest::qWait(10); }
    bool shown(const char* name) const { return child(name)->isVisibleTo(sheet_); }
    bool enabled(const char* name) const { return child(name)->isEnabled(); }
    QString text(const char* name) const {
        if (auto* elided = qobject_cast<DatabaseElidedLabel*>(child(name)))
            return elided->fullText();
        if (auto* label = qobject_cast<QLabel*>(child(name)))
            return label->text();
        return child<QAbstractButton>(name)->text();
    }
    void click(const char* name) {
        QTest::mouseClick(child<QAbstractButton>(name), Qt::LeftButton);
    }

    void showUsers() { child<QTabBar>("tabPicker")->setCurrentIndex(1); }
    // The rows the list shows; fails the test for a row shown in part.
    static int rowsInView(const QListWidget& list) {
        const QRect view = list.viewport()->rect();
        int whole = 0;
        for (int row = 0; row < list.count(); ++row) {
            const QRect rect = list.visualItemRect(list.item(row));
            if (!rect.intersects(view))
                continue;
            EXPECT_TRUE(view.contains(rect)) << "row " << row << " is cut: " << rect.y() << "+"
                                             << rect.height() << " in " << view.height();
            // Nor is its content cut inside it, whatever the fonts.
            const QWidget* content = list.itemWidget(list.item(row));
            EXPECT_LE(content->sizeHint().height(), rect.height()) << "row " << row;
            ++whole;
        }
        return whole;
    }
    // One notch of a real mouse wheel over the list, down (or up).
    static void wheel(QListWidget& list, bool down) {
        const QPoint at = list.viewport()->rect().center();
        QWheelEvent event(at, list.viewport()->mapToGlobal(at), QPoint(),
                          QPoint(0, down ? -120 : 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(list.viewport(), &event);
    }
    // The accounts `count` of the sample's databases shows.
    DatabaseAdminSnapshot withAccounts(std::size_t count) const {
        DatabaseAdminSnapshot snapshot = sampleSnapshot();
        snapshot.users.clear();
        for (std::size_t index = 0; index < count; ++index)
            snapshot.users.push_back(
                {"user" + std::to_string(index), "127.0.0.1", index % 2 == 0, false, {}});
        return snapshot;
    }
    void selectAccount(const std::string& id) {
        auto* list = child<QListWidget>("accountList");
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->toolTip().toStdString() == id) {
                list->setCurrentRow(row);
                return;
            }
        ADD_FAILURE() << "no account " << id;
    }
    QComboBox* picker(const std::string& database) const {
        for (QComboBox* box : child("usersTab")->findChildren<QComboBox*>("accessPicker"))
            if (box->property("database").toString().toStdString() == database)
                return box;
        ADD_FAILURE() << "no picker for " << database;
        return nullptr;
    }
    template <typename Form = QDialog>
    Form* form(const char* name) const {
        return sheet_->findChild<Form*>(name);
    }
    // The new-user form, opened from the users tab.
    QDialog* openNewUserForm() {
        showUsers();
        click("newUserButton");
        return form("newUserForm");
    }
    // The sheet stays open after an attempt to dismiss it.
    bool resistsDismissal() {
        QTest::keyClick(sheet_, Qt::Key_Escape);
        const bool closed = sheet_->close();
        QTest::qWait(20);
        return sheet_ && sheet_->isVisible() && !closed;
    }

    QWidget window;
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    QPointer<DatabaseManagerSheet> sheet_;
};

TEST_F(DatabaseManagerSheetTest, AStoppedEnvironmentIsOfferedToStart) {
    setRunning(false);
    startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().packageStatusKnown(); }));
    open();
    EXPECT_EQ(text("connectionLine"), QString::fromUtf8("127.0.0.1:13307 \u00b7 mariadb@11.4"));
    EXPECT_EQ(text("environmentName"), "Studio");
    EXPECT_TRUE(shown("stoppedMessage"));
    EXPECT_EQ(text("stoppedMessage"),
              "Start the environment to manage its active MariaDB instance.");
    EXPECT_TRUE(shown("startEnvironmentButton"));
    EXPECT_TRUE(enabled("startEnvironmentButton"));
    EXPECT_FALSE(shown("tabPicker"));
    EXPECT_FALSE(shown("databasesTab"));
    EXPECT_FALSE(shown("refreshButton"));
    EXPECT_TRUE(shown("phpMyAdminButton"));
    EXPECT_FALSE(enabled("phpMyAdminButton"));
    EXPECT_TRUE(enabled("doneButton"));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 0);

    // One formula missing: no start.
    InstallationStatus missing;
    missing.installed[profile.php] = true;
    engine->setInstallations(missing);
    model().refreshPackages();
    ASSERT_TRUE(waitFor([&] { return !enabled("startEnvironmentButton"); }));
    engine->setInstallations({});
    InstallationStatus all;
    for (const std::string& formula : profile.formulae())
        all.installed[formula] = true;
    engine->setInstallations(all);
    model().refreshPackages();
    ASSERT_TRUE(waitFor([&] { return enabled("startEnvironmentButton"); }));

    // Starting from the sheet loads the inventory once it runs.
    click("startEnvironmentButton");
    ASSERT_TRUE(waitFor([&] { return shown("databasesTab"); }));
    EXPECT_EQ(engine->calls("start"), 1);
    EXPECT_FALSE(shown("stoppedMessage"));
    EXPECT_TRUE(shown("tabPicker"));
    EXPECT_TRUE(enabled("phpMyAdminButton"));
    click("phpMyAdminButton");
    EXPECT_THAT(desktop->requests, Contains("url " + profile.phpMyAdminURL()));
}

TEST_F(DatabaseManagerSheetTest, WithoutPhpMyAdminThereIsNoPhpMyAdminButton) {
    profile.phpMyAdminEnabled = false;
    openLoaded();
    EXPECT_FALSE(shown("phpMyAdminButton"));
}

TEST_F(DatabaseManagerSheetTest, WhileLoadingEverythingButPhpMyAdminIsLocked) {
    engine->hold("databaseAdminSnapshot");
    startRunning();
    open();
    ASSERT_TRUE(waitUntilHeld("databaseAdminSnapshot"));
    ASSERT_TRUE(waitFor([&] { return shown("loadingRow"); }));
    EXPECT_TRUE(shown("tabPicker"));
    EXPECT_FALSE(enabled("tabPicker"));
    EXPECT_FALSE(enabled("refreshButton"));
    EXPECT_FALSE(enabled("doneButton"));
    EXPECT_FALSE(enabled("credentialsButton"));
    EXPECT_TRUE(enabled("phpMyAdminButton"));
    EXPECT_FALSE(shown("databasesTab"));
    EXPECT_TRUE(resistsDismissal());

    engine->release("databaseAdminSnapshot");
    ASSERT_TRUE(waitFor([&] { return shown("databasesTab"); }));
    EXPECT_FALSE(shown("loadingRow"));
    EXPECT_TRUE(enabled("doneButton"));
    click("doneButton");
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
}

TEST_F(DatabaseManagerSheetTest, AFailedLoadShowsOnlyItsErrorUntilRefresh) {
    engine->fail("databaseAdminSnapshot", "Database operation failed (ERROR 2002).");
    startRunning();
    DatabaseManagerSheet& sheet = open();
    ASSERT_TRUE(waitFor([&] { return sheet.draft().error().has_value() && !model().busy(); }));
    EXPECT_TRUE(shown("errorLine"));
    EXPECT_EQ(text("errorLine"), "Database operation failed (ERROR 2002).");
    EXPECT_TRUE(shown("tabPicker"));
    EXPECT_FALSE(shown("databasesTab"));
    EXPECT_FALSE(shown("usersTab"));
    EXPECT_FALSE(shown("loadingRow"));
    EXPECT_FALSE(shown("noticeLine"));
    EXPECT_TRUE(enabled("refreshButton"));

    engine->fail("databaseAdminSnapshot", std::nullopt);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return shown("databasesTab") && !model().busy(); }));
    EXPECT_FALSE(shown("errorLine"));
    EXPECT_EQ(engine->calls("databaseAdminSnapshot"), 2);
}

TEST_F(DatabaseManagerSheetTest, TheDatabasesTabListsEveryDatabaseAtItsHeight) {
    DatabaseManagerSheet& sheet = openLoaded();
    const auto rows = child("databaseList")->findChildren<QWidget*>("databaseRow");
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->findChild<DatabaseElidedLabel*>("databaseName")->fullText(), "1legacy");
    EXPECT_EQ(rows[2]->findChild<DatabaseElidedLabel*>("databaseName")->fullText(), "shop");
    EXPECT_FALSE(rows[0]->findChild<QLabel*>("primaryLabel")->isVisibleTo(&sheet));
    EXPECT_TRUE(rows[2]->findChild<QLabel*>("primaryLabel")->isVisibleTo(&sheet));
    EXPECT_EQ(rows[2]->findChild<QLabel*>("tableCount")->text(), "12 tables / views");
    EXPECT_EQ(child("databaseList")->height(), 108);
    EXPECT_TRUE(enabled("newDatabaseButton"));

    DatabaseAdminSnapshot snapshot = sampleSnapshot();
    snapshot.databases.clear();
    engine->setDatabaseSnapshot(profile.id, snapshot);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return sheet.draft().snapshot() == snapshot && !model().busy(); }));
    settle();
    EXPECT_EQ(child("databaseList")->height(), 70);
    EXPECT_TRUE(child("databaseList")->findChildren<QWidget*>("databaseRow").isEmpty());

    for (int index = 0; index < 7; ++index)
        snapshot.databases.push_back({"db" + std::to_string(index), 0, "", false});
    engine->setDatabaseSnapshot(profile.id, snapshot);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return sheet.draft().snapshot() == snapshot && !model().busy(); }));
    EXPECT_EQ(child("databaseList")->height(), 220);
    EXPECT_EQ(child("databaseList")->findChildren<QWidget*>("databaseRow").size(), 7);
}

// However many accounts, and wherever the wheel scrolled to: whole rows.
TEST_F(DatabaseManagerSheetTest, TheAccountListNeverCutsARow) {
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    auto* list = child<QListWidget>("accountList");
    for (const std::size_t count : {1u, 4u, 5u, 6u, 12u}) {
        SCOPED_TRACE(count);
        const DatabaseAdminSnapshot snapshot = withAccounts(count);
        engine->setDatabaseSnapshot(profile.id, snapshot);
        click("refreshButton");
        ASSERT_TRUE(
            waitFor([&] { return sheet.draft().snapshot() == snapshot && !model().busy(); }));
        settle();
        ASSERT_EQ(list->count(), static_cast<int>(count));
        EXPECT_EQ(rowsInView(*list), static_cast<int>(std::min<std::size_t>(count, 5)));
        if (count <= 5)
            continue;
        // Down to the last account, a notch at a time, and back.
        for (int notch = 0; notch < 6; ++notch) {
            wheel(*list, true);
            EXPECT_EQ(rowsInView(*list), 5) << "after notch " << notch;
        }
        EXPECT_TRUE(list->viewport()->rect().contains(
            list->visualItemRect(list->item(static_cast<int>(count) - 1))));
        wheel(*list, false);
        EXPECT_EQ(rowsInView(*list), 5);
    }
}

TEST_F(DatabaseManagerSheetTest, TheUsersTabShowsAccountsAndTheApplicationAccountsLimits) {
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    ASSERT_TRUE(shown("usersTab"));
    EXPECT_FALSE(shown("databasesTab"));
    auto* list = child<QListWidget>("accountList");
    ASSERT_EQ(list->count(), 6);
    // Five whole rows, then it scrolls.
    EXPECT_EQ(rowsInView(*list), 5);
    EXPECT_EQ(list->viewport()->height(), 5 * list->visualItemRect(list->item(0)).height());
    EXPECT_EQ(list->width(), 170);
    const auto names = list->findChildren<DatabaseElidedLabel*>("accountName");
    EXPECT_EQ(names[0]->fullText(), "Anonymous");
    EXPECT_EQ(list->findChildren<QLabel*>("accountLock").size(), 3);
    EXPECT_EQ(list->currentRow(), 4);
    EXPECT_EQ(text("accountID"), "vessora@127.0.0.1");

    // Two manageable databases: two pickers, 64 high; the primary one fixed.
    EXPECT_EQ(child("accessList")->height(), 64);
    EXPECT_EQ(child("usersTab")->findChildren<QComboBox*>("accessPicker").size(), 2);
    EXPECT_FALSE(picker("shop")->isEnabled());
    EXPECT_EQ(picker("shop")->currentText(), "Schema admin");
    EXPECT_TRUE(picker("blog")->isEnabled());
    EXPECT_EQ(picker("blog")->currentText(), "No access");
    EXPECT_EQ(picker("blog")->count(), 4);
    EXPECT_THAT(text("accessNote").toStdString(), HasSubstr("Vessora manages the primary"));
    EXPECT_FALSE(shown("changePasswordButton"));
    EXPECT_FALSE(shown("deleteUserButton"));
    EXPECT_FALSE(shown("saveAccessButton"));

    // A protected account: its id and the explanation, no control.
    selectAccount("localadmin@localhost");
    EXPECT_EQ(sheet.draft().selectedUserID(), "localadmin@localhost");
    EXPECT_EQ(text("accountID"), "localadmin@localhost");
    EXPECT_TRUE(shown("protectedLabel"));
    EXPECT_FALSE(shown("accessList"));
    EXPECT_FALSE(shown("saveAccessButton"));
    EXPECT_FALSE(shown("changePasswordButton"));
    EXPECT_FALSE(shown("deleteUserButton"));

    // An ordinary account with a custom set.
    selectAccount("writer@127.0.0.1");
    EXPECT_FALSE(shown("protectedLabel"));
    EXPECT_EQ(picker("blog")->count(), 5);
    EXPECT_EQ(picker("blog")->currentText(), "Custom (unchanged)");
    EXPECT_TRUE(shown("changePasswordButton"));
    EXPECT_TRUE(shown("deleteUserButton"));
    EXPECT_EQ(child("deleteUserButton")->toolTip(), "Delete user");
    EXPECT_EQ(child("deleteUserButton")->accessibleName(), "Delete user");
    EXPECT_THAT(text("accessNote").toStdString(), HasSubstr("Schema admin can also create"));

    // No manageable database: an empty access list of one row's height, and
    // the account's own actions still offered.
    DatabaseAdminSnapshot unmanaged = sampleSnapshot();
    unmanaged.databases = {{"1legacy", 0, "", false}, {"my shop", 0, "", false}};
    engine->setDatabaseSnapshot(profile.id, unmanaged);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return sheet.draft().snapshot() == unmanaged && !model().busy(); }));
    EXPECT_EQ(text("accountID"), "writer@127.0.0.1");
    EXPECT_TRUE(shown("accessList"));
    EXPECT_EQ(child("accessList")->height(), 32);
    EXPECT_TRUE(child("usersTab")->findChildren<QComboBox*>("accessPicker").isEmpty());
    EXPECT_TRUE(sheet.draft().access().empty());
    EXPECT_TRUE(shown("changePasswordButton"));
    EXPECT_TRUE(shown("deleteUserButton"));

    // Five or more manageable databases: 132 high, and the list scrolls.
    DatabaseAdminSnapshot many = sampleSnapshot();
    for (int index = 0; index < 5; ++index)
        many.databases.push_back({"extra" + std::to_string(index), 0, "", false});
    engine->setDatabaseSnapshot(profile.id, many);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return sheet.draft().snapshot() == many && !model().busy(); }));
    settle();
    EXPECT_EQ(child("accessList")->height(), 132);
    EXPECT_EQ(child("usersTab")->findChildren<QComboBox*>("accessPicker").size(), 7);
    // The scroll bar follows the rows' layout over a few passes of the
    // event loop, which a loaded machine may not finish within settle().
    EXPECT_TRUE(waitFor(
        [&] { return child<QScrollArea>("accessList")->verticalScrollBar()->isVisible(); }));

    // No accounts, no manageable database.
    DatabaseAdminSnapshot empty;
    empty.databases = {{"1legacy", 0, "", false}};
    engine->setDatabaseSnapshot(profile.id, empty);
    click("refreshButton");
    ASSERT_TRUE(waitFor([&] { return sheet.draft().snapshot() == empty && !model().busy(); }));
    EXPECT_EQ(list->count(), 0);
    // Still room for three rows.
    EXPECT_GE(list->viewport()->height(), 3 * 41);
    EXPECT_FALSE(shown("accountID"));
    EXPECT_FALSE(shown("accessList"));
    EXPECT_FALSE(shown("protectedLabel"));
}

TEST_F(DatabaseManagerSheetTest, PendingAccessChangesLockTheSheetUntilSavedOrDiscarded) {
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    selectAccount("writer@127.0.0.1");
    QComboBox* shop = picker("shop");
    ASSERT_EQ(shop->currentText(), "Read & write");
    shop->setFocus();
    QTest::keyClick(shop, Qt::Key_Down);
    EXPECT_EQ(sheet.draft().access().at("shop"), DatabaseAccess::admin);
    ASSERT_TRUE(sheet.draft().dirty());
    EXPECT_TRUE(shown("saveAccessButton"));
    EXPECT_TRUE(shown("discardButton"));
    EXPECT_FALSE(shown("changePasswordButton"));
    EXPECT_FALSE(shown("deleteUserButton"));
    EXPECT_FALSE(enabled("tabPicker"));
    EXPECT_FALSE(enabled("refreshButton"));
    EXPECT_FALSE(enabled("doneButton"));
    EXPECT_FALSE(enabled("accountList"));
    EXPECT_FALSE(enabled("newUserButton"));
    EXPECT_TRUE(resistsDismissal());

    click("discardButton");
    EXPECT_FALSE(sheet.draft().dirty());
    EXPECT_EQ(picker("shop")->currentText(), "Read & write");
    EXPECT_TRUE(enabled("doneButton"));
    EXPECT_TRUE(shown("changePasswordButton"));

    // Saving goes to the server and unlocks the sheet again.
    QTest::keyClick(picker("shop"), Qt::Key_Down);
    click("saveAccessButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_THAT(engine->log(),
                Contains("setDatabaseAccess(studio, writer@127.0.0.1, shop=Schema admin)"));
    EXPECT_EQ(picker("shop")->currentText(), "Schema admin");
    EXPECT_TRUE(shown("noticeLine"));
    EXPECT_EQ(text("noticeLine"),
              "Changes applied. Reconnect clients to use their current permissions and password.");
    EXPECT_TRUE(enabled("doneButton"));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
}

TEST_F(DatabaseManagerSheetTest, DeletingAUserAsksFirst) {
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    selectAccount("writer@127.0.0.1");
    click("deleteUserButton");
    auto* alert = sheet.findChild<QMessageBox*>("deleteUserConfirmation");
    ASSERT_NE(alert, nullptr);
    ASSERT_TRUE(waitFor([&] { return alert->isVisible(); }));
    EXPECT_EQ(alert->text(), "Delete database user?");
    EXPECT_THAT(alert->informativeText().toStdString(),
                HasSubstr("Remove writer@127.0.0.1 and all of its grants"));
    auto* cancel = alert->findChild<QPushButton*>("cancelDeleteButton");
    auto* remove = alert->findChild<QPushButton*>("confirmDeleteButton");
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_EQ(remove->text(), "Delete user");
    // The message keeps its room when the sheet draws the alert again.
    preferences.setLanguage(AppLanguage::french);
    preferences.setLanguage(AppLanguage::english);
    alert->adjustSize();
    auto* message = alert->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_NE(message, nullptr);
    EXPECT_GE(message->width(), 380);
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !sheet.findChild<QMessageBox*>("deleteUserConfirmation"); }));
    EXPECT_FALSE(sheet.draft().confirmDelete());
    EXPECT_EQ(engine->calls("deleteDatabaseUser"), 0);

    click("deleteUserButton");
    alert = sheet.findChild<QMessageBox*>("deleteUserConfirmation");
    ASSERT_NE(alert, nullptr);
    QTest::mouseClick(alert->findChild<QPushButton*>("confirmDeleteButton"), Qt::LeftButton);
    ASSERT_TRUE(waitForIdle());
    EXPECT_THAT(engine->log(), Contains("deleteDatabaseUser(studio, writer@127.0.0.1)"));
    EXPECT_EQ(child<QListWidget>("accountList")->count(), 5);
    EXPECT_EQ(text("accountID"), "vessora@127.0.0.1");
    EXPECT_FALSE(sheet.draft().confirmDelete());
}

TEST_F(DatabaseManagerSheetTest, TheNewDatabaseFormChecksTheNameAndLocksWhileItRuns) {
    DatabaseManagerSheet& sheet = openLoaded();
    click("newDatabaseButton");
    auto* dialog = form("newDatabaseForm");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->width(), 440);
    auto* submit = dialog->findChild<QPushButton*>("submitButton");
    auto* cancel = dialog->findChild<QPushButton*>("cancelButton");
    auto* field = dialog->findChild<QLineEdit*>("databaseNameField");
    EXPECT_EQ(submit->text(), "Create database");
    EXPECT_FALSE(submit->isEnabled());
    QTest::keyClicks(field, "SHOP");
    EXPECT_FALSE(submit->isEnabled());
    // Return does nothing while the button is disabled.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(engine->calls("createDatabase"), 0);
    field->clear();
    QTest::keyClicks(field, "shop_2");
    EXPECT_TRUE(submit->isEnabled());
    QTest::keyClick(dialog, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !form("newDatabaseForm"); }));
    EXPECT_FALSE(sheet.draft().showDatabase());
    EXPECT_EQ(engine->calls("createDatabase"), 0);

    click("newDatabaseButton");
    dialog = form("newDatabaseForm");
    ASSERT_NE(dialog, nullptr);
    field = dialog->findChild<QLineEdit*>("databaseNameField");
    EXPECT_EQ(field->text(), "");
    QTest::keyClicks(field, "shop_2");
    dialog->findChild<QAbstractButton*>("grantApplicationCheck")->click();
    EXPECT_FALSE(sheet.draft().grantApplication());
    engine->hold("createDatabase");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitUntilHeld("createDatabase"));
    ASSERT_TRUE(waitFor([&] { return model().busy(); }));
    EXPECT_FALSE(dialog->findChild<QPushButton*>("cancelButton")->isEnabled());
    EXPECT_FALSE(dialog->findChild<QPushButton*>("submitButton")->isEnabled());
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    (void)cancel;
    engine->release("createDatabase");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return !form("newDatabaseForm"); }));
    EXPECT_THAT(engine->log(), Contains("createDatabase(studio, shop_2)"));
    EXPECT_EQ(child("databaseList")->findChildren<QWidget*>("databaseRow").size(), 4);
    EXPECT_TRUE(shown("noticeLine"));
}

TEST_F(DatabaseManagerSheetTest, TheNewUserFormOffersManageableDatabasesAndSelectsTheNewAccount) {
    DatabaseManagerSheet& sheet = openLoaded();
    QDialog* dialog = openNewUserForm();
    ASSERT_NE(dialog, nullptr);
    auto* databases = dialog->findChild<QComboBox*>("databasePicker");
    ASSERT_EQ(databases->count(), 2);
    EXPECT_EQ(databases->itemText(0), "blog");
    EXPECT_EQ(databases->currentText(), "shop");
    auto* access = dialog->findChild<QComboBox*>("accessPicker");
    EXPECT_EQ(access->count(), 4);
    EXPECT_EQ(access->currentText(), "Read & write");
    auto* submit = dialog->findChild<QPushButton*>("submitButton");
    EXPECT_FALSE(submit->isEnabled());
    QTest::keyClicks(dialog->findChild<QLineEdit*>("userNameField"), "newbie");
    QTest::keyClicks(dialog->findChild<QLineEdit*>("passwordField"), "s3cret");
    EXPECT_FALSE(submit->isEnabled());
    QTest::keyClicks(dialog->findChild<QLineEdit*>("confirmationField"), "s3cre");
    EXPECT_FALSE(submit->isEnabled());
    QTest::keyClicks(dialog->findChild<QLineEdit*>("confirmationField"), "t");
    EXPECT_TRUE(submit->isEnabled());
    EXPECT_EQ(dialog->findChild<QLineEdit*>("passwordField")->echoMode(), QLineEdit::Password);
    databases->setFocus();
    QTest::keyClick(databases, Qt::Key_Up);
    EXPECT_EQ(sheet.draft().initialDatabase(), "blog");
    QTest::mouseClick(submit, Qt::LeftButton);
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return !form("newUserForm"); }));
    EXPECT_THAT(engine->log(), Contains("createDatabaseUser(studio, newbie, blog, Read & write)"));
    EXPECT_EQ(text("accountID"), "newbie@127.0.0.1");
    EXPECT_EQ(sheet.draft().password(), "");
}

// The wheel over an access picker the user never focused scrolls the access
// list and changes no access; given the focus, the picker takes it.
TEST_F(DatabaseManagerSheetTest, TheAccessPickersIgnoreTheWheelAndTheListScrolls) {
    DatabaseAdminSnapshot many = sampleSnapshot();
    for (int index = 0; index < 5; ++index)
        many.databases.push_back({"extra" + std::to_string(index), 0, "", false});
    engine->setDatabaseSnapshot(profile.id, many);
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    selectAccount("writer@127.0.0.1");
    auto* scroll = child<QScrollArea>("accessList");
    ASSERT_TRUE(waitFor([&] { return scroll->verticalScrollBar()->maximum() > 0; }));
    const auto pickers = child("usersTab")->findChildren<QComboBox*>("accessPicker");
    ASSERT_EQ(pickers.size(), 7);
    for (QComboBox* box : pickers) {
        SCOPED_TRACE(box->property("database").toString().toStdString());
        if (!box->isEnabled())
            continue;
        scroll->verticalScrollBar()->setValue(0);
        const int shown = box->currentIndex();
        wheelDown(box);
        EXPECT_EQ(box->currentIndex(), shown);
        EXPECT_FALSE(box->hasFocus());
        EXPECT_GT(scroll->verticalScrollBar()->value(), 0) << "the list did not scroll";
    }
    EXPECT_FALSE(sheet.draft().dirty());

    QComboBox* extra = picker("extra0");
    ASSERT_EQ(extra->currentText(), "No access");
    sheet.activateWindow();
    extra->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitFor([&] { return extra->hasFocus(); }));
    wheelDown(extra, 1);
    EXPECT_EQ(extra->currentText(), "Read only");
    EXPECT_TRUE(sheet.draft().dirty());
}

// The same for the new-user form's database and access pop-ups.
TEST_F(DatabaseManagerSheetTest, TheNewUserFormsPickersIgnoreTheWheel) {
    DatabaseManagerSheet& sheet = openLoaded();
    QDialog* dialog = openNewUserForm();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    const std::string database = sheet.draft().initialDatabase();
    const DatabaseAccess access = sheet.draft().initialAccess();
    for (const char* name : {"databasePicker", "accessPicker"}) {
        SCOPED_TRACE(name);
        auto* box = dialog->findChild<QComboBox*>(name);
        ASSERT_NE(box, nullptr);
        ASSERT_GT(box->count(), 1);
        // Wheel turns both ways: one of them would pass the ends.
        const int shown = box->currentIndex();
        box->clearFocus();
        wheelDown(box);
        EXPECT_EQ(box->currentIndex(), shown);
        wheelUp(box);
        EXPECT_EQ(box->currentIndex(), shown);
        EXPECT_FALSE(box->hasFocus());
    }
    EXPECT_EQ(sheet.draft().initialDatabase(), database);
    EXPECT_EQ(sheet.draft().initialAccess(), access);
}

TEST_F(DatabaseManagerSheetTest, ThePasswordFormChangesTheSelectedAccountsPassword) {
    DatabaseManagerSheet& sheet = openLoaded();
    showUsers();
    selectAccount("reporter@127.0.0.1");
    click("changePasswordButton");
    auto* dialog = form("passwordForm");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->findChild<QLabel*>("passwordAccount")->text(), "reporter@127.0.0.1");
    auto* submit = dialog->findChild<QPushButton*>("submitButton");
    EXPECT_EQ(submit->text(), "Save password");
    QTest::keyClicks(dialog->findChild<QLineEdit*>("passwordField"), "line");
    QTest::keyClicks(dialog->findChild<QLineEdit*>("confirmationField"), "line");
    EXPECT_TRUE(submit->isEnabled());
    QTest::keyClick(dialog->findChild<QLineEdit*>("confirmationField"), Qt::Key_Return);
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return !form("passwordForm"); }));
    EXPECT_EQ(engine->userPassword(profile.id, "reporter@127.0.0.1"), "line");
    EXPECT_EQ(text("accountID"), "reporter@127.0.0.1");

    click("changePasswordButton");
    dialog = form("passwordForm");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("passwordField")->text(), "");
    EXPECT_EQ(dialog->findChild<QLineEdit*>("confirmationField")->text(), "");
    EXPECT_FALSE(dialog->findChild<QPushButton*>("submitButton")->isEnabled());
    (void)sheet;
}

TEST_F(DatabaseManagerSheetTest, TheCredentialsSheetOpensOnTopAndClosesItsFlag) {
    DatabaseManagerSheet& sheet = openLoaded();
    click("credentialsButton");
    auto* credentials = sheet.findChild<DatabaseSheet*>("databaseSheet");
    ASSERT_NE(credentials, nullptr);
    EXPECT_TRUE(credentials->isVisible());
    EXPECT_TRUE(sheet.draft().showCredentials());
    ASSERT_TRUE(waitFor([&] { return credentials->draft().original().has_value(); }));
    QTest::keyClick(credentials, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !sheet.findChild<DatabaseSheet*>("databaseSheet"); }));
    EXPECT_FALSE(sheet.draft().showCredentials());
}

TEST_F(DatabaseManagerSheetTest, ANewLanguageRedrawsEveryText) {
    DatabaseManagerSheet& sheet = openLoaded();
    sheet.draft().saveAccess(*sheet.draft().user());
    ASSERT_TRUE(waitForIdle());
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(sheet.windowTitle(), "Datenbanken");
    EXPECT_EQ(text("doneButton"), "Fertig");
    // "&&" shows one "&" rather than marking a shortcut.
    EXPECT_EQ(child<QTabBar>("tabPicker")->tabText(1), "Benutzer && Zugriff");
    EXPECT_THAT(text("noticeLine").toStdString(), HasSubstr("Änderungen übernommen"));
    EXPECT_EQ(child("databaseList")->findChildren<QLabel*>("tableCount")[2]->text(),
              "12 Tabellen / Ansichten");
}

TEST_F(DatabaseManagerSheetTest, EveryLanguageFitsInEveryState) {
    DatabaseManagerSheet& sheet = openLoaded();
    DatabaseManagerDraft& draft = sheet.draft();
    const std::vector<std::string> none;
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        draft.setTab(DatabaseManagerDraft::databasesTab);
        EXPECT_EQ(sheet.width(), DatabaseManagerSheet::sheetWidth);
        EXPECT_EQ(clippedTexts(sheet), none);

        draft.setTab(DatabaseManagerDraft::usersTab);
        draft.setSelectedUserID(std::string("writer@127.0.0.1"));
        EXPECT_EQ(clippedTexts(sheet), none);
        draft.setAccess("shop", DatabaseAccess::admin);
        EXPECT_EQ(clippedTexts(sheet), none);
        // Every level name fits its picker, "Custom (unchanged)" included.
        QFontMetrics metrics(picker("blog")->font());
        for (int index = 0; index < picker("blog")->count(); ++index)
            EXPECT_LE(metrics.horizontalAdvance(picker("blog")->itemText(index)) + 24,
                      picker("blog")->width())
                << picker("blog")->itemText(index).toStdString();
        draft.resetAccess();
        draft.setSelectedUserID(std::string("localadmin@localhost"));
        EXPECT_EQ(clippedTexts(sheet), none);
        draft.setSelectedUserID(std::string("vessora@127.0.0.1"));

        draft.openNewDatabase();
        ASSERT_NE(form("newDatabaseForm"), nullptr);
        EXPECT_EQ(clippedTexts(*form("newDatabaseForm")), none);
        draft.setShowDatabase(false);
        draft.openNewUser();
        ASSERT_NE(form("newUserForm"), nullptr);
        EXPECT_EQ(clippedTexts(*form("newUserForm")), none);
        draft.setShowUser(false);
        draft.setSelectedUserID(std::string("reporter@127.0.0.1"));
        draft.openChangePassword();
        ASSERT_NE(form("passwordForm"), nullptr);
        EXPECT_EQ(clippedTexts(*form("passwordForm")), none);
        draft.setShowPassword(false);
        draft.requestDeleteUser();
        auto* alert = sheet.findChild<QMessageBox*>("deleteUserConfirmation");
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(clippedTexts(*alert), none);
        draft.setConfirmDelete(false);
    }
    // Stopped: the start offer.
    setRunning(false);
    ASSERT_TRUE(waitForRunning(false));
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        EXPECT_EQ(clippedTexts(sheet), none);
    }
}

} // namespace
} // namespace vessora
