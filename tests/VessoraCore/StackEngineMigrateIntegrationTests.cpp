// Project imports end to end on real servers: Debian's MariaDB, PHP-FPM and
// nginx behind the Homebrew stand-in's prefixes, the real router and a fake
// helper. A PHP project and a mariadb-dump of its database become a running
// environment that serves the project's page; dumps the server rejects or
// that carry client commands, and a failure injected after the start, end
// with a stopped environment and a report that says why.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealEngineTest.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <future>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string busyText = "Another Vessora action is still in progress.";
const std::string incompleteText =
    "This migration is incomplete. Review its report, then remove the new environment and retry.";
const std::string successText = "Stack verification passed. Update your project’s connection "
                                "settings, then open the site to verify the application.";
const std::string importFailed = "SQL import failed (%). The new environment has been stopped. "
                                 "Check version compatibility, collations, DEFINER clauses and "
                                 "qualified database names before retrying.";

// The largest statement a dump may hold: 64 MiB before its delimiter.
constexpr std::size_t largestStatement = std::size_t(64) << 20;

class StackEngineMigrateIntegrationTests : public RealEngineTest {
protected:
    // A PHP project whose page reads one row through PDO with the settings
    // in config.php beside its public folder.
    fs::path makeProject(const std::string& name) const {
        const fs::path folder = work.path() / name;
        fs::create_directories(folder / "public");
        PrivateFile::writeKeepingMode(
            folder / "public/index.php",
            "<?php $c = require __DIR__ . '/../config.php';\n"
            "$pdo = new PDO(\"mysql:host=127.0.0.1;port={$c['port']};dbname={$c['db']}\", "
            "'vessora', $c['password']);\n"
            "echo $pdo->query('SELECT name FROM products WHERE id = 1')->fetchColumn();\n");
        fs::permissions(folder, fs::perms(0755));
        fs::permissions(folder / "public", fs::perms(0755));
        return folder;
    }

    static MigrationRequest request(const std::string& name, const fs::path& project,
                                    ProjectImportMode mode, const std::string& database,
                                    std::optional<fs::path> dump) {
        MigrationRequest value;
        value.name = name;
        value.projectFolder = project;
        value.publicDirectory = "public";
        value.mode = mode;
        value.databaseName = database;
        value.sqlFile = std::move(dump);
        value.php = "php@8.2";
        value.mariaDB = "mariadb@10.11";
        value.webserver = "nginx";
        return value;
    }

    MigrationResult migrate(const MigrationRequest& value) {
        phases.clear();
        return engine->migrate(value, [this](MigrationPhase phase) { phases.push_back(phase); });
    }

    StackPaths paths(const StackProfile& profile) const {
        return StackPaths(engine->root(), profile);
    }
    fs::path dbPrefix() const { return standIn->root() / "opt" / "mariadb@10.11"; }
    std::string sql(const StackProfile& profile, const std::string& statement) {
        return StackEngineTesting::sql(*engine, profile, dbPrefix(), statement, false);
    }
    // The real mariadb-dump over a running environment's socket, as the
    // user running the tests.
    CommandResult mariadbDump(const StackProfile& profile, const fs::path& file,
                              const std::vector<std::string>& options) const {
        const passwd* user = ::getpwuid(::geteuid());
        std::vector<std::string> arguments{
            "--no-defaults", "--protocol=socket",
            "--socket=" + (engine->socketDirectory() / (profile.id + ".sock")).string(),
            "--user=" + std::string(user ? user->pw_name : ""), "--result-file=" + file.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Command::run("/usr/bin/mariadb-dump", arguments, {.timeout = 120});
    }
    std::string logs(const StackProfile& profile) const {
        std::string text;
        std::error_code error;
        for (const auto& item : fs::directory_iterator(paths(profile).logs(), error))
            text +=
                "--- " + item.path().filename().string() + "\n" + PrivateFile::read(item.path());
        return text;
    }
    MigrationReport storedReport(const StackProfile& profile) const {
        return MigrationReport::fromJSON(
            JsonFields::parse(PrivateFile::read(paths(profile).migrationReport())));
    }
    std::size_t stagedItems() const {
        const fs::path staging = engine->root() / ".migration-staging";
        if (!fs::exists(staging))
            return 0;
        return std::distance(fs::directory_iterator(staging), fs::directory_iterator());
    }

    // The ends every failed import shares: nothing runs, the report on disk
    // is the one returned, the status and the next start say it is
    // incomplete, and removing the environment clears all of it.
    void expectIncomplete(const MigrationResult& result, const std::string& message) {
        const StackProfile& profile = result.profile;
        EXPECT_FALSE(result.report.succeeded);
        EXPECT_EQ(result.report.message, message);
        EXPECT_EQ(result.report.tableCount, std::nullopt);
        EXPECT_EQ(storedReport(profile).toJSON(), result.report.toJSON());
        EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
        for (const std::int64_t port : profile.listeningPorts())
            EXPECT_TRUE(PortCheck::isAvailable(port)) << port;
        EXPECT_EQ(engine->statuses().at(profile.id).description, "Migration incomplete");
        EXPECT_EQ(stagedItems(), 0u);
        EXPECT_FALSE(StackEngineTesting::busy(*engine));
        EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), incompleteText);
        EXPECT_EQ(engine->statuses().at(profile.id).description, "Migration incomplete");

