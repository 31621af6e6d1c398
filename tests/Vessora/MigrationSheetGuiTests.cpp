// The import wizard through its widgets with the fake engine: the steps and
// their checks, an import that reports its phases and returns a result or
// throws, the locked sheet while it runs, the result with its buttons, the
// clean-up of an incomplete import, and every language in every state.
#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "Vessora/Sheets/MigrationStepIndicator.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SummaryGrid.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/FormTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace vessora {
namespace {

using Row = MigrationDraft::Row;

class MigrationSheetTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        DesktopServices::setCurrent(desktop);
        auto profiles = StackProfile::defaults();
        StackProfile shop = profiles.front();
        shop.id = "shop";
        shop.name = "Shop";
        shop.httpPort = 8190;
        shop.phpPort = 9190;
        shop.databasePort = 3390;
        profiles.push_back(shop);
        engine->setProfiles(profiles);
        InstallationStatus installations;
        for (const char* formula : {"nginx", "php@8.4", "mariadb@11.4"})
            installations.installed[formula] = true;
        engine->setInstallations(installations);
    }

    void TearDown() override {
        DesktopServices::setCurrent(nullptr);
        FormTest::TearDown();
    }

    // As the main window does: raise the flag, then open the sheet, once
    // the records and the package status are loaded.
    MigrationSheet* openSheet() {
        startMonitor();
        refreshPackages();
        model().setShowMigration(true);
        auto* sheet = new MigrationSheet(model(), preferences, &window);
        sheet->open();
        sheet_ = sheet;
        return sheet;
    }

    MigrationDraft& draft() { return sheet_->draft(); }

    template <typename Widget = QWidget>
    Widget* child(const char* name) {
        auto* widget = sheet_->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    QString text(const char* name) {
        if (auto* label = sheet_->findChild<QLabel*>(name))
            return label->text();
        if (auto* view = sheet_->findChild<ElidedSelectableText*>(name))
            return view->fullText();
        if (auto* view = sheet_->findChild<SelectableText*>(name))
            return view->text();
        if (auto* push = sheet_->findChild<QAbstractButton*>(name))
            return push->text();
        ADD_FAILURE() << name;
        return {};
    }
    bool shown(const char* name) { return child(name)->isVisible(); }

    void click(const char* name) {
        QPushButton* push = button(name);
        ASSERT_TRUE(push->isVisible()) << name;
        ASSERT_TRUE(push->isEnabled()) << name;
        QTest::mouseClick(push, Qt::LeftButton);
    }

    // Replaces a field's text as typing or pasting would.
    void enter(const char* field, const std::string& value) {
        auto* edit = child<QLineEdit>(field);
        edit->setFocus();
        edit->selectAll();
        if (value.empty())
            edit->del();
        else
            edit->insert(QString::fromStdString(value));
    }

    // Fills every step with a valid import of `folder` and goes to the
    // review.
    void fillToReview(const std::string& name = "Portal") {
        enter("nameField", name);
        click("chooseFolderButton");
        chooser->answer(project.path());
        click("primaryButton");
        click("primaryButton");
        click("primaryButton");
        ASSERT_EQ(draft().step(), MigrationDraft::reviewStep);
    }

    std::vector<Row> rows(const char* grid) { return child<SummaryGrid>(grid)->shownRows(); }

    std::string lastRequest() const {
        return desktop->requests.empty() ? std::string() : desktop->requests.back();
    }

    // The environment "studio" runs, as the next poll sees it.
    void setStudioRunning(bool running) {
        engine->setStatus("studio", running ? StackStatus{true, "Running", {{"MariaDB", 1}}}
                                            : StackStatus{false, "Stopped", {}});
        ASSERT_TRUE(waitFor([&] { return model().anyRunning() == running; }));
    }

    TemporaryFolder project{"vessora-project"};
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    QPointer<MigrationSheet> sheet_;
};

