// Database administration through the engine on a real MariaDB: a started
// environment (Debian's servers behind the Homebrew stand-in), its
// inventory, every access level, accounts, passwords that log in through the
// mariadb client as written, and refusals that leave the server unchanged.
// Each test starts its environment once (the second test once more, to
// apply a stored password).
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;

const std::string busyText = "Another Vessora action is still in progress.";
const std::string protectedAccount =
    "This account is protected or has advanced privileges. Manage it in phpMyAdmin.";
const std::string applicationHost = "127.0.0.1";

class DatabaseAdministrationIntegrationTests : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        StackEngine::Options options;
        options.root = work.path() / "data";
        options.brew = standIn->brew();
        options.hostClient = std::make_shared<FakeHostService>();
        const auto routerPorts = freePorts(2);
        options.routerPorts = {routerPorts[0], routerPorts[1]};
        engine = std::make_unique<StackEngine>(options);
        profile = engine->create("Shop", "php@8.2", "mariadb@10.11", false, "nginx", false,
                                 std::nullopt, "shop_db", std::nullopt, false, false);
        const auto ports = freePorts(3);
        profile.httpPort = ports[0];
        profile.phpPort = ports[1];
        profile.databasePort = ports[2];
        engine->update(profile);
    }
    void TearDown() override {
        if (!engine)
            return;
        try {
            engine->stopAll();
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        fs::remove_all(engine->socketDirectory());
    }

    // Starts and shows the logs when it fails.
    bool start() {
        const std::string error = thrownMessage([&] { engine->start(profile.id); });
        if (error.empty())
            return true;
        std::string logs;
        for (const auto& item : fs::directory_iterator(StackPaths(engine->root(), profile).logs()))
            logs +=
                "--- " + item.path().filename().string() + "\n" + PrivateFile::read(item.path());
        ADD_FAILURE() << error << "\n" << logs;
        return false;
    }

    DatabaseAdminSnapshot snapshot() { return engine->databaseAdminSnapshot(profile.id); }

    static const DatabaseAccount* find(const DatabaseAdminSnapshot& snapshot,
                                       const std::string& id) {
        for (const DatabaseAccount& account : snapshot.users)
            if (account.id() == id)
                return &account;
        return nullptr;
    }
    static bool hasDatabase(const DatabaseAdminSnapshot& snapshot, const std::string& name) {
        for (const ManagedDatabase& database : snapshot.databases)
            if (database.name == name)
                return true;
        return false;
    }
    // The account's level on the database; a missing account fails the test.
    DatabaseAccess access(const std::string& user, const std::string& database) {
        const DatabaseAdminSnapshot current = snapshot();
        const DatabaseAccount* account = find(current, user + "@" + applicationHost);
        if (!account) {
            ADD_FAILURE() << "no account " << user;
            return DatabaseAccess::custom;
        }
        EXPECT_TRUE(account->canEdit) << user;
        return account->access(database);
    }

    // Logs in over TCP as a user would, with the password exactly as given;
    // the statement's output, or the client's error text with status.
    CommandResult login(const std::string& user, const std::string& password,
                        const std::string& statement = "SELECT CURRENT_USER()") {
        return Command::run(standIn->root() / "opt" / "mariadb@10.11" / "bin" / "mariadb",
                            {"--no-defaults", "--protocol=tcp", "--host=127.0.0.1",
                             "--port=" + std::to_string(profile.databasePort), "--user=" + user,
                             "--password=" + password, "--default-character-set=utf8mb4",
                             "--connect-timeout=5", "--batch", "--skip-column-names", "-e",
                             statement},
                            {.timeout = 30});
    }
    void expectLogin(const std::string& user, const std::string& password) {
        const CommandResult result = login(user, password);
        EXPECT_EQ(result.status, 0) << user << " [" << password << "]: " << result.output;
        EXPECT_EQ(result.output, user + "@127.0.0.1\n");
    }
    void expectNoLogin(const std::string& user, const std::string& password) {
        const CommandResult result = login(user, password);
        EXPECT_NE(result.status, 0) << user << " [" << password << "]";
        EXPECT_THAT(result.output, ::testing::HasSubstr("Access denied")) << user;
    }

    // No log the engine or its servers wrote holds any of the passwords.
    void expectNoPasswordInLogs(const std::vector<std::string>& passwords) {
        std::size_t scanned = 0;
        for (const fs::path& folder :
             {StackPaths(engine->root(), profile).logs(), engine->root() / "logs"}) {
            if (!fs::is_directory(folder))
                continue;
            for (const auto& item : fs::recursive_directory_iterator(folder)) {
                if (!item.is_regular_file())
                    continue;
                const std::string text = PrivateFile::read(item.path());
                scanned += text.size();
                for (const std::string& password : passwords)
                    EXPECT_EQ(text.find(password), std::string::npos)
                        << item.path() << " holds [" << password << "]";
            }
        }
        // The servers did write their logs: the scan looked at something.
        EXPECT_GT(scanned, 0u);
    }

    TemporaryFolder work{"vessora-dbadmin"};
    std::unique_ptr<StackEngine> engine;
    StackProfile profile;
};

