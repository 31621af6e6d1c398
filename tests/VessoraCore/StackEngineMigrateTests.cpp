// The project import against stand-in programs: fake kegs that answer the
// version questions and sleep like servers, so every start ends in the
// health check's failure. That covers the refusals before anything is made,
// the phases, the copy, the report and the failure path after the first
// report; the real servers are in StackEngineMigrateIntegrationTests.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Import/BulkLoadSettings.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string lowercased(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const std::string busyText = "Another Vessora action is still in progress.";
const std::string incompleteText =
    "This migration is incomplete. Review its report, then remove the new environment and retry.";

class StackEngineMigrateTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        const fs::path php = keg("php@8.4");
        const fs::path db = keg("mariadb@11.4");
        const fs::path web = keg("nginx");
        script(php / "bin/php", "printf 8.4.2");
        script(php / "sbin/php-fpm", "[ \"$1\" = -t ] && exit 0\nexec sleep 60");
        script(db / "bin/mariadbd", "if [ \"$2\" = --version ]; then echo \"" + db.string() +
                                        "/bin/mariadbd  Ver 11.4.2-MariaDB\"; exit 0; fi\n"
                                        "exec sleep 60");
        // Every SQL text and the dump reach this log. The settings read is
        // answered with the one row the real client prints (the file's values),
        // the statement counts with the selections the log holds so far.
        script(db / "bin/mariadb",
               "input=$(tee -a " + sqlLog().string() +
                   ")\ncase \"$input\" in\n*'SELECT @@GLOBAL.innodb_buffer_pool_size'*) "
                   "printf '67108864\\t1\\n' ;;\n*Com_change_db*) printf "
                   "'Com_change_db\\t%s\\n' \"$(grep -c '^USE `' " +
                   sqlLog().string() + ")\" ;;\n*) echo 1 ;;\nesac");
        script(db / "bin/mariadb-install-db", "exit 0");
        script(web / "bin/nginx", "[ \"$1\" = -t ] && exit 0\nexec sleep 60");

        const auto formula = [](const fs::path& prefix, const std::string& stable, bool installed,
                                std::vector<std::string> aliases = {}) {
            nlohmann::json entry = BrewStandIn::formula(
                stable, installed ? std::vector<std::string>{stable} : std::vector<std::string>{},
                std::move(aliases));
            entry["prefix"] = prefix.string();
            return entry;
        };
        // nginx is missing until an import installs it.
        brew.setState({{"formulae",
                        {{"php", formula(php, "8.4.2", true, {"php@8.4"})},
                         {"mariadb", formula(db, "11.4.2", true, {"mariadb@11.4"})},
                         {"nginx", formula(web, "1.27.4", false)},
                         {"httpd", formula(keg("httpd"), "2.4.63", false)},
                         {"phpmyadmin", formula(keg("phpmyadmin"), "5.2.2", false)}}}});

        fs::create_directories(project / "public/assets");
        PrivateFile::writeKeepingMode(project / "public/index.php", "<?php echo 'shop';");
        fs::create_directory_symlink("..", project / "public/assets/up");
        PrivateFile::writeKeepingMode(dump, "CREATE DATABASE IF NOT EXISTS `shop`;\nUSE `shop`;\n"
                                            "CREATE TABLE items (id INT);\n");

        auto options =
            StackEngineTesting::quickOptions(folder.path() / "data", brew.brew(), helper);
        options.readinessPause = std::chrono::milliseconds(1);
        // The start checks its ports are free: ports of the engine's fixed
        // bases may be taken meanwhile by any other test on this machine.
        options.portAvailable = onlyPorts(freePorts(8));
        fs::create_directories(folder.path() / "trash");
        options.trashHandler = [this](const fs::path& item) {
            fs::rename(item, folder.path() / "trash" / item.filename());
        };
        engine = std::make_unique<StackEngine>(options);
    }
    void TearDown() override {
        if (engine) {
            engine->stopAll();
            fs::remove_all(engine->socketDirectory());
        }
        UserDefaults::setStandard(nullptr);
    }

    fs::path keg(const std::string& name) const {
        const fs::path path = folder.path() / "kegs" / name;
        fs::create_directories(path / "bin");
        fs::create_directories(path / "sbin");
        return path;
    }
    static void script(const fs::path& file, const std::string& body) {
        PrivateFile::writeWithMode(file, "#!/bin/sh\n" + body + "\n", 0700);
    }
    fs::path sqlLog() const { return folder.path() / "sql.log"; }

    MigrationRequest request(ProjectImportMode mode = ProjectImportMode::copy) const {
        MigrationRequest value;
        value.name = "  Shop  ";
        value.projectFolder = project;
        value.publicDirectory = "public";
        value.mode = mode;
        value.databaseName = "shop_db";
        value.sqlFile = dump;
        value.php = "php@8.4";
        value.mariaDB = "mariadb@11.4";
        value.webserver = "nginx";
        value.installMissingPackages = true;
        return value;
    }

    // Runs an import and notes every phase it reports.
    MigrationResult migrate(const MigrationRequest& value) {
        return engine->migrate(value, [this](MigrationPhase phase) { phases.push_back(phase); });
    }
    std::string refusal(const MigrationRequest& value) {
        return thrownMessage([&] { migrate(value); });
    }

    std::vector<std::string> installs() const {
        std::vector<std::string> installed;
        for (const auto& call : brew.calls())
            if (call["args"][0] == "install")
                installed.push_back(call["args"].dump());
        return installed;
    }
    std::size_t stagedItems() const {
        const fs::path staging = engine->root() / ".migration-staging";
        if (!fs::exists(staging))
            return 0;
        return std::distance(fs::directory_iterator(staging), fs::directory_iterator());
    }
    MigrationReport storedReport(const StackProfile& profile) const {
        return MigrationReport::fromJSON(JsonFields::parse(
            PrivateFile::read(StackPaths(engine->root(), profile).migrationReport())));
    }
    std::string health(const StackProfile& profile) const {
        return "HTTP/PHP/SQL health check failed. See " + profile.id + "/logs.";
    }

    TemporaryFolder folder{"vessora-migrate"};
    fs::path project = folder.path() / "project";
    fs::path dump = folder.path() / "shop.sql";
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
    std::vector<MigrationPhase> phases;
};