TEST_F(MigrationSheetTest, TheProjectStepChecksTheNameAndTakesTheChosenFolder) {
    MigrationSheet* sheet = openSheet();
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->width(), MigrationSheet::sheetWidth);
    EXPECT_EQ(child<IconLabel>("sheetTitle")->text(), "Import project");
    EXPECT_EQ(child<MigrationStepIndicator>("stepIndicator")->items(),
              (std::vector<QString>{"1. Project", "2. Database", "3. Runtime", "4. Review"}));
    EXPECT_EQ(sheet->findChildren<QLabel*>(QRegularExpression("^stepChevron")).size(), 3);
    EXPECT_FALSE(shown("backButton"));
    EXPECT_EQ(text("closeButton"), "Cancel");
    EXPECT_EQ(text("primaryButton"), "Next");
    EXPECT_TRUE(button("primaryButton")->isDefault());
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    EXPECT_TRUE(child<QRadioButton>("existingModeButton")->isChecked());
    EXPECT_EQ(text("modeNote"), "The environment uses your folder directly. Vessora keeps it "
                                "when the environment is deleted.");
    EXPECT_FALSE(shown("folderPath"));

    // Clashing names show the message; a blank one shows none.
    for (const std::string& name : std::vector<std::string>{"Shop", " shop ", "SHOP"}) {
        enter("nameField", name);
        EXPECT_TRUE(shown("nameInUseMessage")) << name;
        EXPECT_EQ(text("nameInUseMessage"), "This name is already in use.");
    }
    enter("nameField", "   ");
    EXPECT_FALSE(shown("nameInUseMessage"));

    // A cancelled chooser changes nothing; a chosen folder names the blank
    // name.
    click("chooseFolderButton");
    ASSERT_EQ(chooser->requests.size(), 1u);
    EXPECT_TRUE(chooser->requests.front().folder);
    chooser->answer(std::nullopt);
    EXPECT_FALSE(draft().folder());
    click("chooseFolderButton");
    chooser->answer(project.path());
    EXPECT_EQ(draft().folder(), project.path().string());
    EXPECT_EQ(child<QLineEdit>("nameField")->text().toStdString(),
              project.path().filename().string());
    EXPECT_TRUE(shown("folderPath"));
    EXPECT_EQ(text("folderPath").toStdString(), project.path().string());
    EXPECT_TRUE(button("primaryButton")->isEnabled());

    // A typed name stays when another folder is chosen.
    enter("nameField", "Client portal");
    click("chooseFolderButton");
    chooser->answer(project.path() / "public");
    EXPECT_EQ(draft().name(), "Client portal");

    // A web folder outside the project keeps Next disabled, without a message.
    enter("publicDirectoryField", "../site");
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    enter("publicDirectoryField", "public");
    QTest::mouseClick(child<QRadioButton>("copyModeButton"), Qt::LeftButton);
    EXPECT_EQ(draft().mode(), ProjectImportMode::copy);
    EXPECT_EQ(text("modeNote"), "The complete project is copied. The source stays unchanged; "
                                "the managed copy is removed with the environment.");
    // Return is Next.
    QTest::keyClick(child<QLineEdit>("nameField"), Qt::Key_Return);
    EXPECT_EQ(draft().step(), MigrationDraft::databaseStep);
}

