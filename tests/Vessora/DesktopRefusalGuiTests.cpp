// A desktop without a browser or file manager refuses what the window hands
// it. Every control that opens something outside then says so over its own
// window: a warning that names the address or path, selectable so the user
// can copy it. Each control is pressed with the mouse; the recorded desktop
// refuses.
#include "Vessora/Sheets/DatabaseManagerDraft.hpp"
#include "Vessora/Sheets/LocalHTTPSSheet.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"
#include "tests/Vessora/Support/PictureStage.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <string>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class DesktopRefusalTest : public PictureStage {
protected:
    void SetUp() override {
        PictureStage::SetUp();
        desktop->accepts = false;
    }

    // A mouse press on a visible, enabled button below `owner`.
    static void press(QWidget* owner, const char* name) {
        auto* button = owner ? owner->findChild<QAbstractButton*>(name) : nullptr;
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isVisible()) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // What the last request handed to the desktop, without its kind.
    std::string lastTarget() const {
        if (desktop->requests.empty())
            return {};
        const std::string& last = desktop->requests.back();
        return last.substr(last.find(' ') + 1);
    }

    static QMessageBox* refusal(QWidget* over) {
        return over->window()->findChild<QMessageBox*>("openRefusedAlert",
                                                       Qt::FindDirectChildrenOnly);
    }

    // The label of `alert` that names `target` lets the user select it and
    // copy it as a user would: selected, then the copy keys.
    static void expectCopyable(QMessageBox& alert, const QString& target) {
        QLabel* naming = nullptr;
        for (QLabel* label : alert.findChildren<QLabel*>())
            if (label->isVisible() && label->text().contains(target))
                naming = label;
        ASSERT_NE(naming, nullptr) << "no label names " << target.toStdString();
        EXPECT_TRUE(naming->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        EXPECT_TRUE(naming->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
        naming->setSelection(0, static_cast<int>(naming->text().size()));
        ASSERT_TRUE(naming->selectedText().contains(target)) << "the text cannot be selected";
        QGuiApplication::clipboard()->clear();
        QTest::keySequence(naming, QKeySequence::Copy);
        EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(target))
            << QGuiApplication::clipboard()->text().toStdString();
    }

    // The warning over `over`'s window names `target` in a text the user can
    // copy; OK closes it.
    void expectRefusalNaming(QWidget* over, const std::string& target) {
        ASSERT_FALSE(target.empty());
        QMessageBox* alert = nullptr;
        ASSERT_TRUE(waitFor([&] {
            alert = refusal(over);
            return alert && alert->isVisible();
        })) << target;
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        EXPECT_TRUE(alert->informativeText().contains(QString::fromStdString(target)))
            << alert->informativeText().toStdString();
        expectCopyable(*alert, QString::fromStdString(target));
        QTest::mouseClick(alert->findChild<QPushButton*>("openRefusedOKButton"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return refusal(over) == nullptr; }));
    }

    // Presses the control, which must hand `expected` (or, when empty,
    // anything) to the desktop, and expects the warning naming it.
    void pressAndExpectRefusal(QWidget* owner, const char* name, const std::string& expected = {}) {
        SCOPED_TRACE(name);
        const std::size_t before = desktop->requests.size();
        press(owner, name);
        ASSERT_EQ(desktop->requests.size(), before + 1);
        if (!expected.empty()) {
            EXPECT_EQ(lastTarget(), expected);
        }
        expectRefusalNaming(owner, lastTarget());
    }

    StackPaths shopPaths() { return StackPaths(root.path(), shop()); }

    // The running shop selected, with its import report on disk.
    EnvironmentEditor* runningShop() {
        listThree();
        install();
        setRunning(shop().id);
        engine->setDatabaseSnapshot(shop().id, DatabaseAdminSnapshot{});
        fs::create_directories(shopPaths().directory());
        std::ofstream(shopPaths().migrationReport()) << "{}";
        showWindow();
        EnvironmentEditor* shown = select(shop().id);
        EXPECT_TRUE(waitForRunning(shop().id, true));
        settle();
        return shown;
    }
};

TEST_F(DesktopRefusalTest, TheEditorsShortcutsAndTheSidebarSayWhatCouldNotBeOpened) {
    EnvironmentEditor* shopEditor = runningShop();
    ASSERT_NE(shopEditor, nullptr);

    // An accepted request shows nothing.
    desktop->accepts = true;
    press(shopEditor, "openSiteButton");
    settle();
    EXPECT_EQ(refusal(&window()), nullptr);
    desktop->accepts = false;

    pressAndExpectRefusal(shopEditor, "openSiteButton", *shop().httpsURL());
    pressAndExpectRefusal(shopEditor, "phpMyAdminButton", shop().phpMyAdminURL());
    pressAndExpectRefusal(shopEditor, "importReportButton", shopPaths().migrationReport().string());
    // Folders that are not there yet open the data root.
    pressAndExpectRefusal(shopEditor, "projectButton", root.path().string());
    fs::create_directories(shopPaths().logs());
    pressAndExpectRefusal(shopEditor, "logsButton", shopPaths().logs().string());
    pressAndExpectRefusal(&window(), "supportLink");
}