TEST_F(StackEngineMigrateTests, RefusalsBeforeTheEnvironmentIsMadeLeaveNothing) {
    const FolderSnapshot before = snapshotFolder(engine->root());
    const auto expectNothingMade = [&](const std::string& what) {
        EXPECT_EQ(engine->allProfiles().size(), 2u) << what;
        EXPECT_EQ(stagedItems(), 0u) << what;
        EXPECT_TRUE(installs().empty()) << what;
        EXPECT_FALSE(StackEngineTesting::busy(*engine)) << what;
        EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking)) << what;
        phases.clear();
    };

    MigrationRequest value = request();
    value.name = " stúdio\n";
    EXPECT_EQ(refusal(value), "An environment named “stúdio” already exists.");
    expectNothingMade("name");
    value = request();
    value.php = "nginx";
    EXPECT_EQ(refusal(value), "Invalid environment name or unsupported version.");
    expectNothingMade("php");
    value = request();
    value.publicDirectory = "../elsewhere";
    EXPECT_EQ(refusal(value), "Choose a public directory inside the project folder.");
    expectNothingMade("public directory");
    EXPECT_EQ(snapshotFolder(engine->root()), before) << "not even a staging folder";

    // From here on the staging folder exists for a moment.
    PrivateFile::writeKeepingMode(dump, "CREATE TABLE t (a INT);\nDROP DATABASE shop;\n");
    EXPECT_EQ(refusal(request()), "The dump drops a database. Export a single application "
                                  "database without DROP DATABASE.");
    expectNothingMade("dump");
    value = request();
    value.sqlFile = folder.path() / "missing.sql";
    EXPECT_EQ(refusal(value), "The SQL file “missing.sql” is missing or cannot be read. Choose "
                              "an existing, readable file.");
    expectNothingMade("missing dump");

    PrivateFile::writeKeepingMode(dump, "CREATE TABLE t (a INT);\n");
    value = request();
    value.installMissingPackages = false;
    EXPECT_EQ(refusal(value),
              "Install the selected packages first, or enable installation in the import review.");
    expectNothingMade("install off");
    StackEngineTesting::addProcess(*engine, "studio",
                                   std::make_shared<ManagedProcess>("MariaDB", "/bin/sleep",
                                                                    std::vector<std::string>{"60"},
                                                                    folder.path() / "sleep.log"));
    EXPECT_EQ(refusal(request()), "Stop all environments before installing packages.");
    expectNothingMade("running environment");
    StackEngineTesting::stopProcesses(*engine, "studio");
}