TEST_F(DatabaseAdministrationIntegrationTests, AccessLevelsAccountsAndRefusals) {
    // Stored before the first start: quotes, a backslash and spaces at both ends.
    const std::string applicationPassword = R"( pa"ss\wo'rd )";
    PrivateFile::write(StackPaths(engine->root(), profile).databasePassword(), applicationPassword);
    ASSERT_TRUE(start());
    expectLogin("vessora", applicationPassword);
    expectNoLogin("vessora", "pa\"ss\\wo'rd");

    // What the start set up reads back as the environment's own account with
    // the standard level on its underscore database.
    DatabaseAdminSnapshot fresh = snapshot();
    ASSERT_TRUE(hasDatabase(fresh, "shop_db"));
    EXPECT_FALSE(hasDatabase(fresh, "vessora_internal"));
    const DatabaseAccount* application = find(fresh, "vessora@127.0.0.1");
    ASSERT_NE(application, nullptr);
    EXPECT_TRUE(application->isApplication);
    EXPECT_TRUE(application->canEdit);
    EXPECT_EQ(application->access("shop_db"), DatabaseAccess::admin);
    // The server's own accounts are out of reach.
    for (const DatabaseAccount& account : fresh.users)
        EXPECT_TRUE(account.isApplication || !account.canEdit) << account.id();
    const std::string administrator = StackEngineTesting::loginName();
    EXPECT_NE(find(fresh, administrator + "@localhost"), nullptr);

    // Databases, with and without the application account.
    engine->createDatabase(profile.id, "blog_data", true);
    engine->createDatabase(profile.id, "blogXdata", false);
    engine->createDatabase(profile.id, "spare", false);
    EXPECT_EQ(access("vessora", "blog_data"), DatabaseAccess::admin);
    EXPECT_EQ(access("vessora", "blogXdata"), DatabaseAccess::none);
    EXPECT_EQ(engine->executeSQL(profile.id, "SELECT DEFAULT_CHARACTER_SET_NAME FROM "
                                             "information_schema.SCHEMATA WHERE "
                                             "SCHEMA_NAME='blog_data';"),
              "utf8mb4\n");

    // Every level, as created and as changed, reads back as itself.
    for (const DatabaseAccess level : DatabaseAccessLevels::assignable()) {
        const std::string user = "made_" + std::to_string(static_cast<int>(level));
        engine->createDatabaseUser(profile.id, user, "pw", "blog_data", level);
        EXPECT_EQ(access(user, "blog_data"), level) << rawValue(level);
    }
    // A set made elsewhere that no level describes reads as custom, and a
    // level replaces it.
    engine->executeSQL(profile.id, "GRANT SELECT ON `blog\\_data`.* TO 'made_0'@'127.0.0.1';");
    EXPECT_EQ(access("made_0", "blog_data"), DatabaseAccess::custom);
    engine->setDatabaseAccess(profile.id, "made_0", applicationHost,
                              {{"blog_data", {"SELECT"}, DatabaseAccess::readWrite}});
    EXPECT_EQ(access("made_0", "blog_data"), DatabaseAccess::readWrite);

    engine->createDatabaseUser(profile.id, "shop_user", "shop pw", "blog_data",
                               DatabaseAccess::none);
    std::set<std::string> held;
    for (const DatabaseAccess level :
         {DatabaseAccess::readOnly, DatabaseAccess::readWrite, DatabaseAccess::admin,
          DatabaseAccess::readOnly, DatabaseAccess::none, DatabaseAccess::admin}) {
        engine->setDatabaseAccess(profile.id, "shop_user", applicationHost,
                                  {{"blog_data", held, level}});
        const DatabaseAdminSnapshot after = snapshot();
        const DatabaseAccount* account = find(after, "shop_user@127.0.0.1");
        ASSERT_NE(account, nullptr);
        EXPECT_EQ(account->access("blog_data"), level) << rawValue(level);
        EXPECT_TRUE(account->canEdit);
        const auto entry = account->privileges.find("blog_data");
        held = entry == account->privileges.end() ? std::set<std::string>() : entry->second;
    }
    // The grant names blog_data alone, not every name the pattern blog_data matches.
    EXPECT_EQ(access("shop_user", "blogXdata"), DatabaseAccess::none);
    EXPECT_EQ(login("shop_user", "shop pw", "USE blog_data; SELECT DATABASE();").output,
              "blog_data\n");
    EXPECT_THAT(login("shop_user", "shop pw", "USE blogXdata").output,
                ::testing::HasSubstr("ERROR 1044"));
    // The application account's other databases can be changed.
    engine->setDatabaseAccess(profile.id, "vessora", applicationHost,
                              {{"blogXdata", {}, DatabaseAccess::readOnly}});
    EXPECT_EQ(access("vessora", "blogXdata"), DatabaseAccess::readOnly);

    // Refusals leave the server as it was.
    engine->executeSQL(profile.id, "DROP DATABASE spare;");
    const DatabaseAdminSnapshot before = snapshot();
    const std::set<std::string> adminSet =
        find(before, "shop_user@127.0.0.1")->privileges.at("blog_data");
    const std::vector<std::pair<std::string, std::function<void()>>> refusals{
        {protectedAccount, [&] { engine->deleteDatabaseUser(profile.id, "root", "localhost"); }},
        {protectedAccount,
         [&] { engine->deleteDatabaseUser(profile.id, "mariadb.sys", "localhost"); }},
        {protectedAccount,
         [&] { engine->deleteDatabaseUser(profile.id, administrator, "localhost"); }},
        {protectedAccount,
         [&] { engine->changeDatabaseUserPassword(profile.id, "root", "localhost", "x"); }},
        {protectedAccount,
         [&] { engine->deleteDatabaseUser(profile.id, "shop_user", "localhost"); }},
        {"Built-in accounts cannot be removed.",
         [&] { engine->deleteDatabaseUser(profile.id, "vessora", applicationHost); }},
        {"Use DB credentials to change the application account’s password.",
         [&] { engine->changeDatabaseUserPassword(profile.id, "vessora", applicationHost, "x"); }},
        {"Use 1–80 letters, numbers, underscores or hyphens for the user name. Start with a "
         "letter or underscore. Built-in names are reserved.",
         [&] {
             engine->createDatabaseUser(profile.id, "Root", "pw", "blog_data",
                                        DatabaseAccess::readOnly);
         }},
        {"The selected database no longer exists. Refresh the list.",
         [&] {
             engine->createDatabaseUser(profile.id, "late", "pw", "spare",
                                        DatabaseAccess::readOnly);
         }},
        {"The selected database no longer exists. Refresh the list.",
         [&] {
             engine->setDatabaseAccess(profile.id, "shop_user", applicationHost,
                                       {{"blog_data", adminSet, DatabaseAccess::readOnly},
                                        {"spare", {}, DatabaseAccess::readOnly}});
         }},
        {"Permissions changed in another client. Refresh and review them before saving.",
         [&] {
             engine->setDatabaseAccess(profile.id, "shop_user", applicationHost,
                                       {{"blog_data", {"SELECT"}, DatabaseAccess::none}});
         }},
        {"The application account’s primary database access is managed by Vessora.",
         [&] {
             engine->setDatabaseAccess(
                 profile.id, "vessora", applicationHost,
                 {{"shop_db", application->privileges.at("shop_db"), DatabaseAccess::readOnly}});
         }},
        {"Database operation failed (ERROR 1396 (HY000)). Refresh to review the current state. "
         "No existing data was deleted.",
         [&] {
             engine->createDatabaseUser(profile.id, "shop_user", "other", "blog_data",
                                        DatabaseAccess::readOnly);
         }},
        {"Database operation failed (ERROR 1007 (HY000)). Refresh to review the current state. "
         "No existing data was deleted.",
         [&] { engine->createDatabase(profile.id, "blog_data", true); }},
        {"Use 1–64 letters, numbers, underscores or hyphens for the database name. Start with a "
         "letter or underscore. System names are reserved.",
         [&] { engine->createDatabase(profile.id, "vessora_internal", false); }},
        {"Choose an access level.",
         [&] {
             engine->createDatabaseUser(profile.id, "late", "pw", "blog_data",
                                        DatabaseAccess::custom);
         }},
        {"Use a nonempty database password of up to 256 UTF-8 bytes, without control characters.",
         [&] {
             engine->createDatabaseUser(profile.id, "late", "tab\tin", "blog_data",
                                        DatabaseAccess::readOnly);
         }},
        {"Choose one access level per database.",
         [&] {
             engine->setDatabaseAccess(profile.id, "shop_user", applicationHost,
                                       {{"blogXdata", {}, DatabaseAccess::readOnly},
                                        {"blogXdata", {}, DatabaseAccess::admin}});
         }},
        {"The application account’s primary database access is managed by Vessora.",
         [&] {
             engine->setDatabaseAccess(profile.id, "shop_user", applicationHost,
                                       {{"blog_data", adminSet, DatabaseAccess::custom}});
         }},
        {protectedAccount,
         [&] {
             engine->setDatabaseAccess(profile.id, "root", "localhost",
                                       {{"blog_data", {}, DatabaseAccess::readOnly}});
         }},
    };
    for (const auto& [expected, call] : refusals) {
        EXPECT_EQ(thrownMessage(call), expected);
        EXPECT_FALSE(StackEngineTesting::busy(*engine)) << expected;
    }
    EXPECT_EQ(snapshot(), before);
    expectLogin("shop_user", "shop pw");
    expectLogin("vessora", applicationPassword);

    engine->deleteDatabaseUser(profile.id, "shop_user", applicationHost);
    EXPECT_EQ(find(snapshot(), "shop_user@127.0.0.1"), nullptr);
    expectNoLogin("shop_user", "shop pw");
    expectNoPasswordInLogs({applicationPassword, "shop pw"});
}

