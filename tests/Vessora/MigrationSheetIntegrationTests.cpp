// The import wizard end to end on real servers: Debian's MariaDB, PHP-FPM
// and nginx behind the Homebrew stand-in, on a private data root with a
// fake helper. A small PHP project and a mariadb-dump of its database are
// imported through the wizard's own widgets in the main window; the result
// says it succeeded, the site serves the imported row, the report is
// written, and nothing is left running.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SummaryGrid.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/ServerChecks.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"
#include "tests/Vessora/Support/RealWindowTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class MigrationSheetIntegrationTest : public RealWindowTest {
protected:
    void SetUp() override {
        FileChooser::setCurrent(chooser);
        RealWindowTest::SetUp();
    }

    void TearDown() override {
        RealWindowTest::TearDown();
        FileChooser::setCurrent(nullptr);
        fs::remove_all(StackEngine::socketDirectoryFor(source.path() / "data"));
    }

    // Opens the wizard from the sidebar and fills it in through its widgets
    // up to the review: the project served from its public folder (copied
    // or in place), a database name when one is given, the dump, and the
    // versions the stand-in serves.
    MigrationSheet* toReview(const fs::path& project, const fs::path& dump, bool copy,
                             const std::string& database) {
        click(window.get(), "importProjectButton");
        EXPECT_TRUE(waitFor([&] { return window->sheets().current() != nullptr; }, 10));
        auto* sheet = qobject_cast<MigrationSheet*>(window->sheets().current());
        if (!sheet) {
            ADD_FAILURE() << "the wizard did not open";
            return nullptr;
        }
        type(find<QLineEdit>(sheet, "nameField"), "Shop");
        click(sheet, "chooseFolderButton");
        chooser->answer(project);
        if (copy)
            QTest::mouseClick(find<QRadioButton>(sheet, "copyModeButton"), Qt::LeftButton);
        type(find<QLineEdit>(sheet, "publicDirectoryField"), "public");
        click(sheet, "primaryButton");
        if (!database.empty())
            type(find<QLineEdit>(sheet, "databaseField"), QString::fromStdString(database));
        click(sheet, "chooseSQLButton");
        chooser->answer(dump);
        click(sheet, "primaryButton");
        pick(sheet, "phpPicker", "php@8.2");
        pick(sheet, "mariaDBPicker", "mariadb@10.11");
        EXPECT_TRUE(
            waitFor([&] { return find<QWidget>(sheet, "primaryButton")->isEnabled(); }, 30));
        click(sheet, "primaryButton");
        EXPECT_EQ(sheet->draft().step(), MigrationDraft::reviewStep);
        return sheet;
    }

    // A PHP project whose page reads one row through PDO with the settings
    // in config.php beside its public folder.
    fs::path makeProject() {
        const fs::path project = work.path() / "shop";
        fs::create_directories(project / "public");
        PrivateFile::writeKeepingMode(
            project / "public/index.php",
            "<?php $c = require __DIR__ . '/../config.php';\n"
            "$pdo = new PDO(\"mysql:host=127.0.0.1;port={$c['port']};dbname={$c['db']}\", "
            "'vessora', $c['password']);\n"
            "echo $pdo->query('SELECT name FROM products WHERE id = 1')->fetchColumn();\n");
        fs::permissions(project, fs::perms(0755));
        fs::permissions(project / "public", fs::perms(0755));
        return project;
    }

    // The project's database as it runs elsewhere, dumped the usual way by
    // mariadb-dump from an environment of another data root.
    fs::path dumpSourceDatabase() {
        StackEngine engine(engineOptions(source.path() / "data"));
        const StackProfile profile =
            engine.create("Source", "php@8.2", "mariadb@10.11", false, "nginx", false, std::nullopt,
                          "shop", std::nullopt, false, false);
        engine.start(profile.id);
        engine.executeSQL(profile.id,
                          "CREATE TABLE shop.products (id INT PRIMARY KEY, name VARCHAR(40));"
                          "INSERT INTO shop.products VALUES (1, 'Teapot'), (2, 'Kettle');");
        const fs::path dump = work.path() / "shop.sql";
        const passwd* user = ::getpwuid(::geteuid());
        EXPECT_NE(user, nullptr);
        const CommandResult dumped = Command::run(
            "/usr/bin/mariadb-dump",
            {"--no-defaults", "--protocol=socket",
             "--socket=" + (engine.socketDirectory() / (profile.id + ".sock")).string(),
             "--user=" + std::string(user ? user->pw_name : ""), "--result-file=" + dump.string(),
             "shop"},
            {.timeout = 120});
        engine.stop(profile.id);
        EXPECT_EQ(dumped.status, 0) << dumped.output;
        return dump;
    }

    TemporaryFolder source{"vessora-import-source"};
    TemporaryFolder work{"vessora-import-work"};
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
};