// An HTML page or mariadb-dump's XML export chosen as the dump is refused
// with its own sentence before an environment folder, a record or a server
// exists; the SQL client would only fail on it after the start.
TEST_F(StackEngineMigrateTests, AnHTMLOrXMLFileAsTheDumpIsRefusedBeforeAnythingIsMade) {
    const std::string notSQL = "The file “shop.sql” is an HTML or XML file, not an SQL dump. "
                               "Export the database as SQL statements, then choose that file.";
    const FolderSnapshot before = snapshotFolder(engine->root());
    const fs::path fixtures = fs::path(VESSORA_FIXTURES_DIR) / "sqldump-first-content";
    for (const std::string& text :
         {PrivateFile::read(fixtures / "mariadb-dump-xml-no-data.sql"),
          PrivateFile::read(fixtures / "mariadb-dump-xml.sql"),
          std::string("\xEF\xBB\xBF\r\n  <!DOCTYPE html>\r\n<html><body>Session expired; "
                      "sign in again.</body></html>\r\n")})
        for (const ProjectImportMode mode :
             {ProjectImportMode::copy, ProjectImportMode::existing}) {
            PrivateFile::writeKeepingMode(dump, text);
            EXPECT_EQ(refusal(request(mode)), notSQL) << text.substr(0, 30);
            EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking));
            phases.clear();
            EXPECT_EQ(engine->allProfiles().size(), 2u);
            EXPECT_FALSE(StackEngineTesting::busy(*engine));
            EXPECT_TRUE(installs().empty());
            EXPECT_FALSE(fs::exists(sqlLog())) << "a server was asked to run SQL";
            EXPECT_EQ(stagedItems(), 0u);
            // Only the empty parent of the staging folders may remain.
            FolderSnapshot after = snapshotFolder(engine->root());
            if (after.count(".migration-staging") && after[".migration-staging"] == "dir")
                after.erase(".migration-staging");
            EXPECT_EQ(after, before);
        }
}

TEST_F(StackEngineMigrateTests, CopyImportReportsEachPhaseAndEndsIncompleteWhenTheStartFails) {
    // While the start runs, the prepared dump waits in a private folder.
    std::vector<std::pair<fs::path, fs::perms>> staged;
    const MigrationResult result = engine->migrate(request(), [&](MigrationPhase phase) {
        phases.push_back(phase);
        if (phase == MigrationPhase::importing)
            for (const auto& item :
                 fs::recursive_directory_iterator(engine->root() / ".migration-staging"))
                staged.emplace_back(item.path(), item.status().permissions());
    });
    const StackProfile& profile = result.profile;
    const StackPaths paths(engine->root(), profile);
    ASSERT_EQ(staged.size(), 2u);
    const std::string name = staged[0].first.filename().string();
    EXPECT_EQ(Uuid::parse(name).value_or(""), lowercased(name)) << name;
    EXPECT_NE(name, lowercased(name)) << "upper-case form";
    EXPECT_EQ(staged[0].second, fs::perms(0700));
    EXPECT_EQ(staged[1].first, staged[0].first / "import.sql");
    EXPECT_EQ(staged[1].second, fs::perms(0600));

    EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking, MigrationPhase::installing,
                                    MigrationPhase::copying, MigrationPhase::importing));
    ASSERT_EQ(installs().size(), 1u);
    EXPECT_EQ(installs()[0], R"(["install","homebrew/core/nginx"])");

    // The record as stored: served from the copy.
    EXPECT_EQ(engine->allProfiles().back(), profile);
    EXPECT_EQ(profile.name, "Shop");
    EXPECT_EQ(profile.documentRoot, std::nullopt);
    EXPECT_EQ(profile.projectSubdirectory, "public");
    EXPECT_FALSE(profile.hostname || profile.virtualHost || profile.standardPorts);
    EXPECT_EQ(snapshotFolder(paths.project()), snapshotFolder(project));

    // The dump reached the client rewritten for the new database, the
    // server tuned for the load before it and put back to what it had after.
    ASSERT_TRUE(fs::exists(sqlLog()))
        << "the start failed before the client ran: " << result.report.message;
    const std::string sent = PrivateFile::read(sqlLog());
    const std::string loaded = "\nUSE `shop_db`;\nUSE `shop_db`;\nCREATE TABLE items (id INT);\n";
    const std::size_t load = sent.find(loaded);
    ASSERT_NE(load, std::string::npos) << sent;
    const std::size_t raise = sent.find(BulkLoadSettings::raiseStatement());
    EXPECT_LT(raise, load) << sent;
    const std::size_t restore = sent.find(BulkLoadSettings::restoreFlushStatement(1));
    EXPECT_NE(restore, std::string::npos) << sent;
    EXPECT_GT(restore, load) << sent;
    const std::size_t pool = sent.find(BulkLoadSettings::restorePoolStatement(67108864));
    EXPECT_NE(pool, std::string::npos) << sent;
    EXPECT_GT(pool, restore) << sent;

    const MigrationReport& report = result.report;
    EXPECT_FALSE(report.succeeded);
    EXPECT_EQ(report.message, health(profile));
    EXPECT_EQ(report.environmentID, profile.id);
    EXPECT_EQ(report.environmentName, "Shop");
    EXPECT_EQ(report.sourceProject, project.string());
    EXPECT_EQ(report.publicDirectory, "public");
    EXPECT_EQ(report.mode, ProjectImportMode::copy);
    EXPECT_EQ(report.databaseName, "shop_db");
    EXPECT_EQ(report.sqlFileName, "shop.sql");
    EXPECT_EQ(report.sourceDatabase, "shop");
    EXPECT_EQ(report.sqlStatements, 3);
    EXPECT_EQ(report.tableCount, std::nullopt);
    EXPECT_EQ(report.php, "php@8.4");
    EXPECT_EQ(storedReport(profile).toJSON(), report.toJSON());
    EXPECT_EQ(fs::status(paths.migrationReport()).permissions(), fs::perms(0600));

    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    EXPECT_EQ(engine->statuses().at(profile.id).description, "Migration incomplete");
    EXPECT_EQ(stagedItems(), 0u);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), incompleteText);

    engine->remove(profile.id);
    EXPECT_EQ(engine->statuses().count(profile.id), 0u);
    EXPECT_TRUE(fs::exists(folder.path() / "trash" / profile.id / "project/public/index.php"));
}