        engine->remove(profile.id);
        EXPECT_EQ(engine->statuses().count(profile.id), 0u);
        EXPECT_TRUE(fs::exists(trash() / profile.id / "migration-report.json"));
    }

    std::vector<MigrationPhase> phases;
};

TEST_F(StackEngineMigrateIntegrationTests, AProjectAndItsDumpBecomeARunningEnvironment) {
    // The source: a project served where it lies, imported without a dump.
    const fs::path sourceFolder = makeProject("source");
    const MigrationResult source =
        migrate(request("Source", sourceFolder, ProjectImportMode::existing, "shop", std::nullopt));
    ASSERT_TRUE(source.report.succeeded) << source.report.message << logs(source.profile);
    EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking, MigrationPhase::copying,
                                    MigrationPhase::importing, MigrationPhase::verifying));
    EXPECT_EQ(source.profile.documentRoot, (sourceFolder / "public").string());
    EXPECT_EQ(source.report.sqlFileName, std::nullopt);
    EXPECT_EQ(source.report.sqlStatements, 0);
    EXPECT_EQ(source.report.tableCount, 0);
    EXPECT_TRUE(engine->statuses().at(source.profile.id).running);

    // Its database, dumped the usual way: no USE, no CREATE DATABASE, and a
    // row whose INSERT is larger than the server's default 16 MiB packet.
    sql(source.profile, "CREATE TABLE shop.products (id INT PRIMARY KEY, name VARCHAR(40));"
                        "INSERT INTO shop.products VALUES (1, 'Teapot');"
                        "CREATE TABLE shop.big (id INT PRIMARY KEY, b LONGTEXT);"
                        "INSERT INTO shop.big VALUES (1, REPEAT('x', 20 * 1024 * 1024));");
    const fs::path dump = work.path() / "shop.sql";
    const CommandResult dumped =
        mariadbDump(source.profile, dump, {"--max-allowed-packet=64M", "shop"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    engine->stop(source.profile.id);
    // Then the largest statement a dump may hold, written by hand after a
    // statement that ends the dump's closing comments. It starts right after
    // that delimiter: the client drops leading blanks, and all 64 MiB must
    // reach the server.
    const std::string head = "INSERT INTO big VALUES (2, '";
    const std::size_t bigValue = largestStatement - head.size() - 2;
    std::ofstream(dump, std::ios::binary | std::ios::app)
        << "DO 0;" << head << std::string(bigValue, 'y') << "');\n";
    const std::string dumpText = PrivateFile::read(dump);
    EXPECT_THAT(dumpText, ::testing::Not(HasSubstr("\nUSE ")));
    EXPECT_THAT(dumpText, ::testing::Not(HasSubstr("CREATE DATABASE")));

    // The project to copy, with links that a link-following copy would
    // chase: up to a parent, in a loop, dangling inside the project.
    const fs::path projectFolder = makeProject("shop");
    fs::create_directories(projectFolder / "assets");
    PrivateFile::writeKeepingMode(projectFolder / "assets/logo.txt", "logo");
    fs::create_symlink("../assets/logo.txt", projectFolder / "public/logo.txt");
    fs::create_directories(projectFolder / "public/css");
    fs::create_directory_symlink("..", projectFolder / "public/css/up");
    fs::create_symlink("b", projectFolder / "assets/a");
    fs::create_symlink("a", projectFolder / "assets/b");
    fs::create_symlink("../build/app.css", projectFolder / "public/app.css");

    const MigrationResult result =
        migrate(request("Shop", projectFolder, ProjectImportMode::copy, "shop_copy", dump));
    const StackProfile& profile = result.profile;
    ASSERT_TRUE(result.report.succeeded) << result.report.message << logs(profile);
    EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking, MigrationPhase::copying,
                                    MigrationPhase::importing, MigrationPhase::verifying));
    EXPECT_EQ(result.report.message, successText);
    EXPECT_EQ(result.report.sqlFileName, "shop.sql");
    EXPECT_EQ(result.report.sourceDatabase, std::nullopt);
    EXPECT_GT(result.report.sqlStatements, 5);
    EXPECT_EQ(result.report.tableCount, 2);
    EXPECT_EQ(storedReport(profile).toJSON(), result.report.toJSON());
    EXPECT_EQ(engine->allProfiles().back(), profile);
    EXPECT_EQ(profile.projectSubdirectory, "public");
    EXPECT_EQ(profile.documentRoot, std::nullopt);
    EXPECT_TRUE(engine->statuses().at(profile.id).running);
    EXPECT_EQ(stagedItems(), 0u);

    // The copy holds the same tree, links as links.
    const fs::path copy = paths(profile).project();
    EXPECT_EQ(snapshotFolder(copy), snapshotFolder(projectFolder));
    EXPECT_EQ(fs::read_symlink(copy / "public/css/up"), "..");
    EXPECT_EQ(fs::canonical(copy / "public/css/up"), copy / "public");

    // The page reads its row once the project points at the new database.
    const DatabaseCredentials credentials = engine->databaseCredentials(profile.id);
    EXPECT_EQ(credentials.database, "shop_copy");
    PrivateFile::writeKeepingMode(copy / "config.php",
                                  "<?php return ['port' => " + std::to_string(credentials.port) +
                                      ", 'db' => 'shop_copy', 'password' => '" +
                                      credentials.password + "'];\n");
    const LoopbackHTTP::Answer page = LoopbackHTTP::get(profile.backendURL() + "/", 15);
    EXPECT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(page.body, "Teapot");
    EXPECT_EQ(LoopbackHTTP::get(profile.backendURL() + "/logo.txt", 15).body, "logo");
    EXPECT_EQ(sql(profile, "SELECT id, LENGTH(b) FROM shop_copy.big ORDER BY id;"),
              "1\t20971520\n2\t" + std::to_string(bigValue) + "\n");

    // Client commands in a dump run nothing: the word forms reach the server
    // as SQL and fail there, the client refuses the backslash forms.
    const fs::path marker = work.path() / "marker";
    const fs::path sourced = work.path() / "sourced.sql";
    PrivateFile::writeKeepingMode(sourced, "CREATE TABLE sourced (a INT);\n");
    const std::vector<std::pair<std::string, std::string>> commands{
        {"system touch " + marker.string(), "ERROR 1064 (42000) at line 1"},
        {"\\! touch " + marker.string(), "ERROR at line 1"},
        {"tee " + marker.string(), "ERROR 1064 (42000) at line 1"},
        {"\\T " + marker.string(), "ERROR at line 1"},
        {"pager touch " + marker.string(), "ERROR 1064 (42000) at line 1"},
        {"\\P touch " + marker.string(), "ERROR at line 1"},
        {"source " + sourced.string(), "ERROR 1064 (42000) at line 1"},
        {"\\. " + sourced.string(), "ERROR at line 1"},
        {"connect shop_copy", "ERROR 1064 (42000) at line 1"},
        {"\\r shop_copy", "ERROR at line 1"}};
    for (const auto& [line, detail] : commands) {
        const fs::path input = work.path() / "commands.sql";
        PrivateFile::writeKeepingMode(input, line + ";\nCREATE TABLE after_command (a INT);\n");
        const std::string message = thrownMessage([&] {
            StackEngineTesting::importDatabase(*engine, paths(profile), dbPrefix(), input,
                                               credentials.password);
        });
        // The client's own words, whole: the server's syntax error, or its
        // refusal of a backslash command.
        EXPECT_THAT(message, StartsWith("SQL import failed (" + detail + ": ")) << line;
        EXPECT_THAT(message, HasSubstr(detail == "ERROR at line 1" ? "Unknown command '\\"
                                                                   : "You have an error in your "
                                                                     "SQL syntax"))
            << line;
        EXPECT_FALSE(fs::exists(marker)) << line;
    }
    EXPECT_EQ(sql(profile, "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                           "'shop_copy';"),
              "2\n");
    EXPECT_FALSE(fs::exists(paths(profile).config() / ".migration-client.cnf"));

    // Any password the rules allow reaches the client through its option
    // file intact: blanks at both ends, "#", quotes and backslashes.
    const std::string password = " #pa\"ss\\wo'rd = x\\";
    engine->stop(profile.id);
    engine->setDatabasePassword(profile.id, password);
    engine->start(profile.id);
    const fs::path more = work.path() / "more.sql";
    PrivateFile::writeKeepingMode(more, "INSERT INTO products VALUES (2, 'Kettle');\n");
    EXPECT_EQ(thrownMessage([&] {
                  StackEngineTesting::importDatabase(*engine, paths(profile), dbPrefix(), more,
                                                     password);
              }),
              "");
    EXPECT_EQ(sql(profile, "SELECT name FROM shop_copy.products WHERE id = 2;"), "Kettle\n");
}