TEST_F(DatabaseAdministrationIntegrationTests,
       ARecreatedDatabaseStartsWithoutTheGrantsOfTheDroppedOne) {
    ASSERT_TRUE(start());
    const auto sql = [&](const std::string& statement) {
        return engine->executeSQL(profile.id, statement);
    };
    // Every grant stored for stale_db at any level, as the server keeps it.
    const auto storedForStale = [&] {
        return sql("SELECT CONCAT('db ',User,'@',Host) FROM mysql.db WHERE BINARY "
                   "Db='stale\\_db' UNION ALL SELECT CONCAT('table ',User,'@',Host) FROM "
                   "mysql.tables_priv WHERE BINARY Db='stale_db' UNION ALL SELECT "
                   "CONCAT('column ',User,'@',Host) FROM mysql.columns_priv WHERE BINARY "
                   "Db='stale_db' UNION ALL SELECT CONCAT('routine ',User,'@',Host) FROM "
                   "mysql.procs_priv WHERE BINARY Db='stale_db' ORDER BY 1;");
    };
    // The bystander's grants, on names like stale_db but not it.
    const auto bystander = [&] {
        return sql("SELECT CONCAT(Db,' ',Select_priv) FROM mysql.db WHERE User='bystander' "
                   "UNION ALL SELECT CONCAT(Db,'.',Table_name) FROM mysql.tables_priv WHERE "
                   "User='bystander' ORDER BY 1;");
    };

    // The window makes stale_db and two users with the full level on it.
    engine->createDatabase(profile.id, "stale_db", false);
    engine->createDatabaseUser(profile.id, "dave", "dave pw", "stale_db", DatabaseAccess::admin);
    engine->createDatabaseUser(profile.id, "dora", "dora pw", "stale_db", DatabaseAccess::admin);
    // Made elsewhere: grants on its tables, columns and routines, with and
    // without the grant option, and for a role.
    engine->createDatabaseUser(profile.id, "eve", "eve pw", "shop_db", DatabaseAccess::none);
    sql("CREATE TABLE stale_db.t (i INT, c INT);");
    sql("CREATE PROCEDURE stale_db.p() SELECT 1;");
    sql("GRANT SELECT ON stale_db.t TO 'eve'@'127.0.0.1' WITH GRANT OPTION;");
    sql("GRANT SELECT (c) ON stale_db.t TO 'eve'@'127.0.0.1';");
    sql("GRANT EXECUTE ON PROCEDURE stale_db.p TO 'eve'@'127.0.0.1' WITH GRANT OPTION;");
    sql("GRANT INSERT ON `stale\\_db`.* TO 'eve'@'127.0.0.1' WITH GRANT OPTION;");
    sql("CREATE ROLE stale_reader;");
    sql("GRANT SELECT ON `stale\\_db`.* TO stale_reader;");
    // And on names like it, none of them a leftover of stale_db: other
    // case, a longer name, a table of Stale_db, and the unescaped pattern
    // and a wildcard, which someone set to cover names like it.
    engine->createDatabaseUser(profile.id, "bystander", "by pw", "shop_db", DatabaseAccess::none);
    engine->createDatabase(profile.id, "Stale_db", false);
    sql("CREATE TABLE Stale_db.t (i INT);");
    for (const char* schema : {"Stale\\_db", "stale\\_db2", "stale_db", "stale\\_%"})
        sql(std::string("GRANT SELECT ON `") + schema + "`.* TO 'bystander'@'127.0.0.1';");
    sql("GRANT SELECT ON Stale_db.t TO 'bystander'@'127.0.0.1';");
    const std::string bystanderBefore = bystander();
    // (The engine's SQL runner prints a backslash doubled.)
    EXPECT_EQ(bystanderBefore,
              "Stale\\\\_db Y\nStale_db.t\nstale\\\\_% Y\nstale\\\\_db2 Y\nstale_db Y\n");

    // dave drops it from his own client, as the level allows.
    const CommandResult dropped = login("dave", "dave pw", "DROP DATABASE stale_db;");
    ASSERT_EQ(dropped.status, 0) << dropped.output;
    ASSERT_FALSE(hasDatabase(snapshot(), "stale_db"));
    EXPECT_EQ(storedForStale(), "column eve@127.0.0.1\ndb dave@127.0.0.1\ndb dora@127.0.0.1\n"
                                "db eve@127.0.0.1\ndb stale_reader@\nroutine eve@127.0.0.1\n"
                                "table eve@127.0.0.1\n");
    // The leftover grant opens nothing: dave is still the window's own user.
    const DatabaseAdminSnapshot afterDrop = snapshot();
    const DatabaseAccount* dave = find(afterDrop, "dave@127.0.0.1");
    ASSERT_NE(dave, nullptr);
    EXPECT_TRUE(dave->canEdit);
    EXPECT_TRUE(dave->privileges.empty());
    // Only leftovers of the window's own grant: dora can be deleted now.
    EXPECT_EQ(
        thrownMessage([&] { engine->deleteDatabaseUser(profile.id, "dora", applicationHost); }),
        "");
    EXPECT_EQ(find(snapshot(), "dora@127.0.0.1"), nullptr);

    // A row whose account is gone, as a hand edit of the privilege tables
    // leaves it: it opens nothing, and REVOKE would refuse it.
    sql("INSERT INTO mysql.db (Host,Db,User,Select_priv) VALUES "
        "('127.0.0.1','stale\\_db','ghost','Y');");
    sql("FLUSH PRIVILEGES;");

    // Created again without application access: nobody holds anything on it.
    engine->createDatabase(profile.id, "stale_db", false);
    EXPECT_EQ(storedForStale(), "db ghost@127.0.0.1\n");
    EXPECT_EQ(access("dave", "stale_db"), DatabaseAccess::none);
    EXPECT_EQ(access("vessora", "stale_db"), DatabaseAccess::none);
    EXPECT_THAT(login("dave", "dave pw", "USE stale_db").output,
                ::testing::HasSubstr("ERROR 1044"));
    EXPECT_THAT(login("eve", "eve pw", "USE stale_db").output, ::testing::HasSubstr("ERROR 1044"));
    // What was granted on the similar names is all still there.
    EXPECT_EQ(bystander(), bystanderBefore);
    engine->deleteDatabaseUser(profile.id, "dave", applicationHost);
    expectNoLogin("dave", "dave pw");

    // The application account: notes_db with its access, dropped by the
    // application, made again without it.
    const std::string password = engine->databaseCredentials(profile.id).password;
    engine->createDatabase(profile.id, "notes_db", true);
    EXPECT_EQ(access("vessora", "notes_db"), DatabaseAccess::admin);
    const CommandResult appDropped = login("vessora", password, "DROP DATABASE notes_db;");
    ASSERT_EQ(appDropped.status, 0) << appDropped.output;
    const DatabaseAdminSnapshot afterAppDrop = snapshot();
    ASSERT_FALSE(hasDatabase(afterAppDrop, "notes_db"));
    const DatabaseAccount* application = find(afterAppDrop, "vessora@127.0.0.1");
    ASSERT_NE(application, nullptr);
    EXPECT_TRUE(application->canEdit);
    engine->createDatabase(profile.id, "notes_db", false);
    EXPECT_EQ(access("vessora", "notes_db"), DatabaseAccess::none);
    EXPECT_THAT(login("vessora", password, "USE notes_db").output,
                ::testing::HasSubstr("ERROR 1044"));
    EXPECT_EQ(sql("SELECT COUNT(*) FROM mysql.db WHERE BINARY Db='notes\\_db';"), "0\n");
    // Its own database keeps the access the start gave it.
    EXPECT_EQ(access("vessora", "shop_db"), DatabaseAccess::admin);

    // An existing database is refused before any of its grants is touched.
    engine->setDatabaseAccess(profile.id, "eve", applicationHost,
                              {{"stale_db", {}, DatabaseAccess::readOnly}});
    EXPECT_THAT(thrownMessage([&] { engine->createDatabase(profile.id, "stale_db", false); }),
                StartsWith("Database operation failed (ERROR 1007 (HY000))."));
    EXPECT_EQ(access("eve", "stale_db"), DatabaseAccess::readOnly);
}