TEST_F(MigrationSheetTest, TheDatabaseAndRuntimeStepsFollowTheDraftAndTheModel) {
    openSheet();
    enter("nameField", "Portal");
    click("chooseFolderButton");
    chooser->answer(project.path());
    click("primaryButton");

    // Database: the rule's message, the dump chosen and removed.
    EXPECT_TRUE(shown("databaseStep"));
    EXPECT_FALSE(shown("projectStep"));
    EXPECT_TRUE(shown("backButton"));
    EXPECT_EQ(child<QLineEdit>("databaseField")->text(), "vessora");
    EXPECT_FALSE(shown("databaseNameMessage"));
    enter("databaseField", "mysql");
    EXPECT_TRUE(shown("databaseNameMessage"));
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    enter("databaseField", "shop");
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    EXPECT_FALSE(shown("removeSQLButton"));
    EXPECT_FALSE(shown("sqlPath"));
    click("chooseSQLButton");
    ASSERT_EQ(chooser->requests.size(), 1u);
    EXPECT_FALSE(chooser->requests.front().folder);
    EXPECT_EQ(chooser->requests.front().nameFilters, QStringList{"SQL (*.sql *.SQL)"});
    chooser->answer(project.path() / "shop.sql");
    EXPECT_TRUE(shown("sqlPath"));
    EXPECT_EQ(text("sqlPath").toStdString(), (project.path() / "shop.sql").string());
    click("removeSQLButton");
    EXPECT_FALSE(draft().sql());
    EXPECT_FALSE(shown("sqlPath"));
    EXPECT_FALSE(shown("removeSQLButton"));
    click("chooseSQLButton");
    chooser->answer(project.path() / "shop.sql");
    // Not derived from the dump.
    EXPECT_EQ(draft().databaseName(), "shop");

    // Back and forth keeps every field.
    click("backButton");
    EXPECT_EQ(child<QLineEdit>("nameField")->text(), "Portal");
    click("primaryButton");
    EXPECT_EQ(child<QLineEdit>("databaseField")->text(), "shop");
    EXPECT_TRUE(shown("sqlPath"));
    click("primaryButton");

    // Runtime: everything installed, so nothing to install.
    EXPECT_TRUE(shown("runtimeStep"));
    EXPECT_EQ(child<PackagePicker>("phpPicker")->selection(), "php@8.4");
    EXPECT_FALSE(shown("missingPackages"));
    EXPECT_FALSE(shown("installMissingBox"));
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    // phpMyAdmin is not installed.
    QTest::mouseClick(child<QCheckBox>("phpMyAdminBox"), Qt::LeftButton);
    EXPECT_TRUE(shown("missingPackages"));
    EXPECT_EQ(text("missingPackages"), "Missing packages: phpmyadmin");
    EXPECT_FALSE(shown("stopEnvironmentsMessage"));
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    QTest::mouseClick(child<QCheckBox>("installMissingBox"), Qt::LeftButton);
    EXPECT_TRUE(draft().installMissing());
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    // A running environment: the warning, whatever the box says.
    setStudioRunning(true);
    EXPECT_TRUE(shown("stopEnvironmentsMessage"));
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    QTest::mouseClick(child<QCheckBox>("installMissingBox"), Qt::LeftButton);
    EXPECT_TRUE(shown("stopEnvironmentsMessage"));
    EXPECT_TRUE(child<QCheckBox>("installMissingBox")->isEnabled());
    QTest::mouseClick(child<QCheckBox>("phpMyAdminBox"), Qt::LeftButton);
    EXPECT_FALSE(shown("missingPackages"));
    EXPECT_FALSE(shown("stopEnvironmentsMessage"));
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    setStudioRunning(false);
    QTest::mouseClick(child<QCheckBox>("httpsBox"), Qt::LeftButton);
    click("primaryButton");

    // Review.
    EXPECT_TRUE(shown("reviewStep"));
    EXPECT_EQ(text("primaryButton"), "Import project");
    EXPECT_EQ(rows("reviewSummary"),
              (std::vector<Row>{{"Name", "Portal"},
                                {"Project", project.path().string()},
                                {"Project files", "Use existing folder"},
                                {"Web folder", "."},
                                {"Database", "shop"},
                                {"SQL file", "shop.sql"},
                                {"Runtime", "nginx · php@8.4 · mariadb@11.4 · HTTPS"}}));

    // While any action runs Back still works, Next and Cancel do not.
    engine->hold("stop");
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("studio"); }));
    EXPECT_FALSE(button("primaryButton")->isEnabled());
    EXPECT_FALSE(button("closeButton")->isEnabled());
    QTest::keyClick(sheet_, Qt::Key_Escape);
    EXPECT_TRUE(sheet_->isVisible());
    click("backButton");
    EXPECT_EQ(draft().step(), MigrationDraft::runtimeStep);
    engine->release("stop");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(button("closeButton")->isEnabled());
}

