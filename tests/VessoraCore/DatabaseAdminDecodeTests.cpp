// The inventory's output as a snapshot: databases, accounts, access levels
// and which accounts the system may change.
#include "VessoraCore/Database/DatabaseAdmin.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

namespace vessora {
namespace {

using Privileges = std::set<std::string>;

std::string line(const nlohmann::json& object) {
    return object.dump() + "\n";
}

std::string database(const std::string& name, int tables = 0) {
    return line({{"kind", "database"},
                 {"name", name},
                 {"collation", "utf8mb4_general_ci"},
                 {"tables", tables}});
}

std::string user(const std::string& name, const std::string& host = "127.0.0.1") {
    return line({{"kind", "user"}, {"name", name}, {"host", host}});
}

std::string grants(const std::string& grantee, const std::string& schema,
                   const std::vector<std::string>& privileges, int grantable = 0) {
    std::string text;
    for (const std::string& privilege : privileges)
        text += line({{"kind", "grant"},
                      {"grantee", grantee},
                      {"database", schema},
                      {"privilege", privilege},
                      {"grantable", grantable}});
    return text;
}

const std::vector<std::string> adminNames{
    "SELECT",      "INSERT",         "UPDATE",        "DELETE",
    "CREATE",      "DROP",           "ALTER",         "INDEX",
    "CREATE VIEW", "SHOW VIEW",      "TRIGGER",       "EVENT",
    "EXECUTE",     "CREATE ROUTINE", "ALTER ROUTINE", "CREATE TEMPORARY TABLES",
    "LOCK TABLES", "REFERENCES",     "DELETE HISTORY"};

class DatabaseAdminDecodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        profile.databaseName = "shop_db";
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    DatabaseAdminSnapshot decode(const std::string& output) {
        return DatabaseAdmin::decode(output, profile, "dev");
    }
    static const DatabaseAccount& account(const DatabaseAdminSnapshot& snapshot,
                                          const std::string& id) {
        for (const DatabaseAccount& item : snapshot.users)
            if (item.id() == id)
                return item;
        throw std::runtime_error("no account " + id);
    }