TEST_F(StackEngineMigrateIntegrationTests, ALoadRaisesTheServerSettingsOnlyWhileItRuns) {
    const MigrationResult result = migrate(
        request("Tuned", makeProject("tuned"), ProjectImportMode::existing, "tuned", std::nullopt));
    const StackProfile& profile = result.profile;
    ASSERT_TRUE(result.report.succeeded) << result.report.message << logs(profile);
    const std::string settings = "SELECT @@GLOBAL.innodb_buffer_pool_size, "
                                 "@@GLOBAL.innodb_flush_log_at_trx_commit;";
    // The values of the environment's own configuration file.
    const std::string configured = std::to_string(64 << 20) + "\t1\n";
    ASSERT_EQ(sql(profile, settings), configured);
    const std::string password = engine->databaseCredentials(profile.id).password;
    const auto load = [&](const std::string& text) {
        const fs::path input = work.path() / "load.sql";
        PrivateFile::writeKeepingMode(input, text);
        return thrownMessage([&] {
            StackEngineTesting::importDatabase(*engine, paths(profile), dbPrefix(), input,
                                               password);
        });
    };
    const std::string record = "CREATE TABLE seen AS SELECT @@GLOBAL.innodb_buffer_pool_size AS "
                               "pool, @@GLOBAL.innodb_flush_log_at_trx_commit AS flush;\n";

    EXPECT_EQ(load(record), "");
    EXPECT_EQ(sql(profile, "SELECT pool, flush FROM tuned.seen;"),
              std::to_string(512 << 20) + "\t2\n");
    EXPECT_EQ(sql(profile, settings), configured);

    // A load the server rejects halfway puts them back as well.
    EXPECT_THAT(load("DROP TABLE seen;\n" + record + "INSERT INTO missing VALUES (1);\n"),
                StartsWith("SQL import failed (ERROR 1146 (42S02) at line 3: "));
    EXPECT_EQ(sql(profile, "SELECT pool, flush FROM tuned.seen;"),
              std::to_string(512 << 20) + "\t2\n");
    EXPECT_EQ(sql(profile, settings), configured);

    // So does a client that cannot even log in.
    EXPECT_THAT(thrownMessage([&] {
                    const fs::path input = work.path() / "load.sql";
                    StackEngineTesting::importDatabase(*engine, paths(profile), dbPrefix(), input,
                                                       "wrong password");
                }),
                StartsWith("SQL import failed (ERROR 1045 (28000): Access denied"));
    EXPECT_EQ(sql(profile, settings), configured);
}

