// The text rules of database administration: SQL quoting, the password rule
// and the account-name rules.
#include "VessoraCore/Database/DatabaseAccountName.hpp"
#include "VessoraCore/Database/DatabasePassword.hpp"
#include "VessoraCore/Database/SQLQuoting.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

const std::string passwordRule =
    "Use a nonempty database password of up to 256 UTF-8 bytes, without control characters.";
const std::string accountRule = "Use 1–80 letters, numbers, underscores or hyphens for the user "
                                "name. Start with a letter or underscore. Built-in names are "
                                "reserved.";

class DatabaseTextRulesTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
};

TEST(SQLQuotingTest, StringLiteralsDoubleOnlyTheSingleQuote) {
    EXPECT_EQ(SQLQuoting::stringLiteral(""), "''");
    EXPECT_EQ(SQLQuoting::stringLiteral("it's"), "'it''s'");
    EXPECT_EQ(SQLQuoting::stringLiteral("''"), "''''''");
    // The session runs with NO_BACKSLASH_ESCAPES: a backslash is plain text,
    // and so are double quotes and backticks inside a string.
    EXPECT_EQ(SQLQuoting::stringLiteral(R"(a\'b"c`)"), R"('a\''b"c`')");
    EXPECT_EQ(SQLQuoting::stringLiteral(" both ends "), "' both ends '");
}

TEST(SQLQuotingTest, AccountLiteralQuotesNameAndHostApart) {
    EXPECT_EQ(SQLQuoting::accountLiteral("vessora", "127.0.0.1"), "'vessora'@'127.0.0.1'");
    EXPECT_EQ(SQLQuoting::accountLiteral("o'neil", "local'host"), "'o''neil'@'local''host'");
    EXPECT_EQ(SQLQuoting::accountLiteral("a@b", "%"), "'a@b'@'%'");
}

TEST(SQLQuotingTest, IdentifiersAndGrantPatterns) {
    EXPECT_EQ(SQLQuoting::identifier("shop"), "`shop`");
    EXPECT_EQ(SQLQuoting::identifier("a`b"), "`a``b`");
    EXPECT_EQ(SQLQuoting::identifier("shop_db"), "`shop_db`");
    // In a grant "_" would match any character: shop_db must not reach shopXdb.
    EXPECT_EQ(SQLQuoting::grantPattern("shop_db"), "`shop\\_db`");
    EXPECT_EQ(SQLQuoting::grantPattern("__x"), "`\\_\\_x`");
    EXPECT_EQ(SQLQuoting::grantPattern("a`_b"), "`a``\\_b`");
    EXPECT_EQ(SQLQuoting::grantPattern("plain-name"), "`plain-name`");
    EXPECT_EQ(SQLQuoting::escapedSchema("shop_db"), "shop\\_db");
    EXPECT_EQ(SQLQuoting::escapedSchema("shop"), "shop");
}

TEST_F(DatabaseTextRulesTest, PasswordRuleCountsBytesAndRefusesControls) {
    for (const std::string& password :
         {std::string("x"), std::string(" spaced "), std::string(R"('\")"), std::string(256, 'a'),
          std::string("Grüße 東京 🙂")}) {
        EXPECT_TRUE(DatabasePassword::isValid(password)) << password;
        EXPECT_EQ(thrownMessage([&] { DatabasePassword::validate(password); }), "") << password;
    }
    // 86 three-byte letters: 258 bytes in 86 characters.
    std::string wide;
    for (int index = 0; index < 86; ++index)
        wide += "東";
    std::string exact;
    for (int index = 0; index < 128; ++index)
        exact += "ü";
    EXPECT_TRUE(DatabasePassword::isValid(exact)); // 256 bytes
    for (const std::string& password :
         {std::string(), std::string(257, 'a'), wide, std::string("tab\tin"),
          std::string("new\nline"), std::string("zero\xE2\x80\x8Bwidth"), std::string("bad\xFF")}) {
        EXPECT_FALSE(DatabasePassword::isValid(password)) << password;
        EXPECT_EQ(thrownMessage([&] { DatabasePassword::validate(password); }), passwordRule);
    }
}

TEST_F(DatabaseTextRulesTest, NewAccountNames) {
    for (const std::string& name :
         {std::string("a"), std::string("_"), std::string("shop-user_2"), std::string(80, 'x')}) {
        EXPECT_TRUE(DatabaseAccountName::matchesPattern(name)) << name;
        EXPECT_EQ(thrownMessage([&] { DatabaseAccountName::validateNew(name, "dev"); }), "");
    }
    for (const std::string& name :
         {std::string(), std::string(81, 'x'), std::string("two words"), std::string("-lead"),
          std::string("1digit"), std::string("o'neil"), std::string("ümlaut"),
          std::string("dot.name")}) {
        EXPECT_FALSE(DatabaseAccountName::matchesPattern(name)) << name;
        EXPECT_EQ(thrownMessage([&] { DatabaseAccountName::validateNew(name, "dev"); }),
                  accountRule)
            << name;
    }
}

TEST_F(DatabaseTextRulesTest, ReservedNamesCompareInLowerCase) {
    for (const char* name : {"root", "Root", "MYSQL", "mariadb.sys", "PUBLIC", "vessora",
                             "Vessora_Admin", "dev", "DEV"})
        EXPECT_TRUE(DatabaseAccountName::reserved(name, "Dev")) << name;
    for (const char* name : {"rooted", "vessora2", "developer", "admin"})
        EXPECT_FALSE(DatabaseAccountName::reserved(name, "Dev")) << name;
    EXPECT_TRUE(DatabaseAccountName::reserved("JÜRGEN", "jürgen"));
    // Reserved names fail like a bad pattern.
    EXPECT_EQ(thrownMessage([] { DatabaseAccountName::validateNew("ROOT", "dev"); }), accountRule);
    EXPECT_EQ(thrownMessage([] { DatabaseAccountName::validateNew("Dev", "dev"); }), accountRule);
}

} // namespace
} // namespace vessora