    StackProfile profile;
};

TEST_F(DatabaseAdminDecodeTest, EveryLevelAndTheApplicationAccount) {
    const std::string output =
        database("blog", 2) + database("shop_db", 5) + user("app") + user("editor") +
        user("reader") + user("vessora") + user("writer") +
        grants("'vessora'@'127.0.0.1'", "shop\\_db", adminNames) +
        grants("'reader'@'127.0.0.1'", "shop\\_db", {"SELECT", "SHOW VIEW"}) +
        grants("'reader'@'127.0.0.1'", "blog", {"SELECT"}) +
        grants("'writer'@'127.0.0.1'", "blog",
               {"SELECT", "SHOW VIEW", "INSERT", "UPDATE", "DELETE", "EXECUTE"}) +
        grants("'editor'@'127.0.0.1'", "blog",
               {"SELECT", "SHOW VIEW", "INSERT", "UPDATE", "DELETE", "EXECUTE", "INDEX"});
    const DatabaseAdminSnapshot snapshot = decode(output);

    ASSERT_EQ(snapshot.databases.size(), 2u);
    EXPECT_EQ(snapshot.databases[0], (ManagedDatabase{"blog", 2, "utf8mb4_general_ci", false}));
    EXPECT_EQ(snapshot.databases[1], (ManagedDatabase{"shop_db", 5, "utf8mb4_general_ci", true}));

    ASSERT_EQ(snapshot.users.size(), 5u);
    std::vector<std::string> order;
    for (const DatabaseAccount& item : snapshot.users)
        order.push_back(item.id());
    EXPECT_EQ(order,
              (std::vector<std::string>{"app@127.0.0.1", "editor@127.0.0.1", "reader@127.0.0.1",
                                        "vessora@127.0.0.1", "writer@127.0.0.1"}));

    const DatabaseAccount& application = account(snapshot, "vessora@127.0.0.1");
    EXPECT_TRUE(application.isApplication);
    EXPECT_TRUE(application.canEdit); // although "vessora" is a reserved name
    EXPECT_EQ(application.access("shop_db"), DatabaseAccess::admin);
    EXPECT_FALSE(application.canChangePassword());

    const DatabaseAccount& reader = account(snapshot, "reader@127.0.0.1");
    EXPECT_EQ(reader.access("shop_db"), DatabaseAccess::readOnly);
    EXPECT_EQ(reader.access("blog"), DatabaseAccess::custom);
    EXPECT_EQ(reader.privileges.at("blog"), Privileges{"SELECT"});
    EXPECT_EQ(account(snapshot, "writer@127.0.0.1").access("blog"), DatabaseAccess::readWrite);
    EXPECT_EQ(account(snapshot, "editor@127.0.0.1").access("blog"), DatabaseAccess::custom);
    const DatabaseAccount& app = account(snapshot, "app@127.0.0.1");
    EXPECT_EQ(app.access("blog"), DatabaseAccess::none);
    EXPECT_TRUE(app.privileges.empty());
    for (const DatabaseAccount& item : snapshot.users)
        EXPECT_TRUE(item.canEdit) << item.id();
}

TEST_F(DatabaseAdminDecodeTest, UnderscoreGrantsCountOnlyWhenEscaped) {
    const std::string output =
        database("shop_db") + user("escaped") + user("plain") +
        grants("'escaped'@'127.0.0.1'", "shop\\_db", {"SELECT", "SHOW VIEW"}) +
        grants("'plain'@'127.0.0.1'", "shop_db", {"SELECT", "SHOW VIEW"});
    const DatabaseAdminSnapshot snapshot = decode(output);
    const DatabaseAccount& escaped = account(snapshot, "escaped@127.0.0.1");
    EXPECT_TRUE(escaped.canEdit);
    EXPECT_EQ(escaped.access("shop_db"), DatabaseAccess::readOnly);
    // Unescaped, the grant is a pattern that also matches shopXdb.
    const DatabaseAccount& plain = account(snapshot, "plain@127.0.0.1");
    EXPECT_FALSE(plain.canEdit);
    EXPECT_TRUE(plain.privileges.empty());
}

TEST_F(DatabaseAdminDecodeTest, GrantsLeftByADroppedDatabaseOpenNothing) {
    // MariaDB keeps old_db's grants after DROP DATABASE. Only the exact,
    // escaped name of a database the rule accepts is such a leftover; a
    // pattern that matches names, one that still could and a system schema
    // protect the account as before.
    const std::string output = database("shop_db") + user("gone") + user("gone_plain") +
                               user("dashed") + user("both") + user("option") + user("pattern") +
                               user("wildcard") + user("system") + user("digit") + user("stray") +
                               grants("'gone'@'127.0.0.1'", "old\\_db", adminNames) +
                               grants("'gone_plain'@'127.0.0.1'", "olddb", {"SELECT"}) +
                               grants("'dashed'@'127.0.0.1'", "old-db", {"SELECT"}) +
                               grants("'both'@'127.0.0.1'", "Shop\\_db", {"SELECT"}) +
                               grants("'both'@'127.0.0.1'", "shop\\_db", {"SELECT", "SHOW VIEW"}) +
                               grants("'option'@'127.0.0.1'", "old\\_db", {"SELECT"}, 1) +
                               grants("'pattern'@'127.0.0.1'", "old_db", {"SELECT"}) +
                               grants("'wildcard'@'127.0.0.1'", "old\\_%", {"SELECT"}) +
                               grants("'system'@'127.0.0.1'", "vessora\\_internal", {"SELECT"}) +
                               grants("'digit'@'127.0.0.1'", "1old", {"SELECT"}) +
                               grants("'stray'@'127.0.0.1'", "old\\db", {"SELECT"});
    const DatabaseAdminSnapshot snapshot = decode(output);
    for (const char* id : {"gone@127.0.0.1", "gone_plain@127.0.0.1", "dashed@127.0.0.1"}) {
        EXPECT_TRUE(account(snapshot, id).canEdit) << id;
        EXPECT_TRUE(account(snapshot, id).privileges.empty()) << id;
    }
    const DatabaseAccount& both = account(snapshot, "both@127.0.0.1");
    EXPECT_TRUE(both.canEdit);
    EXPECT_EQ(both.privileges,
              (std::map<std::string, Privileges>{{"shop_db", Privileges{"SELECT", "SHOW VIEW"}}}));
    for (const char* id : {"option@127.0.0.1", "pattern@127.0.0.1", "wildcard@127.0.0.1",
                           "system@127.0.0.1", "digit@127.0.0.1", "stray@127.0.0.1"}) {
        EXPECT_FALSE(account(snapshot, id).canEdit) << id;
        EXPECT_TRUE(account(snapshot, id).privileges.empty()) << id;
    }
}

TEST_F(DatabaseAdminDecodeTest, GrantsTheSystemDoesNotManageProtectTheAccount) {
    const std::string output =
        database("1shop", 3) + database("shop_db") + user("digit") + user("pattern") +
        user("option") + user("global") + user("plugin") + user("table") + user("role") +
        grants("'digit'@'127.0.0.1'", "1shop", {"SELECT"}) +
        grants("'pattern'@'127.0.0.1'", "shop%", {"SELECT"}) +
        grants("'option'@'127.0.0.1'", "shop\\_db", {"SELECT", "SHOW VIEW"}, 1) +
        line({{"kind", "advanced"}, {"grantee", "'global'@'127.0.0.1'"}}) +
        line({{"kind", "advanced"}, {"name", "plugin"}, {"host", "127.0.0.1"}}) +
        line({{"kind", "advanced"}, {"grantee", "'table'@'127.0.0.1'"}}) +
        line({{"kind", "advanced"}, {"name", "role"}}) + // no host: names nobody
        line({{"kind", "advanced"}});
    const DatabaseAdminSnapshot snapshot = decode(output);

    ASSERT_EQ(snapshot.databases.size(), 2u);
    EXPECT_EQ(snapshot.databases[0].name, "1shop");
    EXPECT_FALSE(snapshot.databases[0].supportsNativeManagement());
    EXPECT_EQ(snapshot.databases[0].tableCount, 3);

    for (const char* id : {"digit@127.0.0.1", "pattern@127.0.0.1", "option@127.0.0.1",
                           "global@127.0.0.1", "plugin@127.0.0.1", "table@127.0.0.1"})
        EXPECT_FALSE(account(snapshot, id).canEdit) << id;
    EXPECT_TRUE(account(snapshot, "role@127.0.0.1").canEdit);
    EXPECT_TRUE(account(snapshot, "digit@127.0.0.1").privileges.empty());
    // A grant with the grant option protects the account but still shows.
    EXPECT_EQ(account(snapshot, "option@127.0.0.1").access("shop_db"), DatabaseAccess::readOnly);
}

TEST_F(DatabaseAdminDecodeTest, ReservedAndNonLocalAccountsAreProtected) {
    const std::string output = user("DEV") + user("Root") + user("mariadb.sys", "localhost") +
                               user("root", "localhost") + user("shop", "localhost") +
                               user("shop", "%") + user("vessora", "localhost") +
                               user("vessora_admin") + user("two words") + user("o'neil");
    const DatabaseAdminSnapshot snapshot = decode(output);
    ASSERT_EQ(snapshot.users.size(), 10u);
    for (const DatabaseAccount& item : snapshot.users)
        EXPECT_FALSE(item.canEdit) << item.id();
    EXPECT_FALSE(account(snapshot, "vessora@localhost").isApplication);
    EXPECT_EQ(account(snapshot, "o'neil@127.0.0.1").name, "o'neil");
}

TEST_F(DatabaseAdminDecodeTest, BlankLinesMissingKeysAndUnknownKinds) {
    const std::string output =
        "\n" + line({{"kind", "database"}, {"name", "shop_db"}, {"collation", nullptr}}) + "\n\n" +
        line({{"kind", "database"}}) + line({{"kind", "user"}, {"name", "nohost"}}) +
        line({{"kind", "role"}, {"name", "x"}, {"host", "127.0.0.1"}}) +
        line({{"kind", "user"},
              {"name", "shop"},
              {"host", "127.0.0.1"},
              {"extra", nlohmann::json::array({1, 2})}}) +
        line({{"kind", "grant"}, {"grantee", "'shop'@'127.0.0.1'"}, {"database", "shop\\_db"}}) +
        line({{"kind", "grant"}, {"database", "shop\\_db"}, {"privilege", "SELECT"}}) +
        line({{"kind", "grant"},
              {"grantee", "'shop'@'127.0.0.1'"},
              {"database", "shop\\_db"},
              {"privilege", "SELECT"}}); // no "grantable": not grantable
    const DatabaseAdminSnapshot snapshot =
        decode(output.substr(0, output.size() - 1)); // no line feed after the last
    ASSERT_EQ(snapshot.databases.size(), 1u);
    EXPECT_EQ(snapshot.databases[0], (ManagedDatabase{"shop_db", 0, "", true}));
    ASSERT_EQ(snapshot.users.size(), 1u);
    EXPECT_TRUE(snapshot.users[0].canEdit);
    EXPECT_EQ(snapshot.users[0].privileges.at("shop_db"), Privileges{"SELECT"});
    EXPECT_EQ(decode(""), DatabaseAdminSnapshot{});
}

TEST_F(DatabaseAdminDecodeTest, OneMalformedLineFailsTheWholeSnapshot) {
    const std::string good = database("shop_db") + user("shop");
    for (const std::string& bad :
         {std::string("{\"kind\":\"user\",\"name\":\"cut"), std::string("not json"),
          std::string("[1,2]"), std::string("\"text\""), std::string("{\"name\":\"x\"}"),
          std::string("{\"kind\":null}"), std::string("{\"kind\":3}"),
          std::string("{\"kind\":\"database\",\"name\":\"x\",\"tables\":\"3\"}"),
          std::string("{\"kind\":\"database\",\"name\":\"x\",\"tables\":1.5}"),
          std::string("{\"kind\":\"grant\",\"grantable\":true}"),
          std::string("{\"kind\":\"user\",\"name\":[\"x\"]}"), std::string("   ")}) {
        const std::string error = thrownMessage([&] { decode(good + bad + "\n" + user("later")); });
        EXPECT_NE(error, "") << bad;
        EXPECT_THROW(decode(good + bad), JsonDecodingError) << bad;
    }
}

} // namespace
} // namespace vessora