TEST_F(MigrationSheetTest, AnImportShowsEachPhaseLocksTheSheetAndEndsWithTheResult) {
    engine->setMigrationPhases({MigrationPhase::checking, MigrationPhase::installing,
                                MigrationPhase::copying, MigrationPhase::importing,
                                MigrationPhase::verifying});
    engine->hold(FakeAppEngine::phaseGate(MigrationPhase::copying));
    openSheet();
    fillToReview("  Portal \n");
    std::vector<MigrationPhase> seen{draft().phase()};
    QObject::connect(&draft(), &MigrationDraft::changed, &window, [&] {
        if (seen.empty() || seen.back() != draft().phase())
            seen.push_back(draft().phase());
    });
    click("primaryButton");
    EXPECT_TRUE(draft().importing());
    EXPECT_EQ(model().activity(), "Importing project…");
    ASSERT_TRUE(waitUntilHeld(FakeAppEngine::phaseGate(MigrationPhase::copying)));
    ASSERT_TRUE(waitFor([&] { return draft().phase() == MigrationPhase::copying; }));

    // Importing: the phase, the note, a disabled Cancel and nothing else.
    EXPECT_TRUE(shown("progressRow"));
    EXPECT_EQ(text("phaseText"), "Preparing project files…");
    EXPECT_TRUE(shown("keepOpenNote"));
    EXPECT_FALSE(shown("stepIndicator"));
    EXPECT_FALSE(shown("reviewStep"));
    EXPECT_FALSE(shown("backButton"));
    EXPECT_FALSE(shown("primaryButton"));
    EXPECT_TRUE(shown("closeButton"));
    EXPECT_FALSE(button("closeButton")->isEnabled());
    // No way out: Escape, the window's close button, a direct reject.
    QTest::keyClick(sheet_, Qt::Key_Escape);
    EXPECT_FALSE(sheet_->close());
    sheet_->reject();
    QApplication::processEvents();
    EXPECT_TRUE(sheet_->isVisible());
    EXPECT_TRUE(model().showMigration());

    engine->release(FakeAppEngine::phaseGate(MigrationPhase::copying));
    ASSERT_TRUE(waitFor([&] { return draft().result().has_value(); }));
    EXPECT_EQ(seen,
              (std::vector<MigrationPhase>{MigrationPhase::checking, MigrationPhase::installing,
                                           MigrationPhase::copying, MigrationPhase::importing,
                                           MigrationPhase::verifying}));
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(model().error());
    EXPECT_EQ(model().activity(), "Done");

    // The request, as the draft held it; the name trimmed.
    const auto request = engine->lastMigrationRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "Portal");
    EXPECT_EQ(request->projectFolder, project.path());
    EXPECT_EQ(request->sqlFile, std::nullopt);

    // Finished: the result and only Done, which closes the sheet; the new
    // environment is selected.
    const StackProfile created = draft().result()->profile;
    EXPECT_TRUE(shown("resultView"));
    EXPECT_FALSE(shown("progressRow"));
    EXPECT_FALSE(shown("primaryButton"));
    EXPECT_EQ(child<IconLabel>("resultStatus")->text(), "Import complete");
    EXPECT_EQ(child<IconLabel>("resultStatus")->iconName(), "emblem-ok");
    EXPECT_EQ(text("resultMessage"), "Stack verification passed.");
    EXPECT_EQ(rows("resultSummary"),
              (std::vector<Row>{{"Name", "Portal"},
                                {"Host", "127.0.0.1:" + std::to_string(created.databasePort)},
                                {"Database", "vessora"},
                                {"User", "vessora"},
                                {"Tables and views", "3"}}));
    EXPECT_FALSE(shown("removeImportedButton"));
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url http://127.0.0.1:" + std::to_string(created.httpPort));
    click("importReportButton");
    EXPECT_EQ(lastRequest(),
              "open " + (root.path() / created.id / "migration-report.json").string());
    EXPECT_EQ(model().selectedID(), created.id);
    EXPECT_EQ(text("closeButton"), "Done");
    click("closeButton");
    EXPECT_FALSE(model().showMigration());
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
}