TEST_F(StackEngineMigrateTests, ExistingModeServesTheProjectWhereItLiesWithoutADump) {
    MigrationRequest value = request(ProjectImportMode::existing);
    value.sqlFile = std::nullopt;
    value.publicDirectory = "";
    const MigrationResult result = migrate(value);
    const StackPaths paths(engine->root(), result.profile);

    EXPECT_EQ(result.profile.documentRoot, project.string());
    EXPECT_EQ(result.profile.projectSubdirectory, std::nullopt);
    EXPECT_FALSE(fs::exists(paths.project()));
    EXPECT_EQ(result.report.sqlFileName, std::nullopt);
    EXPECT_EQ(result.report.sourceDatabase, std::nullopt);
    EXPECT_EQ(result.report.sqlStatements, 0);
    EXPECT_EQ(result.report.mode, ProjectImportMode::existing);
    EXPECT_EQ(result.report.message, health(result.profile));
    EXPECT_THAT(PrivateFile::read(sqlLog()), ::testing::Not(HasSubstr("CREATE TABLE items")));
}

TEST_F(StackEngineMigrateTests, HoldsTheBusyFlagAndAFailingCallbackEndsTheImport) {
    // Held in its first phase, the import keeps every other operation out.
    std::promise<void> entered;
    std::promise<void> proceed;
    auto running = std::async(std::launch::async, [&] {
        return thrownMessage([&] {
            engine->migrate(request(), [&](MigrationPhase) {
                entered.set_value();
                proceed.get_future().wait_for(std::chrono::seconds(20));
                throw VessoraError("Stopped while checking.");
            });
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(refusal(request()), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->start("studio"); }), busyText);
    EXPECT_EQ(thrownMessage([&] {
                  engine->create("Other", "php@8.4", "mariadb@11.4", false, "nginx", false,
                                 std::nullopt, "other", std::nullopt, false, false);
              }),
              busyText);
    EXPECT_EQ(engine->statuses().size(), 2u) << "reads are served";
    proceed.set_value();
    // Before the first report a failure throws and nothing is left.
    EXPECT_EQ(running.get(), "Stopped while checking.");
    EXPECT_EQ(engine->allProfiles().size(), 2u);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // After the first report the same failure is written into it instead.
    const MigrationResult result = engine->migrate(request(), [](MigrationPhase phase) {
        if (phase == MigrationPhase::copying)
            throw VessoraError("Stopped while copying.");
    });
    EXPECT_FALSE(result.report.succeeded);
    EXPECT_EQ(result.report.message, "Stopped while copying.");
    EXPECT_EQ(storedReport(result.profile).message, "Stopped while copying.");
    EXPECT_EQ(engine->statuses().at(result.profile.id).description, "Migration incomplete");
    EXPECT_FALSE(fs::exists(StackPaths(engine->root(), result.profile).project()));
    EXPECT_EQ(stagedItems(), 0u);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

// Whatever of the new environment runs when the import fails after its
// first report is stopped, not only what a failed start takes down itself.
TEST_F(StackEngineMigrateTests, AFailureAfterTheFirstReportStopsTheNewEnvironmentsServers) {
    std::vector<std::shared_ptr<ManagedProcess>> servers;
    std::string id;
    const MigrationResult result = engine->migrate(request(), [&](MigrationPhase phase) {
        if (phase != MigrationPhase::importing)
            return;
        id = engine->allProfiles().back().id;
        for (const char* service : {"MariaDB", "PHP-FPM", "nginx"}) {
            servers.push_back(std::make_shared<ManagedProcess>(service, "/bin/sleep",
                                                               std::vector<std::string>{"60"},
                                                               folder.path() / "servers.log"));
            StackEngineTesting::addProcess(*engine, id, servers.back());
        }
        throw VessoraError("Stopped with the servers up.");
    });
    ASSERT_EQ(result.profile.id, id);
    ASSERT_EQ(servers.size(), 3u);
    for (const auto& server : servers)
        EXPECT_FALSE(server->isRunning()) << server->service();
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, id));
    EXPECT_FALSE(result.report.succeeded);
    EXPECT_EQ(storedReport(result.profile).message, "Stopped with the servers up.");
    EXPECT_EQ(engine->statuses().at(id).description, "Migration incomplete");
    EXPECT_EQ(stagedItems(), 0u);
}

// The client's error line reaches the report cut to 300 bytes, never inside
// a character: the server's words may be in any language.
TEST_F(StackEngineMigrateTests, TheImportsFailureDetailIsCutAtACharacterBoundary) {
    const StackProfile profile =
        engine->create("Cut", "php@8.4", "mariadb@11.4", false, "nginx", false, std::nullopt,
                       "cut_db", std::nullopt, false, false);
    const StackPaths paths(engine->root(), profile);
    const fs::path prefix = folder.path() / "kegs" / "mariadb@11.4";
    const fs::path errorLine = folder.path() / "error-line.txt";
    // The settings are read and put back as usual; the load itself fails
    // with the prepared line.
    script(prefix / "bin/mariadb",
           "input=$(cat)\ncase \" $* \" in *\" --sandbox \"*) echo 'Loading...'; cat '" +
               errorLine.string() +
               "' >&2; exit 1 ;; esac\ncase \"$input\" in\n*'SELECT "
               "@@GLOBAL.innodb_buffer_pool_size'*) printf '67108864\\t1\\n' ;;\nesac");
    const fs::path input = folder.path() / "load.sql";
    PrivateFile::writeKeepingMode(input, "SELECT 1;\n");
    const std::string start = "ERROR 1644 (45000) at line 1: ";
    const auto detail = [&](const std::string& line) {
        PrivateFile::writeKeepingMode(errorLine, line + "\n");
        const std::string message = thrownMessage(
            [&] { StackEngineTesting::importDatabase(*engine, paths, prefix, input, "secret"); });
        const std::string head = "SQL import failed (";
        const std::string tail = "). The new environment has been stopped. Check version "
                                 "compatibility, collations, DEFINER clauses and qualified "
                                 "database names before retrying.";
        EXPECT_TRUE(message.starts_with(head) && message.ends_with(tail)) << message;
        return message.substr(head.size(), message.size() - head.size() - tail.size());
    };

    // Characters of two, three and four bytes, byte 300 at each of their
    // bytes: the cut falls before the character it would split.
    for (const std::string character : {"é", "€", "🍰"}) {
        for (std::size_t shift = 0; shift < character.size(); ++shift) {
            std::string line = start + std::string(250 + shift, 'x');
            const std::size_t run = line.size();
            while (line.size() < 340)
                line += character;
            const std::size_t into = (300 - run) % character.size();
            const std::string expected = line.substr(0, 300 - into) + "…";
            const std::string cut = detail(line);
            EXPECT_TRUE(UnicodeText::isValidUTF8(cut)) << character << shift;
            EXPECT_EQ(cut, expected) << character << shift;
        }
    }
    // 300 bytes are kept whole; one more is cut.
    const std::string exact = start + std::string(300 - start.size() - 2, 'y') + "é";
    EXPECT_EQ(detail(exact), exact);
    EXPECT_EQ(detail(exact + "z"), exact + "…");
}

TEST_F(StackEngineMigrateTests, AFailedHelperRequestKeepsTheStoredEnvironmentWithoutAReport) {
    engine->configureLocalHosts(true);
    helper->fail("Local host setup did not respond.");
    EXPECT_EQ(refusal(request()), "Local host setup did not respond.");
    const std::vector<StackProfile> profiles = engine->allProfiles();
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles.back().name, "Shop");
    EXPECT_FALSE(fs::exists(StackPaths(engine->root(), profiles.back()).migrationReport()));
    EXPECT_EQ(stagedItems(), 0u);
    EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking, MigrationPhase::installing));
    helper->fail(std::nullopt);
}

} // namespace
} // namespace vessora