TEST_F(MigrationSheetIntegrationTest, AProjectAndItsDumpImportedThroughTheWizardServeTheRow) {
    const fs::path dump = dumpSourceDatabase();
    ASSERT_TRUE(fs::exists(dump));
    const fs::path project = makeProject();

    // The sidebar's button opens the wizard.
    MigrationSheet* sheet = nullptr;
    ASSERT_NO_FATAL_FAILURE(sheet = toReview(project, dump, true, "shop_import"));
    ASSERT_NE(sheet, nullptr);
    click(sheet, "primaryButton");
    EXPECT_TRUE(sheet->draft().importing());

    ASSERT_TRUE(waitFor([&] { return sheet->draft().result().has_value() && !model->busy(); }, 300))
        << sheet->draft().error().value_or("") << " / " << model->error().value_or("");
    const MigrationResult result = *sheet->draft().result();
    const StackProfile& profile = result.profile;
    ASSERT_TRUE(result.report.succeeded) << result.report.message;
    EXPECT_FALSE(model->error()) << *model->error();
    EXPECT_EQ(find<IconLabel>(sheet, "resultStatus")->text(), "Import complete");
    const auto rows = find<SummaryGrid>(sheet, "resultSummary")->shownRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].value, "127.0.0.1:" + std::to_string(profile.databasePort));
    EXPECT_EQ(rows[2].value, "shop_import");
    EXPECT_EQ(rows[4], (MigrationDraft::Row{"Tables and views", "1"}));
    EXPECT_EQ(profile.php, "php@8.2");
    EXPECT_EQ(profile.mariaDB, "mariadb@10.11");
    EXPECT_EQ(profile.projectSubdirectory, "public");

    // The report, where the button opens it.
    click(sheet, "importReportButton");
    const fs::path reportFile = StackPaths(model->dataRoot(), profile).migrationReport();
    EXPECT_EQ(lastOpened("open"), reportFile.string());
    const MigrationReport report =
        MigrationReport::fromJSON(JsonFields::parse(PrivateFile::read(reportFile)));
    EXPECT_TRUE(report.succeeded);
    EXPECT_EQ(report.sqlFileName, "shop.sql");
    EXPECT_EQ(report.tableCount, 1);
    EXPECT_EQ(report.toJSON(), result.report.toJSON());

    // The copied project points at its new database, then the site the
    // wizard opens serves the imported row.
    const DatabaseCredentials credentials = model->engine()->databaseCredentials(profile.id);
    PrivateFile::writeKeepingMode(StackPaths(model->dataRoot(), profile).project() / "config.php",
                                  "<?php return ['port' => " + std::to_string(credentials.port) +
                                      ", 'db' => 'shop_import', 'password' => '" +
                                      credentials.password + "'];\n");
    click(sheet, "openSiteButton");
    EXPECT_EQ(lastOpened("url"), "http://127.0.0.1:" + std::to_string(profile.httpPort));
    const LoopbackHTTP::Answer page = LoopbackHTTP::get(lastOpened("url") + "/", 15);
    EXPECT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(page.body, "Teapot");

    // Done closes the wizard; the new environment is the selected one.
    const auto processes = model->statuses().at(profile.id).processes;
    EXPECT_EQ(processes.size(), 3u);
    click(sheet, "closeButton");
    ASSERT_TRUE(waitFor([&] { return window->sheets().current() == nullptr; }, 10));
    EXPECT_FALSE(model->showMigration());
    EXPECT_EQ(model->selectedID(), profile.id);

    // Nothing stays running.
    ASSERT_TRUE(model->perform("Stopping all environments…", false,
                               [](AppEngine& engine) { engine.stopAll(); }));
    ASSERT_TRUE(waitFor([&] { return !model->busy(); }));
    EXPECT_FALSE(model->anyRunning());
    for (const std::int64_t port : profile.listeningPorts())
        EXPECT_FALSE(PortCheck::accepts(port)) << port;
    for (const auto& [service, pid] : processes)
        EXPECT_TRUE(waitFor([&] { return !processGroupAlive(pid); }, 15)) << service;
}

// The dump is chosen on the second step and read only when the import runs;
// gone by then, the wizard stays on its review with a sentence that names
// the file, and nothing is made.
TEST_F(MigrationSheetIntegrationTest, ADumpRemovedAfterChoosingItIsNamedOnTheReview) {
    const fs::path project = makeProject();
    const fs::path dump = work.path() / "shop.sql";
    PrivateFile::writeKeepingMode(dump, "CREATE TABLE products (id INT);\n");
    const std::size_t environments = model->profiles().size();

    MigrationSheet* sheet = nullptr;
    ASSERT_NO_FATAL_FAILURE(sheet = toReview(project, dump, false, ""));
    ASSERT_NE(sheet, nullptr);

    fs::remove(dump);
    click(sheet, "primaryButton");
    ASSERT_TRUE(waitFor([&] { return !sheet->draft().importing() && !model->busy(); }, 60));
    const std::string sentence =
        "The SQL file “shop.sql” is missing or cannot be read. Choose an existing, readable file.";
    EXPECT_EQ(sheet->draft().error(), sentence);
    auto* errorLine = find<SelectableText>(sheet, "errorLine");
    ASSERT_NE(errorLine, nullptr);
    EXPECT_TRUE(errorLine->isVisible());
    EXPECT_EQ(errorLine->text().toStdString(), sentence);
    EXPECT_EQ(model->error(), sentence);
    EXPECT_FALSE(sheet->draft().result());
    EXPECT_EQ(sheet->draft().step(), MigrationDraft::reviewStep);
    EXPECT_TRUE(find<QWidget>(sheet, "primaryButton")->isVisible());
    EXPECT_EQ(model->profiles().size(), environments);
    EXPECT_FALSE(fs::exists(folder.path() / ".migration-staging") &&
                 !fs::is_empty(folder.path() / ".migration-staging"));
}

} // namespace
} // namespace vessora