TEST_F(StackEngineMigrateIntegrationTests, DumpsThatFailOnTheServerEndIncomplete) {
    const fs::path project = makeProject("shop");

    // A setting the application account may not change.
    const fs::path definer = work.path() / "global.sql";
    PrivateFile::writeKeepingMode(definer, "CREATE TABLE products (id INT, name VARCHAR(40));\n"
                                           "SET GLOBAL max_connections = 10;\n");
    const MigrationResult rejected =
        migrate(request("Global", project, ProjectImportMode::existing, "shop", definer));
    EXPECT_THAT(phases, ElementsAre(MigrationPhase::checking, MigrationPhase::copying,
                                    MigrationPhase::importing));
    EXPECT_EQ(rejected.report.sqlStatements, 2);
    EXPECT_EQ(rejected.report.sqlFileName, "global.sql");
    // The server's own reason, whole, and the client's words kept in the
    // environment's logs, without the password it was given.
    const std::string reason = "ERROR 1227 (42000) at line 2: Access denied; you need (at least "
                               "one of) the SUPER";
    EXPECT_THAT(rejected.report.message, StartsWith("SQL import failed (" + reason));
    EXPECT_THAT(rejected.report.message, HasSubstr("privilege(s) for this operation). The new "
                                                   "environment has been stopped."));
    const fs::path log = paths(rejected.profile).importLog();
    ASSERT_TRUE(fs::exists(log));
    EXPECT_EQ(fs::status(log).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THAT(PrivateFile::read(log), HasSubstr(reason));
    const std::string password = PrivateFile::read(paths(rejected.profile).databasePassword());
    ASSERT_FALSE(password.empty());
    EXPECT_THAT(PrivateFile::read(log), Not(HasSubstr(password)));
    expectIncomplete(rejected, rejected.report.message);

    // A client command written into the dump runs nothing; the server's
    // words say why.
    const fs::path marker = work.path() / "marker";
    const fs::path system = work.path() / "system.sql";
    PrivateFile::writeKeepingMode(system, "CREATE TABLE products (id INT);\nsystem touch " +
                                              marker.string() + ";\n");
    const MigrationResult commanded =
        migrate(request("System", project, ProjectImportMode::existing, "shop", system));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_THAT(commanded.report.message,
                StartsWith("SQL import failed (ERROR 1064 (42000) at line 2: You have an error in "
                           "your SQL syntax"));
    EXPECT_LE(commanded.report.message.size(), importFailed.size() + 300 + 3);
    expectIncomplete(commanded, commanded.report.message);
}

// "USE shop" without its semicolon would take the INSERT after it along with
// it; the dump is refused before anything is made.
TEST_F(StackEngineMigrateIntegrationTests, ASelectionWithoutItsDelimiterIsRefusedBeforeAnything) {
    const fs::path project = makeProject("shop");
    const fs::path dump = work.path() / "unended.sql";
    PrivateFile::writeKeepingMode(dump, "CREATE TABLE t1 (a INT);\nUSE shop\n"
                                        "INSERT INTO t1 VALUES (1);\n");
    const std::size_t before = engine->allProfiles().size();
    EXPECT_EQ(thrownMessage([&] {
                  migrate(request("Unended", project, ProjectImportMode::existing, "shop", dump));
              }),
              "The statement on line 2 of the SQL file selects a database but does not end after "
              "its name, so the statements after it would be lost. Add the missing semicolon, or "
              "export the dump again.");
    EXPECT_EQ(engine->allProfiles().size(), before);
    EXPECT_EQ(stagedItems(), 0u);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // With its semicolon the same dump imports, the row included.
    PrivateFile::writeKeepingMode(dump, "CREATE TABLE t1 (a INT);\nUSE shop;\n"
                                        "INSERT INTO t1 VALUES (1);\n");
    const MigrationResult result =
        migrate(request("Ended", project, ProjectImportMode::existing, "shop", dump));
    ASSERT_TRUE(result.report.succeeded) << result.report.message;
    EXPECT_EQ(sql(result.profile, "SELECT a FROM shop.t1;"), "1\n");
    engine->stop(result.profile.id);
}

// mariadb-dump --databases of a database with a comment writes it quoted
// after the character set, with the ";" inside; a MySQL 8 server adds an
// executable encryption clause. Both import with every row, the page
// included, where they were once refused as a missing semicolon.
TEST_F(StackEngineMigrateIntegrationTests, ADumpOfADatabaseWithACommentImportsWithItsRows) {
    const MigrationResult source = migrate(
        request("Blog", makeProject("source"), ProjectImportMode::existing, "blog", std::nullopt));
    ASSERT_TRUE(source.report.succeeded) << source.report.message << logs(source.profile);
    sql(source.profile,
        "ALTER DATABASE blog COMMENT 'The blog; it''s the main site';"
        "CREATE TABLE blog.products (id INT PRIMARY KEY, name VARCHAR(40));"
        "INSERT INTO blog.products VALUES (1, 'Teapot; large'), (2, 'Grüße 🍰'), (3, NULL);");
    const std::string rows = "SELECT id, HEX(name) FROM %.products ORDER BY id;";
    const auto contents = [&](const StackProfile& profile, const std::string& database) {
        std::string query = rows;
        query.replace(query.find('%'), 1, database);
        return sql(profile, query);
    };
    const std::string original = contents(source.profile, "blog");
    ASSERT_EQ(original.substr(0, 2), "1\t") << original;
    const fs::path dump = work.path() / "blog.sql";
    const CommandResult dumped = mariadbDump(source.profile, dump, {"--databases", "blog"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    engine->stop(source.profile.id);
    const std::string text = PrivateFile::read(dump);
    const std::string created = "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `blog` /*!40100 DEFAULT "
                                "CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci */ COMMENT "
                                "'The blog; it''s the main site';";
    ASSERT_THAT(text, HasSubstr(created));
    const fs::path mysql8 = work.path() / "blog-mysql8.sql";
    std::string mysql8Text = text;
    mysql8Text.insert(mysql8Text.find(created) + created.find(" COMMENT"),
                      " /*!80016 DEFAULT ENCRYPTION='N' */");
    PrivateFile::writeKeepingMode(mysql8, mysql8Text);

    int copy = 0;
    for (const fs::path& file : {dump, mysql8}) {
        const std::string database = "blog_copy" + std::to_string(++copy);
        const fs::path project = makeProject(database);
        const MigrationResult result = migrate(request(
            "Copy " + std::to_string(copy), project, ProjectImportMode::existing, database, file));
        ASSERT_TRUE(result.report.succeeded)
            << file << result.report.message << logs(result.profile);
        EXPECT_EQ(result.report.sourceDatabase, "blog") << file;
        EXPECT_EQ(contents(result.profile, database), original) << file;
        // Nothing else was made: the copy is the environment's own database.
        EXPECT_EQ(sql(result.profile, "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE "
                                      "SCHEMA_NAME LIKE 'blog%';"),
                  "1\n")
            << file;
        const DatabaseCredentials credentials = engine->databaseCredentials(result.profile.id);
        PrivateFile::writeKeepingMode(
            project / "config.php", "<?php return ['port' => " + std::to_string(credentials.port) +
                                        ", 'db' => '" + database + "', 'password' => '" +
                                        credentials.password + "'];\n");
        const LoopbackHTTP::Answer page = LoopbackHTTP::get(result.profile.backendURL() + "/", 15);
        EXPECT_EQ(page.body, "Teapot; large") << file;
        engine->stop(result.profile.id);
    }
}

// mariadb-dump writes ALTER DATABASE for the dump's own database around a
// trigger and routines made while the database had another collation. The
// import runs them on the new environment's database, whose account has no
// rights on the source's, and the trigger and routines work there.
// A database that keeps its logic in itself, made by another account:
// mariadb-dump's export of it loads as the copy's account and works.
TEST_F(StackEngineMigrateIntegrationTests, ObjectsOfAnotherAccountImportAndWorkAsInTheOriginal) {
    const MigrationResult source = migrate(
        request("Source", makeProject("source"), ProjectImportMode::existing, "src", std::nullopt));
    ASSERT_TRUE(source.report.succeeded) << source.report.message << logs(source.profile);
    sql(source.profile,
        "CREATE USER IF NOT EXISTS `root`@`localhost`;\nGRANT ALL ON src.* TO `root`@`localhost`;\n"
        "CREATE USER `shop`@`%`;\nGRANT ALL ON src.* TO `shop`@`%`;\n"
        "ALTER DATABASE src CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;\nUSE src;\n"
        "CREATE TABLE orders (id INT PRIMARY KEY, note VARCHAR(80));\n"
        "CREATE TABLE log (entry VARCHAR(80));\n"
        "CREATE TABLE remarks (id INT, body VARCHAR(80));\n"
        "CREATE DEFINER=`root`@`localhost` PROCEDURE note(IN what VARCHAR(80)) "
        "INSERT INTO log VALUES (what);\n"
        "DELIMITER $$\n"
        "CREATE DEFINER=`root`@`localhost` PROCEDURE twice(IN what VARCHAR(80)) BEGIN "
        "CALL note(what); CALL note(CONCAT(what, ' again')); END$$\n"
        "CREATE DEFINER=`shop`@`%` TRIGGER orders_log AFTER INSERT ON orders FOR EACH ROW "
        "BEGIN SET @last = NEW.id; CALL twice(CONCAT('order ', NEW.id)); END$$\n"
        "CREATE DEFINER=`root`@`localhost` FUNCTION label(x INT) RETURNS VARCHAR(20) "
        "DETERMINISTIC RETURN CONCAT('#', x)$$\n"
        "CREATE DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW labelled AS SELECT "
        "label(id) AS l FROM orders$$\n"
        "CREATE DEFINER=`root`@`localhost` EVENT nightly ON SCHEDULE EVERY 1 DAY STARTS "
        "'2035-01-01 03:00:00' DISABLE DO BEGIN DELETE FROM log; CALL note('swept'); "
        "END$$\nDELIMITER ;\n"
        "INSERT INTO orders VALUES (1, 'it''s O''Brien');\n"
        "INSERT INTO remarks VALUES (1, 'it''s \\\\ \\\"quoted\\\"');\n");
    const fs::path dump = work.path() / "src.sql";
    const CommandResult dumped = mariadbDump(
        source.profile, dump, {"--databases", "src", "--routines", "--triggers", "--events"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    engine->stop(source.profile.id);
    ASSERT_THAT(PrivateFile::read(dump), HasSubstr("DEFINER=`shop`@`%`"));

    const MigrationResult result =
        migrate(request("Copy", makeProject("copy"), ProjectImportMode::existing, "copy", dump));
    const StackProfile& profile = result.profile;
    ASSERT_TRUE(result.report.succeeded) << result.report.message << logs(profile);
    EXPECT_EQ(sql(profile, "SELECT body FROM copy.remarks;"), "it's \\\\ \"quoted\"\n");
    EXPECT_EQ(sql(profile, "SELECT entry FROM copy.log ORDER BY entry;"),
              "order 1\norder 1 again\n");
    sql(profile, "INSERT INTO copy.orders VALUES (2, 'x');");
    EXPECT_EQ(sql(profile, "SELECT COUNT(*) FROM copy.log WHERE entry LIKE 'order 2%';"), "2\n");
    EXPECT_EQ(sql(profile, "SELECT l FROM copy.labelled ORDER BY l;"), "#1\n#2\n");
    // Every object belongs to the copy's account now.
    EXPECT_EQ(sql(profile, "SELECT GROUP_CONCAT(DISTINCT d) FROM ("
                           "SELECT DEFINER AS d FROM information_schema.ROUTINES WHERE "
                           "ROUTINE_SCHEMA = 'copy' UNION SELECT DEFINER FROM "
                           "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = 'copy' UNION "
                           "SELECT DEFINER FROM information_schema.VIEWS WHERE TABLE_SCHEMA = "
                           "'copy' UNION SELECT DEFINER FROM information_schema.EVENTS WHERE "
                           "EVENT_SCHEMA = 'copy') AS definers;"),
              "vessora@127.0.0.1\n");
    EXPECT_EQ(sql(profile, "SELECT DEFAULT_COLLATION_NAME FROM information_schema.SCHEMATA WHERE "
                           "SCHEMA_NAME = 'copy';"),
              "utf8mb4_unicode_ci\n");
    engine->stop(profile.id);
}

// Statements preparation cannot see, run while the dump loads, that remove
// or remake the database: the import fails saying what happened.
TEST_F(StackEngineMigrateIntegrationTests, ADumpThatDropsItsDatabaseInHidingFailsSayingSo) {
    const fs::path project = makeProject("shop");
    const fs::path dropped = work.path() / "dropped.sql";
    PrivateFile::writeKeepingMode(
        dropped, "CREATE TABLE products (id INT);\n"
                 "PREPARE s FROM CONCAT('DROP DATA', 'BASE ', DATABASE());\nEXECUTE s;\n");
    const MigrationResult gone =
        migrate(request("Gone", project, ProjectImportMode::existing, "shop", dropped));
    EXPECT_EQ(gone.report.message,
              "The SQL dump removed the database “shop” while it loaded, so nothing of it was "
              "imported. Remove the DROP DATABASE statement from the dump, or export the "
              "database again.");
    expectIncomplete(gone, gone.report.message);

    const fs::path remade = work.path() / "remade.sql";
    PrivateFile::writeKeepingMode(
        remade, "CREATE TABLE products (id INT);\n"
                "PREPARE s FROM CONCAT('DROP DATA', 'BASE ', DATABASE());\nEXECUTE s;\n"
                "PREPARE s FROM 'CREATE DATA' 'BASE shop';\nEXECUTE s;\n");
    const MigrationResult again =
        migrate(request("Again", project, ProjectImportMode::existing, "shop", remade));
    EXPECT_EQ(again.report.message,
              "While the SQL dump loaded, the server ran database statements that preparing it "
              "could not see (CREATE DATABASE 1, DROP DATABASE 1), so the database “shop” may not "
              "hold what the dump meant. Remove those statements from the dump, or export the "
              "database again.");
    expectIncomplete(again, again.report.message);
}

TEST_F(StackEngineMigrateIntegrationTests,
       ADumpOfADatabaseWhoseCollationChangedImportsItsRoutines) {
    const MigrationResult source = migrate(
        request("Source", makeProject("source"), ProjectImportMode::existing, "src", std::nullopt));
    ASSERT_TRUE(source.report.succeeded) << source.report.message << logs(source.profile);
    // Made by the application account, the definer the copy's account is.
    const fs::path objects = work.path() / "objects.sql";
    PrivateFile::writeKeepingMode(
        objects, "CREATE TABLE products (id INT PRIMARY KEY, name VARCHAR(40));\n"
                 "CREATE TABLE audit (entry VARCHAR(80));\n"
                 "CREATE TRIGGER products_audit AFTER INSERT ON products FOR EACH ROW\n"
                 "  INSERT INTO audit VALUES (CONCAT('row ', NEW.id));\n"
                 "DELIMITER $$\nCREATE PROCEDURE add_product(IN n INT)\nBEGIN\n"
                 "  INSERT INTO products VALUES (n, CONCAT('Teapot ', n));\nEND$$\n"
                 "CREATE FUNCTION twice(x INT) RETURNS INT DETERMINISTIC RETURN x * 2$$\n"
                 "DELIMITER ;\n"
                 "ALTER DATABASE src CHARACTER SET latin1 COLLATE latin1_swedish_ci;\n"
                 "INSERT INTO products VALUES (1, 'Teapot');\n");
    ASSERT_EQ(thrownMessage([&] {
                  StackEngineTesting::importDatabase(
                      *engine, paths(source.profile), dbPrefix(), objects,
                      engine->databaseCredentials(source.profile.id).password);
              }),
              "");
    const fs::path dump = work.path() / "src.sql";
    const CommandResult dumped =
        mariadbDump(source.profile, dump, {"--databases", "src", "--routines", "--triggers"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    engine->stop(source.profile.id);
    ASSERT_THAT(PrivateFile::read(dump),
                HasSubstr("\nALTER DATABASE `src` CHARACTER SET utf8mb4 COLLATE "
                          "utf8mb4_general_ci ;\n"));

    const MigrationResult result =
        migrate(request("Copy", makeProject("copy"), ProjectImportMode::existing, "copy", dump));
    const StackProfile& profile = result.profile;
    ASSERT_TRUE(result.report.succeeded) << result.report.message << logs(profile);
    EXPECT_EQ(result.report.sourceDatabase, "src");
    EXPECT_EQ(result.report.tableCount, 2);
    sql(profile, "CALL copy.add_product(2);");
    EXPECT_EQ(sql(profile, "SELECT entry FROM copy.audit ORDER BY entry;"), "row 1\nrow 2\n");
    EXPECT_EQ(sql(profile, "SELECT name FROM copy.products WHERE id = 2;"), "Teapot 2\n");
    EXPECT_EQ(sql(profile, "SELECT copy.twice(21);"), "42\n");
    // The routines keep the collation they were made under; the copy ends
    // with the one the source's database has.
    EXPECT_EQ(sql(profile, "SELECT DEFAULT_COLLATION_NAME FROM information_schema.SCHEMATA WHERE "
                           "SCHEMA_NAME = 'copy';"),
              "latin1_swedish_ci\n");
    EXPECT_EQ(sql(profile, "SELECT GROUP_CONCAT(DATABASE_COLLATION) FROM "
                           "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = 'copy';"),
              "utf8mb4_general_ci,utf8mb4_general_ci\n");
    EXPECT_EQ(sql(profile, "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = "
                           "'src';"),
              "0\n");
    engine->stop(profile.id);
}

TEST_F(StackEngineMigrateIntegrationTests, AFailureAfterTheStartStopsTheEnvironment) {
    const fs::path project = makeProject("shop");
    const fs::path dump = work.path() / "shop.sql";
    PrivateFile::writeKeepingMode(dump, "CREATE TABLE products (id INT, name VARCHAR(40));\n");
    std::map<std::string, std::int32_t> running;
    std::vector<std::string> refusals;

    const MigrationResult result = engine->migrate(
        request("Shop", project, ProjectImportMode::existing, "shop", dump),
        [&](MigrationPhase phase) {
            if (phase != MigrationPhase::verifying)
                return;
            // The environment runs; every other operation waits its turn.
            for (const auto& [id, status] : engine->statuses())
                if (status.running)
                    running = status.processes;
            MigrationRequest other =
                request("Other", project, ProjectImportMode::existing, "other", std::nullopt);
            refusals.push_back(thrownMessage([&] { engine->migrate(other, {}); }));
            refusals.push_back(std::async(std::launch::async, [&] {
                                   return thrownMessage([&] { engine->start("studio"); });
                               }).get());
            throw VessoraError("Injected failure while verifying.");
        });

    EXPECT_EQ(running.size(), 3u);
    EXPECT_THAT(refusals, ElementsAre(busyText, busyText));
    for (const auto& [service, pid] : running)
        EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << service;
    EXPECT_EQ(engine->allProfiles().size(), 3u) << "the refused import made nothing";
    expectIncomplete(result, "Injected failure while verifying.");
}

} // namespace
} // namespace vessora