TEST_F(DatabaseAdministrationIntegrationTests, NamesThatDifferOnlyInCaseCountTheirOwnTables) {
    ASSERT_TRUE(start());
    engine->createDatabase(profile.id, "Case_db", false);
    engine->createDatabase(profile.id, "case_db", false);
    const auto counts = [&] {
        std::map<std::string, std::int64_t> result;
        for (const ManagedDatabase& database : snapshot().databases)
            result[database.name] = database.tableCount;
        return result;
    };
    const auto sql = [&](const std::string& statement) {
        engine->executeSQL(profile.id, statement);
    };
    // Tables in the one listed second, then in the one listed first.
    sql("CREATE TABLE case_db.a (i INT);");
    sql("CREATE TABLE case_db.b (i INT);");
    std::map<std::string, std::int64_t> seen = counts();
    EXPECT_EQ(seen["Case_db"], 0);
    EXPECT_EQ(seen["case_db"], 2);
    sql("DROP TABLE case_db.a, case_db.b;");
    sql("CREATE TABLE Case_db.a (i INT);");
    sql("CREATE TABLE Case_db.b (i INT);");
    sql("CREATE VIEW Case_db.v AS SELECT 1 AS one;");
    seen = counts();
    EXPECT_EQ(seen["Case_db"], 3);
    EXPECT_EQ(seen["case_db"], 0);
    EXPECT_EQ(seen["shop_db"], 0);
}