TEST_F(MigrationSheetTest, AThrownFailureReturnsToTheReviewWithItsText) {
    const std::string failure = "Install the selected packages first, or enable installation "
                                "in the import review.";
    engine->fail(FakeAppEngine::phaseGate(MigrationPhase::checking), failure);
    openSheet();
    fillToReview();
    click("primaryButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(draft().state(), MigrationDraft::State::editing);
    EXPECT_EQ(draft().step(), MigrationDraft::reviewStep);
    EXPECT_TRUE(shown("reviewStep"));
    EXPECT_TRUE(shown("errorLine"));
    EXPECT_EQ(text("errorLine").toStdString(), failure);
    EXPECT_EQ(model().error(), failure);
    EXPECT_EQ(text("primaryButton"), "Import project");
    EXPECT_TRUE(button("primaryButton")->isEnabled());
    EXPECT_TRUE(button("closeButton")->isEnabled());
    EXPECT_EQ(draft().name(), "Portal");

    // Pressing it again clears the old text first; Back clears it too.
    engine->fail(FakeAppEngine::phaseGate(MigrationPhase::checking), std::nullopt);
    engine->hold("migrate");
    click("primaryButton");
    EXPECT_FALSE(shown("errorLine"));
    ASSERT_TRUE(waitUntilHeld("migrate"));
    engine->fail("migrate", "Another Vessora action is still in progress.");
    engine->release("migrate");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(text("errorLine"), "Another Vessora action is still in progress.");
    click("backButton");
    EXPECT_FALSE(shown("errorLine"));
    EXPECT_EQ(draft().step(), MigrationDraft::runtimeStep);
    EXPECT_EQ(engine->calls("migrate"), 2);
}

TEST_F(MigrationSheetTest, AnIncompleteImportOffersToMoveTheNewEnvironmentToTheTrash) {
    const std::string message = "SQL import failed (ERROR 1064 (42000) at line 3).";
    engine->setMigrationOutcome(false, message, std::nullopt);
    openSheet();
    fillToReview();
    click("primaryButton");
    ASSERT_TRUE(waitFor([&] { return draft().result().has_value(); }));
    ASSERT_TRUE(waitForIdle());
    const StackProfile created = draft().result()->profile;
    EXPECT_EQ(child<IconLabel>("resultStatus")->text(), "Migration incomplete");
    EXPECT_EQ(child<IconLabel>("resultStatus")->iconName(), "dialog-warning");
    EXPECT_EQ(text("resultMessage").toStdString(), message);
    EXPECT_EQ(rows("resultSummary").size(), 4u);
    EXPECT_FALSE(shown("openSiteButton"));
    EXPECT_FALSE(shown("errorLine"));
    // The status bar says it failed; the report above says why, so the main
    // window shows no error of its own.
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_FALSE(model().error());

    // Cancel in the confirmation leaves everything as it was.
    click("removeImportedButton");
    EXPECT_TRUE(draft().confirmCleanup());
    auto* box = sheet_->findChild<QMessageBox*>("cleanupConfirmation");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), "Remove the imported environment?");
    EXPECT_EQ(box->informativeText(),
              "Only the newly imported environment and its managed copy will move to Trash. The "
              "source project and SQL file will be kept.");
    QTest::mouseClick(box->findChild<QPushButton*>("cancelCleanupButton"), Qt::LeftButton);
    EXPECT_FALSE(draft().confirmCleanup());
    EXPECT_EQ(draft().state(), MigrationDraft::State::finished);
    EXPECT_TRUE(sheet_->isVisible());
    EXPECT_EQ(engine->calls("remove"), 0);

    // Move to Trash: the sheet closes first, then the removal runs.
    engine->hold("remove");
    click("removeImportedButton");
    box = sheet_->findChild<QMessageBox*>("cleanupConfirmation");
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->findChild<QPushButton*>("moveToTrashButton"), Qt::LeftButton);
    EXPECT_FALSE(model().showMigration());
    EXPECT_EQ(model().activity(), "Moving Portal to Trash…");
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    ASSERT_TRUE(waitUntilHeld("remove"));
    engine->release("remove");
    ASSERT_TRUE(waitForIdle());
    const auto log = engine->log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "remove(" + created.id + ")"), 1);
    EXPECT_EQ(model().profiles().size(), 3u);
}

