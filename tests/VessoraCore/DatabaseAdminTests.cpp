// The administration commands: the exact client call, the statements each
// command sends, and the checks that stop a command before any statement.
#include "VessoraCore/Database/DatabaseAdmin.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <deque>
#include <string>
#include <vector>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using Privileges = std::set<std::string>;

const std::string preamble = "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';\n";
const std::string refresh = "Refresh to review the current state. No existing data was deleted.";
const std::string protectedAccount =
    "This account is protected or has advanced privileges. Manage it in phpMyAdmin.";

std::string line(const nlohmann::json& object) {
    return object.dump() + "\n";
}

std::string grants(const std::string& grantee, const std::string& schema,
                   const std::vector<std::string>& privileges) {
    std::string text;
    for (const std::string& privilege : privileges)
        text += line({{"kind", "grant"},
                      {"grantee", grantee},
                      {"database", schema},
                      {"privilege", privilege},
                      {"grantable", 0}});
    return text;
}

// Answers each client call with the next canned result and keeps what it
// was asked.
class FakeClient {
public:
    struct Call {
        fs::path executable;
        std::vector<std::string> arguments;
        CommandOptions options;
        // The SQL without the session preamble.
        std::string sql() const {
            const std::string& input = options.input.value_or("");
            return input.starts_with(preamble) ? input.substr(preamble.size()) : "<no preamble>";
        }
    };

    void answer(std::string output, int status = 0, bool truncated = false) {
        answers_.push_back(CommandResult{status, std::move(output), truncated});
    }
    DatabaseAdmin::Runner runner() {
        return [this](const fs::path& executable, const std::vector<std::string>& arguments,
                      const CommandOptions& options) {
            calls.push_back({executable, arguments, options});
            if (answers_.empty())
                return CommandResult{0, ""};
            CommandResult result = answers_.front();
            answers_.pop_front();
            return result;
        };
    }
    std::vector<std::string> statements() const {
        std::vector<std::string> result;
        for (const Call& call : calls)
            result.push_back(call.sql());
        return result;
    }

    std::vector<Call> calls;

private:
    std::deque<CommandResult> answers_;
};

class DatabaseAdminTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        profile.id = "env-1";
        profile.databaseName = "shop_db";
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    DatabaseAdmin admin() {
        return DatabaseAdmin(profile, "/brew/opt/mariadb", "/tmp/sockets/env-1.sock", "dev",
                             client.runner());
    }

    // shop_db and blog; the application account with all privileges on its
    // database, "reader" with read-only on blog, "plain" without grants and
    // the login user's own account.
    std::string inventory(const std::string& extra = "") {
        return line({{"kind", "database"}, {"name", "blog"}, {"tables", 1}}) +
               line({{"kind", "database"}, {"name", "shop_db"}, {"tables", 4}}) +
               line({{"kind", "user"}, {"name", "dev"}, {"host", "localhost"}}) +
               line({{"kind", "user"}, {"name", "plain"}, {"host", "127.0.0.1"}}) +
               line({{"kind", "user"}, {"name", "reader"}, {"host", "127.0.0.1"}}) +
               line({{"kind", "user"}, {"name", "vessora"}, {"host", "127.0.0.1"}}) +
               grants("'vessora'@'127.0.0.1'", "shop\\_db",
                      {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "INDEX",
                       "CREATE VIEW", "SHOW VIEW", "TRIGGER", "EVENT", "EXECUTE", "CREATE ROUTINE",
                       "ALTER ROUTINE", "CREATE TEMPORARY TABLES", "LOCK TABLES", "REFERENCES"}) +
               grants("'reader'@'127.0.0.1'", "blog", {"SELECT", "SHOW VIEW"}) + extra;
    }

    StackProfile profile;
    FakeClient client;
};

TEST_F(DatabaseAdminTest, ClientCallIsExact) {
    client.answer(inventory());
    const DatabaseAdminSnapshot snapshot = admin().snapshot();
    EXPECT_EQ(snapshot.databases.size(), 2u);
    ASSERT_EQ(client.calls.size(), 1u);
    const FakeClient::Call& call = client.calls[0];
    EXPECT_EQ(call.executable, "/brew/opt/mariadb/bin/mariadb");
    EXPECT_EQ(call.arguments,
              (std::vector<std::string>{"--no-defaults", "--protocol=socket",
                                        "--socket=/tmp/sockets/env-1.sock", "--user=dev",
                                        "--default-character-set=utf8mb4", "--connect-timeout=2",
                                        "--batch", "--raw", "--skip-column-names"}));
    EXPECT_EQ(call.options.input, preamble + DatabaseAdmin::inventoryQuery());
    EXPECT_EQ(call.options.timeout, 15);
    EXPECT_EQ(call.options.outputLimit, 4194304u);
    EXPECT_FALSE(call.options.log.has_value());
    EXPECT_FALSE(call.options.inputFile.has_value());
    EXPECT_TRUE(call.options.environment.empty());
}

