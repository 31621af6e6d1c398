// Access levels: their texts and the privilege sets they read from.
#include "VessoraCore/Database/DatabaseAccess.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vessora {
namespace {

using Privileges = std::set<std::string>;

const Privileges readOnly{"SELECT", "SHOW VIEW"};
const Privileges readWrite{"SELECT", "SHOW VIEW", "INSERT", "UPDATE", "DELETE", "EXECUTE"};
const Privileges admin{"SELECT",      "INSERT",         "UPDATE",        "DELETE",
                       "CREATE",      "DROP",           "ALTER",         "INDEX",
                       "CREATE VIEW", "SHOW VIEW",      "TRIGGER",       "EVENT",
                       "EXECUTE",     "CREATE ROUTINE", "ALTER ROUTINE", "CREATE TEMPORARY TABLES",
                       "LOCK TABLES", "REFERENCES"};

Privileges with(Privileges set, const std::string& extra) {
    set.insert(extra);
    return set;
}

Privileges without(Privileges set, const std::string& missing) {
    set.erase(missing);
    return set;
}

TEST(DatabaseAccessTest, RawValuesAreTheDisplayTextsAndParseExactly) {
    const std::vector<std::string> texts{"No access", "Read only", "Read & write", "Schema admin",
                                         "Custom (unchanged)"};
    ASSERT_EQ(DatabaseAccessLevels::allCases().size(), texts.size());
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const DatabaseAccess access = DatabaseAccessLevels::allCases()[index];
        EXPECT_EQ(rawValue(access), texts[index]);
        EXPECT_EQ(databaseAccess(texts[index]), access);
    }
    for (const char* text : {"read only", "Read Only", "", "Read & Write ", "admin", "none"})
        EXPECT_EQ(databaseAccess(text), std::nullopt) << text;
    EXPECT_EQ(DatabaseAccessLevels::assignable(),
              (std::vector<DatabaseAccess>{DatabaseAccess::none, DatabaseAccess::readOnly,
                                           DatabaseAccess::readWrite, DatabaseAccess::admin}));
}

TEST(DatabaseAccessTest, PrivilegeSetsMapToLevels) {
    using DatabaseAccessLevels::forPrivileges;
    EXPECT_EQ(forPrivileges({}), DatabaseAccess::none);
    EXPECT_EQ(forPrivileges(readOnly), DatabaseAccess::readOnly);
    EXPECT_EQ(forPrivileges({"SELECT"}), DatabaseAccess::custom);
    EXPECT_EQ(forPrivileges(with(readOnly, "INSERT")), DatabaseAccess::custom);
    EXPECT_EQ(forPrivileges(readWrite), DatabaseAccess::readWrite);
    EXPECT_EQ(forPrivileges(with(readWrite, "INDEX")), DatabaseAccess::custom);
    EXPECT_EQ(forPrivileges(admin), DatabaseAccess::admin);
    // Newer servers add privileges to ALL PRIVILEGES.
    EXPECT_EQ(forPrivileges(with(with(admin, "DELETE HISTORY"), "SHOW CREATE ROUTINE")),
              DatabaseAccess::admin);
    EXPECT_EQ(forPrivileges(without(admin, "REFERENCES")), DatabaseAccess::custom);
    // Names compare exactly, as the server reports them.
    EXPECT_EQ(forPrivileges({"select", "show view"}), DatabaseAccess::custom);
}

} // namespace
} // namespace vessora