TEST_F(DesktopRefusalTest, TheWarningIsInTheInterfaceLanguage) {
    speak(AppLanguage::german);
    EnvironmentEditor* shopEditor = runningShop();
    ASSERT_NE(shopEditor, nullptr);
    press(shopEditor, "openSiteButton");
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitFor([&] { return (alert = refusal(&window())) && alert->isVisible(); }));
    EXPECT_EQ(alert->informativeText().toStdString(),
              "Kein Webbrowser konnte " + *shop().httpsURL() + " öffnen.");
    EXPECT_EQ(alert->text().toStdString(), "Öffnen nicht möglich");
    EXPECT_EQ(alert->findChild<QPushButton*>("openRefusedOKButton")->text(), "OK");
}

TEST_F(DesktopRefusalTest, TheCertificateSheetSaysWhatCouldNotBeOpenedOrShown) {
    LocalCertificateInfo info;
    info.expires = std::chrono::system_clock::now() + std::chrono::hours(24 * 300);
    info.fingerprint = "3F:A1";
    engine->setCertificateInfo(shop().id, info);
    listThree();
    install();
    showWindow();
    EnvironmentEditor* shopEditor = select(shop().id);
    ASSERT_NE(shopEditor, nullptr);
    shopEditor->draft().setShowCertificate(true);
    QPointer<QDialog> sheet = presented("localHTTPSSheet");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(waitFor([&] { return sheet->findChild<QWidget*>("fingerprint")->isVisible(); }));

    pressAndExpectRefusal(sheet, "openCertificateButton",
                          shopPaths().tlsImportCertificate().string());
    // Refused at once.
    pressAndExpectRefusal(sheet, "showFilesButton");

    // The link, clicked where its text is.
    auto* guide = sheet->findChild<QLabel*>("trustGuideLink");
    ASSERT_NE(guide, nullptr);
    QTest::mouseClick(guide, Qt::LeftButton, {}, QPoint(4, guide->height() / 2));
    EXPECT_EQ(lastTarget(), LocalHTTPSSheet::trustGuideURL);
    expectRefusalNaming(sheet, LocalHTTPSSheet::trustGuideURL);

    // Taken, then refused when no file manager answered and the folder
    // could not be opened either.
    desktop->accepts = true;
    press(sheet, "showFilesButton");
    settle();
    EXPECT_EQ(refusal(sheet), nullptr);
    ASSERT_TRUE(desktop->laterRefusal);
    desktop->laterRefusal();
    expectRefusalNaming(sheet, lastTarget());

    // A refusal that comes after the sheet closed has nothing to say on.
    press(sheet, "showFilesButton");
    const auto late = desktop->laterRefusal;
    ASSERT_TRUE(late);
    press(sheet, "doneButton");
    ASSERT_TRUE(waitFor([&] { return sheet.isNull(); }));
    late();
    settle();
    EXPECT_EQ(refusal(&window()), nullptr);
}

TEST_F(DesktopRefusalTest, TheDatabaseManagerSaysWhatCouldNotBeOpened) {
    EnvironmentEditor* shopEditor = runningShop();
    ASSERT_NE(shopEditor, nullptr);
    shopEditor->draft().setShowDatabase(true);
    QDialog* manager = presented("databaseManagerSheet");
    ASSERT_NE(manager, nullptr);
    ASSERT_TRUE(waitFor([&] {
        return manager->findChild<QWidget*>("phpMyAdminButton")->isEnabled() && !model().busy();
    }));
    pressAndExpectRefusal(manager, "phpMyAdminButton", shop().phpMyAdminURL());
    press(manager, "doneButton");
    ASSERT_TRUE(waitFor([&] { return sheet() == nullptr; }));
}

TEST_F(DesktopRefusalTest, TheUpdateDetailsSayWhatCouldNotBeOpened) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
    listThree();
    install();
    showWindow();
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return !updates().isChecking(); }));
    updates().presentDetails();
    QDialog* details = presented("updateDetailsSheet");
    ASSERT_NE(details, nullptr);
    pressAndExpectRefusal(details, "updateDownload", updates().latest()->downloadURL());
    pressAndExpectRefusal(details, "updateReleasePage", AppRelease::websiteURL());
}

TEST_F(DesktopRefusalTest, TheImportResultSaysWhatCouldNotBeOpened) {
    listThree();
    install();
    showWindow();
    click("importProjectButton");
    auto* wizard = qobject_cast<MigrationSheet*>(presented("migrationSheet"));
    ASSERT_NE(wizard, nullptr);
    MigrationResult result;
    result.profile = shop();
    result.report.succeeded = true;
    result.report.message = "Stack verification passed.";
    wizard->draft().finish(result);
    settle();
    pressAndExpectRefusal(wizard, "importReportButton", shopPaths().migrationReport().string());
    pressAndExpectRefusal(wizard, "openSiteButton", result.profile.siteURL());
}

} // namespace
} // namespace vessora