TEST_F(DatabaseAdminTest, FailuresNameTheServerErrorOrTheStatus) {
    client.answer("");
    client.answer("ERROR 1007 (HY000) at line 2: Can't create database 'blog'; database exists\n",
                  1);
    EXPECT_EQ(thrownMessage([&] { admin().createDatabase("blog", true); }),
              "Database operation failed (ERROR 1007 (HY000)). " + refresh);
    EXPECT_EQ(client.calls.size(), 2u);

    client.answer("ERROR 2002 at line 1: Can't connect\n", 1);
    EXPECT_EQ(thrownMessage([&] { admin().snapshot(); }),
              "Database operation failed (ERROR 2002). " + refresh);
    client.answer("mariadb: unknown option\n", 7);
    EXPECT_EQ(thrownMessage([&] { admin().snapshot(); }),
              "Database operation failed (7). " + refresh);

    // The runner's own errors (a time-out) pass through unchanged.
    DatabaseAdmin timingOut(profile, "/p", "/s", "dev",
                            [](const fs::path&, const std::vector<std::string>&,
                               const CommandOptions&) -> CommandResult {
                                throw VessoraError("Timed out: mariadb. Log: /tmp/x");
                            });
    EXPECT_EQ(thrownMessage([&] { timingOut.snapshot(); }), "Timed out: mariadb. Log: /tmp/x");
}

TEST_F(DatabaseAdminTest, ACutInventoryIsRefusedAndNothingRuns) {
    // What the end of a cut answer holds still decodes: it must not be used.
    client.answer(inventory(), 0, /*truncated=*/true);
    const std::string refused =
        "The database inventory is larger than 4 MiB and cannot be read completely. No changes "
        "were made.";
    EXPECT_EQ(thrownMessage([&] { admin().snapshot(); }), refused);
    client.answer(inventory(), 0, true);
    EXPECT_EQ(thrownMessage([&] { admin().deleteUser("plain", "127.0.0.1"); }), refused);
    // A cut list of a dropped database's grants would leave some in place.
    client.answer(line({{"name", "dave"}, {"host", "127.0.0.1"}, {"grant", 0}}), 0, true);
    EXPECT_EQ(thrownMessage([&] { admin().createDatabase("old_db", false); }), refused);
    EXPECT_EQ(client.calls.size(), 3u);
}

TEST_F(DatabaseAdminTest, AClientAnswerOverTheLimitIsRefusedThroughTheRealRunner) {
    // A stand-in client that keeps its input and answers with 5 MiB of
    // well-formed inventory lines.
    TemporaryFolder folder{"vessora-client"};
    const fs::path bin = folder.path() / "bin";
    fs::create_directories(bin);
    const std::string row = R"({"kind":"user","name":"a","host":"127.0.0.1"})";
    PrivateFile::writeWithMode(bin / "mariadb",
                               "#!/bin/sh\ncat > \"" + (folder.path() / "input").string() +
                                   "\"\nyes '" + row + "' | head -c 5242880\n",
                               0700);
    const DatabaseAdmin real(profile, folder.path(), "/tmp/none.sock", "dev");
    EXPECT_EQ(thrownMessage([&] { real.snapshot(); }),
              "The database inventory is larger than 4 MiB and cannot be read completely. No "
              "changes were made.");
    EXPECT_EQ(PrivateFile::read(folder.path() / "input"),
              preamble + DatabaseAdmin::inventoryQuery());
}

