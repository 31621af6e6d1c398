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
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"
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

// Every server leads a process group of its own: a group without living
// members means no worker outlived its master (zombies do not count).
bool groupAlive(std::int32_t group) {
    for (const auto& item : fs::directory_iterator("/proc")) {
        std::ifstream file(item.path() / "stat");
        std::string text;
        if (!std::getline(file, text))
            continue;
        const auto end = text.rfind(')');
        if (end == std::string::npos)
            continue;
        std::istringstream fields(text.substr(end + 1));
        std::string state;
        std::int64_t parent = 0, pgrp = 0;
        fields >> state >> parent >> pgrp;
        if (pgrp == group && state != "Z")
            return true;
    }
    return false;
}

StackEngine::Options engineOptions(const fs::path& root, const fs::path& brew) {
    StackEngine::Options options;
    options.root = root;
    options.brew = brew;
    options.hostClient = std::make_shared<FakeHostService>();
    return options;
}

class MigrationSheetIntegrationTest : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        DesktopServices::setCurrent(desktop);
        FileChooser::setCurrent(chooser);
        AppModel::Options options;
        options.build = BuildInfo::release("1.0.0", "1");
        options.environment = [](const std::string&) { return std::nullopt; };
        options.openEngine = [root = folder.path()](const fs::path&) {
            return std::make_shared<StackEngineAdapter>(engineOptions(root, standIn->brew()));
        };
        options.hostSetup = std::make_shared<FakeHostSetup>();
        options.defaults = UserDefaults::inMemory();
        options.monitorInterval = std::chrono::milliseconds(200);
        model = std::make_unique<AppModel>(options);
        ASSERT_TRUE(model->hasEngine()) << model->error().value_or("");
        AppUpdates::Options updatesOptions;
        updatesOptions.build = BuildInfo::developmentBuild();
        updatesOptions.defaults = UserDefaults::inMemory();
        updates = std::make_unique<AppUpdates>(updatesOptions);
        window = std::make_unique<MainWindow>(*model, preferences, *updates);
        window->resize(1000, 800);
        window->show();
        model->startMonitor();
        ASSERT_TRUE(waitFor([&] { return model->packageStatusKnown(); }));
    }

    void TearDown() override {
        if (model) {
            waitFor([&] { return !model->busy(); });
            if (model->anyRunning()) {
                model->perform("Stopping all environments…", false,
                               [](AppEngine& engine) { engine.stopAll(); });
                waitFor([&] { return !model->busy(); });
            }
            model->stopMonitor();
        }
        window.reset();
        updates.reset();
        model.reset();
        FileChooser::setCurrent(nullptr);
        DesktopServices::setCurrent(nullptr);
        fs::remove_all(StackEngine::socketDirectoryFor(folder.path()));
        fs::remove_all(StackEngine::socketDirectoryFor(source.path() / "data"));
    }

    static bool waitFor(const std::function<bool()>& condition, int seconds = 120) {
        return QTest::qWaitFor(condition, seconds * 1000);
    }

    template <typename Widget = QWidget>
    Widget* find(QWidget* parent, const char* name) {
        Widget* widget = parent ? parent->findChild<Widget*>(name) : nullptr;
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    void click(QWidget* parent, const char* name) {
        auto* button = find<QAbstractButton>(parent, name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible()) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void pick(QWidget* parent, const char* picker, const std::string& formula) {
        VersionPopUp* popUp = find<PackagePicker>(parent, picker)->popUp();
        const int index = popUp->findData(QString::fromStdString(formula));
        ASSERT_GE(index, 0) << formula;
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
    }

    void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    std::string last(const std::string& kind) {
        for (auto it = desktop->requests.rbegin(); it != desktop->requests.rend(); ++it)
            if (it->rfind(kind + " ", 0) == 0)
                return it->substr(kind.size() + 1);
        return {};
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
        StackEngine engine(engineOptions(source.path() / "data", standIn->brew()));
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

    TemporaryFolder folder{"vessora-import-root"};
    TemporaryFolder source{"vessora-import-source"};
    TemporaryFolder work{"vessora-import-work"};
    AppPreferences preferences{UserDefaults::inMemory()};
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppUpdates> updates;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MigrationSheetIntegrationTest, AProjectAndItsDumpImportedThroughTheWizardServeTheRow) {
    const fs::path dump = dumpSourceDatabase();
    ASSERT_TRUE(fs::exists(dump));
    const fs::path project = makeProject();

    // The sidebar's button opens the wizard.
    click(window.get(), "importProjectButton");
    ASSERT_TRUE(waitFor([&] { return window->sheets().current() != nullptr; }, 10));
    auto* sheet = qobject_cast<MigrationSheet*>(window->sheets().current());
    ASSERT_NE(sheet, nullptr);

    // Project: the folder, copied, served from its public folder.
    type(find<QLineEdit>(sheet, "nameField"), "Shop");
    click(sheet, "chooseFolderButton");
    chooser->answer(project);
    QTest::mouseClick(find<QRadioButton>(sheet, "copyModeButton"), Qt::LeftButton);
    type(find<QLineEdit>(sheet, "publicDirectoryField"), "public");
    click(sheet, "primaryButton");
    // Database: a new name and the dump.
    type(find<QLineEdit>(sheet, "databaseField"), "shop_import");
    click(sheet, "chooseSQLButton");
    chooser->answer(dump);
    click(sheet, "primaryButton");
    // Runtime: the versions the stand-in serves.
    pick(sheet, "phpPicker", "php@8.2");
    pick(sheet, "mariaDBPicker", "mariadb@10.11");
    ASSERT_TRUE(waitFor([&] { return find<QWidget>(sheet, "primaryButton")->isEnabled(); }, 30));
    click(sheet, "primaryButton");
    ASSERT_EQ(sheet->draft().step(), MigrationDraft::reviewStep);
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
    EXPECT_EQ(last("open"), reportFile.string());
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
    EXPECT_EQ(last("url"), "http://127.0.0.1:" + std::to_string(profile.httpPort));
    const LoopbackHTTP::Answer page = LoopbackHTTP::get(last("url") + "/", 15);
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
        EXPECT_TRUE(waitFor([&] { return !groupAlive(pid); }, 15)) << service;
}

} // namespace
} // namespace vessora