TEST_F(MigrationSheetTest, TheResultOpensTheHTTPSAddressWhenThereIsOne) {
    openSheet();
    MigrationResult result;
    result.profile = StackProfile::defaults().front();
    result.profile.id = "env-https";
    result.profile.httpPort = 8191;
    result.report.succeeded = true;
    result.report.message = "Stack verification passed.";
    draft().finish(result);
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url http://127.0.0.1:8191");

    result.profile.httpsEnabled = true;
    result.profile.httpsPort = 8449;
    draft().finish(result);
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url https://127.0.0.1:8449");

    // A refused report leaves the result as it was: no error line, the
    // wizard stays (the warning over it is DesktopRefusalTest's).
    desktop->accepts = false;
    click("importReportButton");
    EXPECT_EQ(lastRequest(), "open " + (root.path() / "env-https/migration-report.json").string());
    EXPECT_FALSE(shown("errorLine"));
    EXPECT_TRUE(sheet_->isVisible());
}

TEST_F(MigrationSheetTest, AnImportTheModelRefusesLeavesTheWizardOpenToClose) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    auto orphan = std::make_unique<AppModel>(options);
    ASSERT_FALSE(orphan->hasEngine());
    orphan->setShowMigration(true);
    auto* sheet = new MigrationSheet(*orphan, preferences, &window);
    sheet->open();
    sheet_ = sheet;
    draft().setName("Portal");
    draft().setFolder(project.path().string());
    draft().setStep(MigrationDraft::reviewStep);
    click("primaryButton");
    EXPECT_FALSE(draft().importing());
    EXPECT_TRUE(shown("primaryButton"));
    EXPECT_TRUE(button("closeButton")->isEnabled());
    click("closeButton");
    EXPECT_FALSE(orphan->showMigration());
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    EXPECT_EQ(engine->calls("migrate"), 0);
}

// A filled field no longer shows its placeholder: a title beside it still
// says what it holds, in the interface language.
TEST_F(MigrationSheetTest, EveryFieldKeepsAVisibleTitleWhenFilled) {
    openSheet();
    draft().setName("Portal");
    draft().setPublicDirectory("public");
    draft().setDatabaseName("portal");
    struct Titled {
        int step;
        const char* field;
        const char* title;
        std::string english;
    };
    const std::vector<Titled> fields{
        {MigrationDraft::projectStep, "nameField", "nameTitle", "Name"},
        {MigrationDraft::projectStep, "publicDirectoryField", "publicDirectoryTitle", "Web folder"},
        {MigrationDraft::databaseStep, "databaseField", "databaseTitle", "Database"},
    };
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        for (const Titled& titled : fields) {
            SCOPED_TRACE(titled.field);
            draft().setStep(titled.step);
            QTest::qWait(10);
            auto* field = child<QLineEdit>(titled.field);
            auto* title = child<QLabel>(titled.title);
            ASSERT_TRUE(field && title);
            EXPECT_FALSE(field->text().isEmpty());
            ASSERT_TRUE(title->isVisible());
            EXPECT_EQ(title->text().toStdString(), L10n::text(titled.english, {}, language));
            // On the field's line, before it.
            const QRect fieldAt(field->mapTo(sheet_, QPoint()), field->size());
            const QRect titleAt(title->mapTo(sheet_, QPoint()), title->size());
            EXPECT_LT(titleAt.right(), fieldAt.left());
            EXPECT_GE(titleAt.center().y(), fieldAt.top());
            EXPECT_LE(titleAt.center().y(), fieldAt.bottom());
        }
    }
}