TEST_F(DatabaseAdminTest, CreateDatabase) {
    admin().createDatabase("new_db", true);
    admin().createDatabase("plain-db", false);
    const std::vector<std::string> statements = client.statements();
    ASSERT_EQ(statements.size(), 4u);
    // The stored grants are looked up first; creation and grant go in one run.
    EXPECT_THAT(statements[0],
                ::testing::HasSubstr("FROM mysql.db p WHERE BINARY p.Db='new\\_db' "));
    EXPECT_EQ(statements[1], "CREATE DATABASE `new_db` CHARACTER SET utf8mb4;\n"
                             "GRANT ALL PRIVILEGES ON `new\\_db`.* TO 'vessora'@'127.0.0.1';");
    EXPECT_THAT(statements[2],
                ::testing::HasSubstr("FROM mysql.db p WHERE BINARY p.Db='plain-db' "));
    EXPECT_EQ(statements[3], "CREATE DATABASE `plain-db` CHARACTER SET utf8mb4;");

    const std::string nameRule = "Use 1–64 letters, numbers, underscores or hyphens for the "
                                 "database name. Start with a letter or underscore. System "
                                 "names are reserved.";
    for (const char* bad :
         {"a`b", "sys", "VESSORA_INTERNAL", "1db", "", "a b", "stale%db", "a\\_b"})
        EXPECT_EQ(thrownMessage([&] { admin().createDatabase(bad, true); }), nameRule) << bad;
    EXPECT_EQ(client.calls.size(), 4u);
}

TEST_F(DatabaseAdminTest, CreateDatabaseRevokesTheGrantsADroppedOneLeft) {
    // What the server kept for old_db: database-level rows (one with the
    // grant option, one of a role), a table row and a routine row, from
    // names that need quoting.
    client.answer(line({{"name", "dave"}, {"host", "127.0.0.1"}, {"grant", 0}}) + "\n" +
                  line({{"name", "o'neil"}, {"host", "%"}, {"grant", 1}}) +
                  line({{"name", "PUBLIC"}, {"host", ""}, {"grant", 0}}) +
                  line({{"name", "eve"}, {"host", "127.0.0.1"}, {"table", "t`x"}, {"grant", 1}}) +
                  line({{"name", "eve"},
                        {"host", "127.0.0.1"},
                        {"routine", "tally"},
                        {"type", "FUNCTION"},
                        {"grant", 0}}));
    admin().createDatabase("old_db", false);
    ASSERT_EQ(client.calls.size(), 2u);
    EXPECT_EQ(client.statements()[1],
              "CREATE DATABASE `old_db` CHARACTER SET utf8mb4;\n"
              "REVOKE ALL PRIVILEGES ON `old\\_db`.* FROM 'dave'@'127.0.0.1';\n"
              "REVOKE ALL PRIVILEGES ON `old\\_db`.* FROM 'o''neil'@'%';\n"
              "REVOKE GRANT OPTION ON `old\\_db`.* FROM 'o''neil'@'%';\n"
              "REVOKE ALL PRIVILEGES ON `old\\_db`.* FROM 'PUBLIC';\n"
              "REVOKE ALL PRIVILEGES ON `old_db`.`t``x` FROM 'eve'@'127.0.0.1';\n"
              "REVOKE GRANT OPTION ON `old_db`.`t``x` FROM 'eve'@'127.0.0.1';\n"
              "REVOKE ALL PRIVILEGES ON FUNCTION `old_db`.`tally` FROM 'eve'@'127.0.0.1';");

    // A failing statement leaves the database created: nothing is rolled back.
    client.answer("");
    client.answer("ERROR 1044 (42000) at line 2: Access denied\n", 1);
    EXPECT_THAT(thrownMessage([&] { admin().createDatabase("other", true); }),
                ::testing::StartsWith("Database operation failed (ERROR 1044 (42000))."));
    EXPECT_EQ(client.calls.size(), 4u);

    // An answer that is not the lookup's stops before the database is made.
    client.answer("not json\n");
    EXPECT_FALSE(thrownMessage([&] { admin().createDatabase("third", false); }).empty());
    EXPECT_EQ(client.calls.size(), 5u);
}

TEST_F(DatabaseAdminTest, CreateUser) {
    client.answer(inventory());
    admin().createUser("shop_user", R"( it's a \"pass\" )", "shop_db", DatabaseAccess::readWrite);
    EXPECT_EQ(client.statements(),
              (std::vector<std::string>{
                  DatabaseAdmin::inventoryQuery(),
                  R"(CREATE USER 'shop_user'@'127.0.0.1' IDENTIFIED BY ' it''s a \"pass\" ';)",
                  "GRANT DELETE, EXECUTE, INSERT, SELECT, SHOW VIEW, UPDATE ON `shop\\_db`.* TO "
                  "'shop_user'@'127.0.0.1';"}));

    client.calls.clear();
    client.answer(inventory());
    admin().createUser("viewer", "pw", "blog", DatabaseAccess::readOnly);
    client.answer(inventory());
    admin().createUser("owner", "pw", "blog", DatabaseAccess::admin);
    client.answer(inventory());
    admin().createUser("nobody", "pw", "blog", DatabaseAccess::none);
    const std::vector<std::string> statements = client.statements();
    // No grant at all for an account without access.
    ASSERT_EQ(statements.size(), 8u);
    EXPECT_EQ(statements[2], "GRANT SELECT, SHOW VIEW ON `blog`.* TO 'viewer'@'127.0.0.1';");
    EXPECT_EQ(statements[5], "GRANT ALL PRIVILEGES ON `blog`.* TO 'owner'@'127.0.0.1';");
    EXPECT_EQ(statements[7], "CREATE USER 'nobody'@'127.0.0.1' IDENTIFIED BY 'pw';");
}