TEST_F(DatabaseAdministrationIntegrationTests, PasswordsLogInAsWrittenAndTheBusyFlagHolds) {
    ASSERT_TRUE(start());
    const DatabaseCredentials generated = engine->databaseCredentials(profile.id);
    expectLogin("vessora", generated.password);

    engine->createDatabaseUser(profile.id, "pw_user", "first", "shop_db", DatabaseAccess::readOnly);
    expectLogin("pw_user", "first");
    std::string wide;
    while (wide.size() < 254)
        wide += "ü";
    wide += "'\\"; // 256 bytes
    ASSERT_EQ(wide.size(), 256u);
    std::string previous = "first";
    for (const std::string& password :
         {std::string("'"), std::string("\\"), std::string("\""), std::string("  spaced  "),
          std::string(R"(a'b\c"d`e)"), wide}) {
        engine->changeDatabaseUserPassword(profile.id, "pw_user", applicationHost, password);
        expectLogin("pw_user", password);
        expectNoLogin("pw_user", previous);
        previous = password;
    }
    EXPECT_THAT(thrownMessage([&] {
                    engine->changeDatabaseUserPassword(profile.id, "pw_user", applicationHost,
                                                       wide + "x");
                }),
                StartsWith("Use a nonempty database password"));
    expectLogin("pw_user", wide);

    // Another engine operation is waiting for the client: everything else,
    // the credentials included, is turned away and changes nothing.
    const DatabaseAdminSnapshot before = snapshot();
    auto sleeping = std::async(std::launch::async,
                               [&] { return engine->executeSQL(profile.id, "SELECT SLEEP(3);"); });
    for (int attempt = 0; attempt < 200 && !StackEngineTesting::busy(*engine); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(StackEngineTesting::busy(*engine));
    const std::vector<std::function<void()>> refused{
        [&] { engine->databaseAdminSnapshot(profile.id); },
        [&] { engine->createDatabase(profile.id, "busy_db", true); },
        [&] {
            engine->createDatabaseUser(profile.id, "busy_user", "pw", "shop_db",
                                       DatabaseAccess::readOnly);
        },
        [&] {
            engine->setDatabaseAccess(profile.id, "pw_user", applicationHost,
                                      {{"shop_db", {"SELECT", "SHOW VIEW"}, DatabaseAccess::none}});
        },
        [&] { engine->changeDatabaseUserPassword(profile.id, "pw_user", applicationHost, "x"); },
        [&] { engine->deleteDatabaseUser(profile.id, "pw_user", applicationHost); },
        [&] { engine->executeSQL(profile.id, "CREATE DATABASE busy_db;"); },
        [&] { engine->databaseCredentials(profile.id); },
        [&] { engine->setDatabasePassword(profile.id, "x"); },
        [&] { engine->stop(profile.id); },
    };
    for (std::size_t index = 0; index < refused.size(); ++index)
        EXPECT_EQ(thrownMessage(refused[index]), busyText) << index;
    EXPECT_TRUE(StackEngineTesting::busy(*engine));
    EXPECT_EQ(sleeping.get(), "0\n");
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    EXPECT_EQ(snapshot(), before);
    expectLogin("pw_user", wide);

    // The stored application password waits for the next start.
    const std::string stored = R"( new'pass\"word )" + wide.substr(0, 200);
    EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword(profile.id, stored); }),
              "Stop the environment before changing its settings.");
    engine->stop(profile.id);
    engine->setDatabasePassword(profile.id, stored);
    ASSERT_TRUE(start());
    expectLogin("vessora", stored);
    expectNoLogin("vessora", generated.password);
    EXPECT_EQ(engine->databaseCredentials(profile.id).password, stored);
    // Accounts made through the engine survive the restart.
    expectLogin("pw_user", wide);
    expectNoPasswordInLogs({generated.password, stored, wide, R"(a'b\c"d`e)", "  spaced  "});
}

} // namespace
} // namespace vessora