TEST_F(MigrationSheetTest, ALanguageChangeRedrawsTheWizard) {
    openSheet();
    fillToReview();
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(child<IconLabel>("sheetTitle")->text(), "Projekt importieren");
    EXPECT_EQ(child<MigrationStepIndicator>("stepIndicator")->items().front(), "1. Projekt");
    EXPECT_EQ(text("primaryButton"), "Projekt importieren");
    EXPECT_EQ(text("backButton"), "Zurück");
    EXPECT_EQ(rows("reviewSummary")[5], (Row{"SQL-Datei", "Keine – leere Datenbank"}));
    // The user's values stay as typed.
    EXPECT_EQ(rows("reviewSummary")[0], (Row{"Name", "Portal"}));
}

TEST_F(MigrationSheetTest, EveryLanguageFitsInEveryState) {
    openSheet();
    const std::string longPath = "/home/someone/Projects/clients/2024/a-rather-long-project-name/"
                                 "with/several/nested/folders/and/a-long-final-component";
    draft().setName("A client portal with a long name that still fits the rules, just about");
    draft().setFolder(longPath);
    draft().setPublicDirectory("public");
    draft().setSQL(longPath + "/database-export-2024-06-30-full.sql");
    draft().setPhpMyAdmin(true);
    draft().setHTTPS(true);
    setStudioRunning(true);
    MigrationResult done;
    done.profile = StackProfile::defaults().front();
    done.profile.name = "A client portal with a long name";
    done.report.succeeded = true;
    done.report.tableCount = 42;
    done.report.message = "Stack verification passed. Update your project’s connection "
                          "settings, then open the site to verify the application.";
    MigrationResult incomplete = done;
    incomplete.report.succeeded = false;
    incomplete.report.tableCount = std::nullopt;
    incomplete.report.message =
        "SQL import failed (ERROR 1064 (42000) at line 3). The new environment has been "
        "stopped. Check version compatibility, collations, DEFINER clauses and qualified "
        "database names before retrying.";

    const std::vector<std::string> none;
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        draft().setConfirmCleanup(false);
        draft().setImporting(false);
        for (int step = 0; step <= MigrationDraft::reviewStep; ++step) {
            draft().setStep(step);
            draft().setError(step == MigrationDraft::reviewStep
                                 ? std::optional<std::string>(incomplete.report.message)
                                 : std::nullopt);
            EXPECT_EQ(sheet_->width(), MigrationSheet::sheetWidth);
            EXPECT_EQ(clippedTexts(*sheet_), none) << "step " << step;
        }
        draft().setError(std::nullopt);
        draft().setImporting(true);
        for (const MigrationPhase phase : allMigrationPhases()) {
            draft().setPhase(phase);
            EXPECT_EQ(clippedTexts(*sheet_), none) << rawValue(phase);
        }
        draft().finish(done);
        EXPECT_EQ(clippedTexts(*sheet_), none);
        draft().finish(incomplete);
        EXPECT_EQ(clippedTexts(*sheet_), none);
        draft().setConfirmCleanup(true);
        auto* box = sheet_->findChild<QMessageBox*>("cleanupConfirmation");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(clippedTexts(*box), none);
        // Back to editing for the next language.
        draft().setConfirmCleanup(false);
        delete sheet_;
        model().setShowMigration(true);
        sheet_ = new MigrationSheet(model(), preferences, &window);
        sheet_->open();
        draft().setName("A client portal with a long name that still fits the rules, just about");
        draft().setFolder(longPath);
        draft().setSQL(longPath + "/database-export-2024-06-30-full.sql");
        draft().setPhpMyAdmin(true);
        draft().setHTTPS(true);
    }
}

} // namespace
} // namespace vessora