TEST_F(DatabaseAdminTest, CreateUserRefusals) {
    // Name and password are checked before the server is asked.
    for (const char* name : {"root", "DEV", "vessora", "o'neil", ""})
        EXPECT_THAT(thrownMessage(
                        [&] { admin().createUser(name, "pw", "blog", DatabaseAccess::readOnly); }),
                    ::testing::StartsWith("Use 1–80 letters"))
            << name;
    EXPECT_THAT(thrownMessage([&] {
                    admin().createUser("shop", std::string(257, 'a'), "blog",
                                       DatabaseAccess::readOnly);
                }),
                ::testing::StartsWith("Use a nonempty database password"));
    EXPECT_TRUE(client.calls.empty());

    client.answer(inventory());
    EXPECT_EQ(
        thrownMessage([&] { admin().createUser("shop", "pw", "gone", DatabaseAccess::readOnly); }),
        "The selected database no longer exists. Refresh the list.");
    client.answer(inventory());
    EXPECT_EQ(
        thrownMessage([&] { admin().createUser("shop", "pw", "blog", DatabaseAccess::custom); }),
        "Choose an access level.");
    EXPECT_EQ(client.statements(), (std::vector<std::string>{DatabaseAdmin::inventoryQuery(),
                                                             DatabaseAdmin::inventoryQuery()}));
}

TEST_F(DatabaseAdminTest, SetAccessRunsOnlyWhatTheChangeNeeds) {
    const std::string literal = "'reader'@'127.0.0.1'";
    client.answer(inventory());
    admin().setAccess("reader", "127.0.0.1", {});
    EXPECT_EQ(client.statements(), std::vector<std::string>{DatabaseAdmin::inventoryQuery()});

    client.calls.clear();
    client.answer(inventory());
    admin().setAccess("reader", "127.0.0.1",
                      {{"blog", {"SELECT", "SHOW VIEW"}, DatabaseAccess::none},
                       {"shop_db", {}, DatabaseAccess::readWrite}});
    EXPECT_EQ(client.statements(),
              (std::vector<std::string>{
                  DatabaseAdmin::inventoryQuery(),
                  "REVOKE ALL PRIVILEGES ON `blog`.* FROM " + literal + ";",
                  "GRANT DELETE, EXECUTE, INSERT, SELECT, SHOW VIEW, UPDATE ON `shop\\_db`.* "
                  "TO " +
                      literal + ";"}));

    client.calls.clear();
    client.answer(inventory());
    admin().setAccess("reader", "127.0.0.1",
                      {{"blog", {"SELECT", "SHOW VIEW"}, DatabaseAccess::admin}});
    EXPECT_EQ(client.statements(),
              (std::vector<std::string>{DatabaseAdmin::inventoryQuery(),
                                        "REVOKE ALL PRIVILEGES ON `blog`.* FROM " + literal + ";",
                                        "GRANT ALL PRIVILEGES ON `blog`.* TO " + literal + ";"}));

    // The application account's other databases are the user's to manage.
    client.calls.clear();
    client.answer(inventory());
    admin().setAccess("vessora", "127.0.0.1", {{"blog", {}, DatabaseAccess::readOnly}});
    EXPECT_EQ(client.statements().back(),
              "GRANT SELECT, SHOW VIEW ON `blog`.* TO 'vessora'@'127.0.0.1';");

    // The first failing statement ends the run; the earlier one stays.
    client.calls.clear();
    client.answer(inventory());
    client.answer("");
    client.answer("ERROR 1142 (42000) at line 2: denied\n", 1);
    EXPECT_THAT(thrownMessage([&] {
                    admin().setAccess("reader", "127.0.0.1",
                                      {{"blog", {"SELECT", "SHOW VIEW"}, DatabaseAccess::readWrite},
                                       {"shop_db", {}, DatabaseAccess::readOnly}});
                }),
                ::testing::StartsWith("Database operation failed (ERROR 1142 (42000))."));
    EXPECT_EQ(client.calls.size(), 3u);
}

TEST_F(DatabaseAdminTest, SetAccessChecksEveryChangeBeforeAnyStatement) {
    const Privileges readOnly{"SELECT", "SHOW VIEW"};
    const auto refused = [&](const std::string& user,
                             const std::vector<DatabaseAccessChange>& changes,
                             const std::string& extra = "") {
        client.calls.clear();
        client.answer(inventory(extra));
        const std::string error =
            thrownMessage([&] { admin().setAccess(user, "127.0.0.1", changes); });
        EXPECT_EQ(client.statements(), std::vector<std::string>{DatabaseAdmin::inventoryQuery()})
            << error;
        return error;
    };
    // A valid first change does not run while a later one is refused.
    EXPECT_EQ(refused("reader", {{"shop_db", {}, DatabaseAccess::readOnly},
                                 {"gone", {}, DatabaseAccess::readOnly}}),
              "The selected database no longer exists. Refresh the list.");
    EXPECT_THAT(refused("reader", {{"bad`name", {}, DatabaseAccess::readOnly}}),
                ::testing::StartsWith("Use 1–64 letters"));
    EXPECT_EQ(refused("reader", {{"blog", readOnly, DatabaseAccess::none},
                                 {"blog", readOnly, DatabaseAccess::admin}}),
              "Choose one access level per database.");
    const std::string managed =
        "The application account’s primary database access is managed by Vessora.";
    EXPECT_EQ(refused("reader", {{"blog", readOnly, DatabaseAccess::custom}}), managed);
    EXPECT_EQ(refused("vessora", {{"shop_db", {}, DatabaseAccess::readOnly}}), managed);
    // Another client added INSERT after the window loaded the account.
    EXPECT_EQ(refused("reader", {{"blog", readOnly, DatabaseAccess::readWrite}},
                      grants("'reader'@'127.0.0.1'", "blog", {"INSERT"})),
              "Permissions changed in another client. Refresh and review them before saving.");
    EXPECT_EQ(refused("reader", {{"shop_db", readOnly, DatabaseAccess::none}}),
              "Permissions changed in another client. Refresh and review them before saving.");
    for (const char* user : {"dev", "missing"})
        EXPECT_EQ(refused(user, {}), protectedAccount) << user;
    EXPECT_EQ(
        refused("reader", {}, line({{"kind", "advanced"}, {"grantee", "'reader'@'127.0.0.1'"}})),
        protectedAccount);
}

TEST_F(DatabaseAdminTest, ChangePasswordAndDeleteUser) {
    client.answer(inventory());
    admin().changePassword("plain", "127.0.0.1", R"(a\'b)");
    client.answer(inventory());
    admin().deleteUser("plain", "127.0.0.1");
    EXPECT_EQ(client.statements(),
              (std::vector<std::string>{DatabaseAdmin::inventoryQuery(),
                                        R"(ALTER USER 'plain'@'127.0.0.1' IDENTIFIED BY 'a\''b';)",
                                        DatabaseAdmin::inventoryQuery(),
                                        "DROP USER 'plain'@'127.0.0.1';"}));

    client.calls.clear();
    EXPECT_THAT(thrownMessage([&] { admin().changePassword("plain", "127.0.0.1", "a\nb"); }),
                ::testing::StartsWith("Use a nonempty database password"));
    EXPECT_TRUE(client.calls.empty());
    client.answer(inventory());
    EXPECT_EQ(thrownMessage([&] { admin().changePassword("vessora", "127.0.0.1", "pw"); }),
              "Use DB credentials to change the application account’s password.");
    client.answer(inventory());
    EXPECT_EQ(thrownMessage([&] { admin().deleteUser("vessora", "127.0.0.1"); }),
              "Built-in accounts cannot be removed.");
    client.answer(inventory());
    EXPECT_EQ(thrownMessage([&] { admin().changePassword("dev", "localhost", "pw"); }),
              protectedAccount);
    client.answer(inventory());
    EXPECT_EQ(thrownMessage([&] { admin().deleteUser("reader", "localhost"); }), protectedAccount);
    EXPECT_EQ(client.statements(), std::vector<std::string>(4, DatabaseAdmin::inventoryQuery()));
}

} // namespace
} // namespace vessora
