// The per-statement rules of dump preparation: the leading tokens, what a
// statement's head decides, the text the client sends for it, and the
// DELIMITER command.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/SQLDumpClientText.hpp"
#include "VessoraCore/Import/SQLDumpDelimiter.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace vessora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Tokens = std::vector<std::string>;

// adapt() for a statement read whole.
std::optional<std::string> adapt(std::string_view text, SQLDump::Summary& summary,
                                 std::string_view database) {
    return SQLDumpStatement::adapt(text, false, summary, database);
}

const std::string kDrops =
    "The dump drops a database. Export a single application database without DROP DATABASE.";
const std::string kMultiple =
    "This dump selects multiple databases. Export one application database at a time.";
const std::string kEscapes = "Export SQL using the default string-escape mode before importing.";
const std::string kDelimiter = "The dump uses an unsupported SQL delimiter.";

class SQLDumpRulesTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
};

using SQLDumpTokensTest = SQLDumpRulesTest;

TEST_F(SQLDumpTokensTest, SplitsWordsAtBlanksParenthesesSemicolonsSlashesAndBackticks) {
    EXPECT_THAT(
        SQLDumpTokens::tokens("INSERT INTO`t`(a,b)VALUES(1,'x y');"),
        ElementsAre("INSERT", "INTO", "t", "(", "a,b", ")", "VALUES", "(", "1,'x", "y'", ")", ";"));
    EXPECT_THAT(SQLDumpTokens::tokens("a/b\t\x01"
                                      "c"),
                ElementsAre("a", "/", "b", "c"));
    // Quotes other than the backtick are word bytes and stay on the name.
    EXPECT_THAT(SQLDumpTokens::tokens("USE 'shop'"), ElementsAre("USE", "'shop'"));
    EXPECT_THAT(SQLDumpTokens::tokens("USE \"shop\";"), ElementsAre("USE", "\"shop\"", ";"));
}

TEST_F(SQLDumpTokensTest, BacktickNamesLoseTheirQuotesKeepDoubledBackticksAndMayRunToTheEnd) {
    EXPECT_THAT(SQLDumpTokens::tokens("`a``b` `we\\ird` ``"), ElementsAre("a`b", "we\\ird", ""));
    EXPECT_THAT(SQLDumpTokens::tokens("USE `sh op"), ElementsAre("USE", "sh op"));
    EXPECT_THAT(SQLDumpTokens::tokens("USE `"), ElementsAre("USE", ""));
}

TEST_F(SQLDumpTokensTest, SkipsLineAndBlockCommentsButNotTwoHyphensBeforeAWord) {
    EXPECT_THAT(SQLDumpTokens::tokens("# c\n-- c\n--\tc\n/* c */ USE /**/ x"),
                ElementsAre("USE", "x"));
    EXPECT_THAT(SQLDumpTokens::tokens("--x"), ElementsAre("--x"));
    EXPECT_THAT(SQLDumpTokens::tokens("-- no line feed left USE x"), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("USE x # rest"), ElementsAre("USE", "x"));
    // An unterminated block comment swallows the rest.
    EXPECT_THAT(SQLDumpTokens::tokens("SET /* USE x"), ElementsAre("SET"));
}

TEST_F(SQLDumpTokensTest, ExecutableCommentsOfBothFormsYieldTheirWordsAfterTheVersion) {
    EXPECT_THAT(SQLDumpTokens::tokens("/*!40101 SET NAMES utf8mb4 */"),
                ElementsAre("SET", "NAMES", "utf8mb4"));
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!100100 DROP DATABASE x */"),
                ElementsAre("DROP", "DATABASE", "x"));
    EXPECT_THAT(SQLDumpTokens::tokens("/*!DROP*/ /*M!SCHEMA*/"), ElementsAre("DROP", "SCHEMA"));
    EXPECT_THAT(SQLDumpTokens::tokens("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` "
                                      "/*!40100 DEFAULT CHARACTER SET utf8mb4 */"),
                ElementsAre("CREATE", "DATABASE", "IF", "NOT", "EXISTS", "shop", "DEFAULT",
                            "CHARACTER", "SET", "utf8mb4"));
    // "M" without the exclamation mark is a plain comment.
    EXPECT_THAT(SQLDumpTokens::tokens("/*M DROP */ x"), ElementsAre("x"));
    // Unterminated: the content lacks the input's last byte.
    EXPECT_THAT(SQLDumpTokens::tokens("/*!40101 SET xy"), ElementsAre("SET", "x"));
}

// No server runs version 99.99.99: the sandbox line reaches the server as
// such a comment once the client has taken its "\-" out.
TEST_F(SQLDumpTokensTest, AVersion999999CommentYieldsNothingButOtherVersionsDo) {
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!999999\\- enable the sandbox mode */ "), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!999999 enable the sandbox mode */ SET a=1"),
                ElementsAre("SET", "a=1"));
    EXPECT_THAT(SQLDumpTokens::tokens("/*!999999 \\- x */"), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!999999 USE x */"), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!9999990\\- x */"), ElementsAre("\\-", "x"));
    EXPECT_THAT(SQLDumpTokens::tokens("/*!99999 USE x */"), ElementsAre("USE", "x"));
}

// As the server reads them: "#" ends a word and opens a comment, and so
// does "--" before a blank or a control byte.
TEST_F(SQLDumpTokensTest, ACommentRightAfterAWordEndsIt) {
    EXPECT_THAT(SQLDumpTokens::tokens("DROP#x\nDATABASE y"), ElementsAre("DROP", "DATABASE", "y"));
    EXPECT_THAT(SQLDumpTokens::tokens("DROP--\x01x\nDATABASE y"),
                ElementsAre("DROP", "DATABASE", "y"));
    EXPECT_THAT(SQLDumpTokens::tokens("DROP--\x7F\nSCHEMA y"), ElementsAre("DROP", "SCHEMA", "y"));
    EXPECT_THAT(SQLDumpTokens::tokens("USE shop--"), ElementsAre("USE", "shop"));
    // Two hyphens before anything else are part of the word.
    EXPECT_THAT(SQLDumpTokens::tokens("a--b c--\xC3\xA9"), ElementsAre("a--b", "c--\xC3\xA9"));
}

TEST_F(SQLDumpTokensTest, StopsOnceTwelveAreHeldAndReplacesBytesThatAreNotUTF8) {
    EXPECT_EQ(SQLDumpTokens::tokens("a b c d e f g h i j k l m n o").size(), 12u);
    // An executable comment may push the count past twelve in one go.
    EXPECT_EQ(SQLDumpTokens::tokens("a b c d e f g h i j /*! k l m n */ o").size(), 14u);
    EXPECT_THAT(SQLDumpTokens::tokens("USE `sh\xFFop`"), ElementsAre("USE", "sh\xEF\xBF\xBDop"));
}

using SQLDumpStatementTest = SQLDumpRulesTest;

TEST_F(SQLDumpStatementTest, CountsStatementsWithATokenAndKeepsThemByDefault) {
    SQLDump::Summary summary;
    EXPECT_EQ(adapt("INSERT INTO t VALUES (1)", summary, "target"), std::nullopt);
    EXPECT_EQ(adapt(" \n-- only a comment\n/* and this */", summary, "target"), std::nullopt);
    EXPECT_EQ(adapt("/*!40101 SET NAMES utf8mb4 */", summary, "target"), std::nullopt);
    EXPECT_EQ(adapt("DROP TABLE IF EXISTS `t`", summary, "target"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 3);
    EXPECT_EQ(summary.sourceDatabase, std::nullopt);
}

TEST_F(SQLDumpStatementTest, UseAndCreateDatabaseSelectTheTargetInstead) {
    SQLDump::Summary summary;
    EXPECT_EQ(adapt("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` "
                    "/*!40100 DEFAULT CHARACTER SET utf8mb4 */",
                    summary, "new_db"),
              "\nALTER DATABASE `new_db` CHARACTER SET utf8mb4;\nUSE `new_db`");
    EXPECT_EQ(summary.sourceDatabase, "shop");
    EXPECT_EQ(adapt("use shop", summary, "new_db"), "\nUSE `new_db`");
    EXPECT_EQ(adapt("create schema if not exists shop", summary, "new_db"), "\nUSE `new_db`");
    EXPECT_EQ(summary.statementCount, 3);
    // Nothing named: kept and counted.
    EXPECT_EQ(adapt("USE", summary, "new_db"), std::nullopt);
    EXPECT_EQ(adapt("CREATE DATABASE IF NOT EXISTS", summary, "new_db"), std::nullopt);
    EXPECT_EQ(adapt("CREATE TABLE shop (a INT)", summary, "new_db"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 6);
    // A backtick in the target is doubled.
    EXPECT_EQ(adapt("USE shop", summary, "a`b"), "\nUSE `a``b`");
}

// A selecting statement is exchanged whole: one that runs on past its name
// (a missing delimiter) would take what follows with it, so it is refused.
TEST_F(SQLDumpStatementTest, ASelectionThatRunsOnPastItsNameIsRefused) {
    SQLDump::Summary summary;
    const auto runsOn = [&summary](std::string_view head) {
        try {
            adapt(head, summary, "new_db");
        } catch (const SQLDumpStatement::RunsOn&) {
            return true;
        }
        return false;
    };
    EXPECT_TRUE(runsOn("USE shop\nINSERT INTO t1 VALUES (1)"));
    EXPECT_TRUE(runsOn("use `shop` select 1"));
    EXPECT_TRUE(runsOn("CREATE DATABASE shop\nCREATE TABLE t (a INT)"));
    EXPECT_TRUE(runsOn("CREATE SCHEMA IF NOT EXISTS shop CHARACTER SET"));
    EXPECT_TRUE(runsOn("CREATE DATABASE shop COLLATE = = x"));
    EXPECT_TRUE(runsOn("CREATE DATABASE shop /*!40100 DEFAULT CHARACTER SET utf8mb4 */ "
                       "INSERT INTO t VALUES (1)"));
    // Past the examined head there is certainly more than a name.
    EXPECT_THROW(SQLDumpStatement::adapt("USE shop", true, summary, "new_db"),
                 SQLDumpStatement::RunsOn);
    EXPECT_THROW(SQLDumpStatement::adapt("ALTER DATABASE shop CHARSET latin1", true, summary, "n"),
                 SQLDumpStatement::RunsOn);
    // So is a head without a word, whatever follows it.
    EXPECT_THROW(SQLDumpStatement::adapt("/*!40101 */ /*!*/", true, summary, "n"),
                 SQLDumpStatement::RunsOn);
    EXPECT_EQ(SQLDumpStatement::adapt("/*!40101 */ /*!*/", false, summary, "n"), std::nullopt);
    // Many clauses are still read to their end.
    EXPECT_TRUE(runsOn("CREATE DATABASE shop CHARSET a COLLATE b CHARSET c COLLATE d CHARSET e "
                       "COLLATE f INSERT"));
    EXPECT_EQ(summary.sourceDatabase, std::nullopt);

    // What dump tools write stays accepted, the database's own defaults
    // given to the target.
    for (const auto& [head, defaults] : std::vector<std::pair<std::string, std::string>>{
             {"CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` /*!40100 DEFAULT CHARACTER SET "
              "utf8mb4 COLLATE utf8mb4_unicode_ci */",
              "CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci"},
             {"CREATE DATABASE IF NOT EXISTS `shop` DEFAULT CHARACTER SET utf8mb4 COLLATE "
              "utf8mb4_general_ci",
              "CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci"},
             {"CREATE SCHEMA shop CHARSET=utf8mb4 COLLATE = utf8mb4_bin",
              "CHARACTER SET utf8mb4 COLLATE utf8mb4_bin"},
             {"create database shop default charset 'latin1' COMMENT 'c'",
              "CHARACTER SET 'latin1'"},
             {"CREATE DATABASE shop COLLATE `latin1_bin`", "COLLATE `latin1_bin`"},
             {"USE shop -- the dump's own database\n", ""},
             {"USE `shop` /* selected */", ""}}) {
        const std::string expected =
            (defaults.empty() ? "" : "\nALTER DATABASE `new_db` " + defaults + ";") +
            "\nUSE `new_db`";
        EXPECT_EQ(adapt(head, summary, "new_db"), expected) << head;
    }
    EXPECT_EQ(summary.sourceDatabase, "shop");
}

// What follows a created database's name, as the server reads it: each
// accepted form was run on MariaDB 10.11, and each refused one fails there
// or is a statement of its own after a missing delimiter.
TEST_F(SQLDumpStatementTest, ACreatedNameMayBeFollowedByEveryClauseTheServerAccepts) {
    const std::vector<std::pair<std::string, std::string>> accepted{
        // mariadb-dump of a database with a comment: the ";" is quoted.
        {"CREATE DATABASE /*!32312 IF NOT EXISTS*/ `blog` /*!40100 DEFAULT CHARACTER SET utf8mb4 "
         "COLLATE utf8mb4_general_ci */ COMMENT 'The blog; main site'",
         "blog"},
        // A MySQL 8 dump: the words in an executable comment are no clauses.
        {"CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` /*!40100 DEFAULT CHARACTER SET utf8mb4 "
         "COLLATE utf8mb4_0900_ai_ci */ /*!80016 DEFAULT ENCRYPTION='N' */",
         "shop"},
        {"CREATE DATABASE shop /*M!100500 COMMENT 'm' */", "shop"},
        // MySQL 8 writes the encryption clause outside comments too.
        {"CREATE DATABASE shop DEFAULT ENCRYPTION='N'", "shop"},
        {"CREATE SCHEMA shop ENCRYPTION = \"y\" /*!80016 ENCRYPTION 'Y' */", "shop"},
        {"CREATE OR REPLACE DATABASE `shop` CHARACTER SET utf8mb4", "shop"},
        {"create or replace schema shop", "shop"},
        {"CREATE /*!32312 OR REPLACE */ DATABASE shop", "shop"},
        // A read-only MySQL 8 database: its state in a plain comment.
        {"CREATE DATABASE `shop` /*!40100 DEFAULT CHARACTER SET utf8mb4 */ /*!80016 DEFAULT "
         "ENCRYPTION='N' */ /* READ ONLY = 1 */",
         "shop"},
        // The --compatible=ansi form, and quotes doubled or escaped.
        {"CREATE DATABASE /*!32312 IF NOT EXISTS*/ \"shop\" /*!40100 DEFAULT CHARACTER SET "
         "latin1 */ COMMENT 'it''s \\' ok; */ -- #'",
         "\"shop\""},
        {"CREATE DATABASE shop CHAR SET latin1", "shop"},
        {"CREATE DATABASE shop CHARACTER SET = DEFAULT", "shop"},
        {"CREATE DATABASE shop CHARSET \"latin1\" COLLATE `latin1_bin`", "shop"},
        {"CREATE DATABASE shop COMMENT = \"dq; /*\"", "shop"},
        {"create schema shop comment ''", "shop"},
        {"CREATE DATABASE shop COMMENT 'x' CHARSET latin1 COMMENT 'y' COLLATE latin1_bin", "shop"},
        {"CREATE DATABASE shop CHARSET=latin1 COLLATE=latin1_bin COMMENT='c'", "shop"},
        {"CREATE DATABASE shop CHARSET latin1 /* plain */ COLLATE latin1_bin # done\n", "shop"},
        {"CREATE DATABASE shop\n  DEFAULT COLLATE utf8mb4_general_ci\n  DEFAULT CHARSET utf8mb4\n",
         "shop"},
        {"CREATE DATABASE `a``b` COMMENT 'Grüße; 🍰'", "a`b"},
        // A name the IF NOT EXISTS words could be taken for.
        {"CREATE DATABASE if", "if"}};
    for (const auto& [head, name] : accepted) {
        SQLDump::Summary summary;
        std::optional<std::string> adapted;
        try {
            adapted = adapt(head, summary, "new_db");
        } catch (const SQLDumpStatement::RunsOn&) {
            adapted = "refused as running on";
        }
        ASSERT_TRUE(adapted) << head;
        EXPECT_TRUE(adapted->ends_with("\nUSE `new_db`")) << head;
        const bool defaults =
            head.find("CHAR") != std::string::npos || head.find("COLLATE") != std::string::npos;
        EXPECT_EQ(adapted->starts_with("\nALTER DATABASE `new_db` "), defaults) << head;
        EXPECT_EQ(summary.sourceDatabase, name) << head;
    }

    const auto runsOn = [](std::string_view head) {
        SQLDump::Summary summary;
        try {
            adapt(head, summary, "new_db");
        } catch (const SQLDumpStatement::RunsOn&) {
            return summary.sourceDatabase == std::nullopt;
        }
        return false;
    };
    for (const char* head :
         {// The issue's kind: a statement after a missing delimiter.
          "CREATE DATABASE `shop` COMMENT 'x'\nINSERT INTO t1 VALUES (1)",
          "CREATE DATABASE shop /*!40100 DEFAULT CHARSET utf8mb4 */\nUSE shop",
          "CREATE DATABASE shop COMMENT 'a; b' CREATE TABLE t (a INT)",
          // What the server refuses after the name.
          "CREATE DATABASE shop COMMENT x", "CREATE DATABASE shop COMMENT 'a' 'b'",
          "CREATE DATABASE shop DEFAULT COMMENT 'x'", "CREATE DATABASE shop ENCRYPTION 'x'",
          "CREATE DATABASE shop ENCRYPTION N", "CREATE DATABASE shop ENCRYPTION = 'NO'",
          "CREATE DATABASE shop CHARSET latin1, COLLATE latin1_bin",
          "CREATE DATABASE shop DEFAULT DEFAULT CHARSET latin1",
          "CREATE DATABASE shop CHARSET latin1 DEFAULT", "CREATE DATABASE shop CHARACTER latin1",
          "CREATE DATABASE shop CHARSET", "CREATE DATABASE shop COMMENT =",
          "CREATE DATABASE shop COLLATE = = x", "CREATE DATABASE shop ()",
          // Left open: a quote, an executable comment, a plain comment.
          "CREATE DATABASE shop COMMENT 'x", "CREATE DATABASE shop COMMENT 'x\\'",
          "CREATE DATABASE shop /*!40100 CHARSET latin1", "CREATE DATABASE shop /* x",
          "CREATE DATABASE `shop", "CREATE DATABASE shop /*!40100 COMMENT '*/'",
          // Inside an executable comment only the same clauses: a statement
          // there is a statement after a missing delimiter.
          "CREATE DATABASE `shop`\n/*!40101 SET character_set_client = utf8 */",
          "CREATE DATABASE shop /*!50001 CREATE VIEW v AS SELECT 1 */",
          "CREATE DATABASE shop\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ "
          "/*!50003 TRIGGER t BEFORE INSERT ON x FOR EACH ROW SET NEW.a = 1 */",
          "CREATE DATABASE shop /*!40100 DEFAULT CHARSET latin1 INSERT INTO t VALUES (1) */",
          "CREATE DATABASE shop /*!READ ONLY = 0*/", "CREATE DATABASE shop /*!80016 USE x */",
          "CREATE DATABASE shop /*M!100500 COMMENT 'm' SELECT 1 */",
          "CREATE OR REPLACE DATABASE shop\nINSERT INTO t VALUES (1)"}) {
        EXPECT_TRUE(runsOn(head)) << head;
    }
}

TEST_F(SQLDumpStatementTest, ASecondDatabaseIsRefusedComparingNamesByteForByte) {
    SQLDump::Summary summary;
    adapt("USE `shop`", summary, "target");
    EXPECT_EQ(thrownMessage([&] { adapt("USE Shop", summary, "target"); }), kMultiple);
    EXPECT_EQ(thrownMessage([&] { adapt("CREATE DATABASE other", summary, "target"); }), kMultiple);
    // Quoting differently names a different database here.
    EXPECT_EQ(thrownMessage([&] { adapt("USE 'shop'", summary, "target"); }), kMultiple);
    EXPECT_EQ(summary.sourceDatabase, "shop");
}

TEST_F(SQLDumpStatementTest, DropDatabaseAndNoBackslashEscapesAreRefusedWhereverTheyHide) {
    SQLDump::Summary summary;
    for (const char* statement :
         {"DROP DATABASE shop", "drop schema if exists shop", "/*!40000 DROP DATABASE x */",
          "/*M!100000 DROP SCHEMA x */", "DROP /*! DATABASE */ x"}) {
        EXPECT_EQ(thrownMessage([&] { adapt(statement, summary, "t"); }), kDrops) << statement;
    }
    for (const char* statement : {"SET sql_mode='NO_BACKSLASH_ESCAPES'",
                                  "/*!40101 SET SQL_MODE='ANSI,no_backslash_escapes' */",
                                  "SET @m = 'no_backslash_escapes'"}) {
        EXPECT_EQ(thrownMessage([&] { adapt(statement, summary, "t"); }), kEscapes) << statement;
    }
    // Only SET statements are examined for the mode.
    EXPECT_EQ(adapt("INSERT INTO t VALUES ('NO_BACKSLASH_ESCAPES')", summary, "t"), std::nullopt);
    // The head is upper-cased in full Unicode: the long s is an S.
    EXPECT_EQ(
        thrownMessage([&] { adapt("SET sql_mode='no_back\xC5\xBFlash_escapes'", summary, "t"); }),
        kEscapes);
}

TEST_F(SQLDumpStatementTest, KeywordsCountInAnyLetterCaseWhateverEndsTheirWord) {
    SQLDump::Summary summary;
    EXPECT_EQ(adapt("uSe`shop`", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(adapt("Create/**/Database`shop`", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(adapt("cReAtE\tsChEmA\nshop", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(thrownMessage([&] { adapt("Drop/**/database x", summary, "t"); }), kDrops);
    EXPECT_EQ(thrownMessage([&] { adapt("sEt;sql_mode=no_backslash_escapes", summary, "t"); }),
              kEscapes);
    // A longer word is no keyword.
    EXPECT_EQ(adapt("SET@m='NO_BACKSLASH_ESCAPES'", summary, "t"), std::nullopt);
    EXPECT_EQ(adapt("USES shop", summary, "t"), std::nullopt);
    EXPECT_EQ(adapt("INSERT INTO t VALUES (1)", summary, "t"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 8);
}

// mariadb-dump writes ALTER DATABASE for its own database around triggers
// and routines made under another collation; the target takes its place.
TEST_F(SQLDumpStatementTest, AnAlterOfTheDumpsDatabaseActsOnTheTarget) {
    SQLDump::Summary summary;
    ASSERT_EQ(adapt("USE `shop`", summary, "new_db"), "\nUSE `new_db`");
    EXPECT_EQ(adapt("ALTER DATABASE `shop` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci ",
                    summary, "new_db"),
              "\nALTER DATABASE `new_db` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci ");
    EXPECT_EQ(adapt("alter schema shop comment 'it''s; \\' ok'", summary, "a`b"),
              "\nalter schema `a``b` comment 'it''s; \\' ok'");
    EXPECT_EQ(adapt("ALTER DATABASE /*!40101 `shop` */ CHARSET latin1", summary, "new_db"),
              "\nALTER DATABASE /*!40101 `new_db` */ CHARSET latin1");
    // What follows the name stays as it is: the server judges it, and
    // nothing after it is lost.
    EXPECT_EQ(adapt("ALTER DATABASE shop UPGRADE DATA DIRECTORY NAME", summary, "new_db"),
              "\nALTER DATABASE `new_db` UPGRADE DATA DIRECTORY NAME");
    EXPECT_EQ(summary.statementCount, 5);

    // Without a name it acts on the selected database, the target.
    for (const char* nameless :
         {"ALTER DATABASE CHARACTER SET latin1", "ALTER DATABASE COMMENT 'x'",
          "ALTER SCHEMA DEFAULT CHARSET = latin1", "ALTER DATABASE COLLATE latin1_bin",
          "alter database char set latin1", "ALTER DATABASE", "ALTER TABLE shop ADD x INT",
          "ALTER DATABASE /*!40101 COMMENT 'x' */"})
        EXPECT_EQ(adapt(nameless, summary, "new_db"), std::nullopt) << nameless;

    // Another database, also one called as a clause the server takes for a
    // name, is a second database.
    for (const char* other :
         {"ALTER DATABASE other CHARSET latin1", "ALTER SCHEMA `Shop` COMMENT ''",
          "ALTER DATABASE charset latin1", "ALTER DATABASE ENCRYPTION 'N'"})
        EXPECT_EQ(thrownMessage([&] { adapt(other, summary, "new_db"); }), kMultiple) << other;
    EXPECT_THROW(adapt("ALTER DATABASE shop COMMENT 'x", summary, "new_db"),
                 SQLDumpStatement::RunsOn);
    EXPECT_EQ(summary.sourceDatabase, "shop");

    // Named first, it names the dump's database.
    SQLDump::Summary first;
    EXPECT_EQ(adapt("ALTER DATABASE `src` COLLATE latin1_bin", first, "t"),
              "\nALTER DATABASE `t` COLLATE latin1_bin");
    EXPECT_EQ(first.sourceDatabase, "src");
    EXPECT_EQ(thrownMessage([&] { adapt("USE other", first, "t"); }), kMultiple);
}

// The shortcut for a statement per row must never pass what adapt() acts on.
TEST_F(SQLDumpStatementTest, OnlyStatementsOfOtherKindsOnlyCount) {
    for (const char* counted :
         {"INSERT INTO t VALUES (1)", "insert(", "INSERT#x\nINTO", "DELETE FROM t", "SELECT'x'",
          "REPLACE INTO t", "UPDATE`t`", "DELIMITE $$", "CALL p()"}) {
        EXPECT_TRUE(SQLDumpStatement::onlyCounts(counted)) << counted;
        SQLDump::Summary summary;
        EXPECT_EQ(adapt(counted, summary, "t"), std::nullopt) << counted;
        EXPECT_EQ(summary.statementCount, 1) << counted;
    }
    for (const char* read : {"USE shop",
                             "use`shop`",
                             "CREATE DATABASE x",
                             "DROP#x\nDATABASE x",
                             "SET a=1",
                             "ALTER DATABASE x",
                             "alter table t",
                             "DELIMITER $$ ",
                             "DELIMITERS",
                             "d\xC9limiter",
                             "INSERT_x",
                             "INSERT1",
                             "INSERT$",
                             "INSERT\xC3\xA9",
                             "INSERT\\-INTO",
                             "",
                             "1",
                             "`t`",
                             "/*!40101 SET x=1 */",
                             "-- x\nINSERT"})
        EXPECT_FALSE(SQLDumpStatement::onlyCounts(read)) << read;
}

using SQLDumpClientTextTest = SQLDumpRulesTest;

// What the client sends for one statement, each case as the server's
// general log showed it for Debian's MariaDB 10.11 client with the engine's
// options (the client also drops the text's trailing blanks).
TEST_F(SQLDumpClientTextTest, TheTextIsWhatTheClientSends) {
    using SQLDumpClientText::sent;
    EXPECT_EQ(sent("SELECT/* x */1, 2 /* y */ , 3"), "SELECT 1, 2  , 3");
    EXPECT_EQ(sent("SELECT 1 /* a\nb */ FROM DUAL"), "SELECT 1  FROM DUAL");
    EXPECT_EQ(sent("DROP#x\nTABLE IF EXISTS y"), "DROP\nTABLE IF EXISTS y");
    EXPECT_EQ(sent("SELECT 1\n--x\n"), "SELECT 1\n--x\n");
    EXPECT_EQ(sent("SELECT 1\n-- x\n"), "SELECT 1\n\n");
    EXPECT_EQ(sent("SELECT 1 --\x01"), "SELECT 1 --\x01");
    EXPECT_EQ(sent("SELECT 1 --\x0b x"), "SELECT 1 ");
    EXPECT_EQ(sent(std::string_view("SELECT 1 --\0 x", 14)), "SELECT 1 ");
    EXPECT_EQ(sent("SELECT 1 --"), "SELECT 1 ");
    EXPECT_EQ(sent("SELECT 1 AS `#a`, '#' AS b, \"-- \" AS c"),
              "SELECT 1 AS `#a`, '#' AS b, \"-- \" AS c");
    // "#" cuts an executable comment's end away; the statement runs on.
    EXPECT_EQ(sent("/*!40101 SET @a=1 # x */\nSELECT 4"), "/*!40101 SET @a=1 \nSELECT 4");
    // On a "/*!" line the first "*/" of a block comment only ends the "/*!".
    EXPECT_EQ(sent("/*!40101 SELECT /* c */ 1 */"), "/*!40101 SELECT ");
    EXPECT_EQ(sent("/*!40101 SELECT /* c\n */ 1 */"), "/*!40101 SELECT  1 */");
    EXPECT_EQ(sent("SELECT 1 /* a /*! b */ c */ , 2"), "SELECT 1  , 2");
    // The sandbox command is run and left out, wherever it stands.
    EXPECT_EQ(sent("/*M!999999\\- sandbox */\n--x\nSELECT 1"),
              "/*M!999999 sandbox */\n--x\nSELECT 1");
    EXPECT_EQ(sent("SELECT 'x' \\- , 'a;b'"), "SELECT 'x'  , 'a;b'");
    EXPECT_EQ(sent("SELECT 1 \\N"), "SELECT 1 \\N");
    // A line beginning with the DELIMITER command's name gets no line feed.
    EXPECT_EQ(sent("DELIMITER $$\nSELECT 2$$"), "DELIMITER $$SELECT 2$$");
    EXPECT_EQ(sent("DELIMITER $$\nSELECT 2$$", {.space = true}), " DELIMITER $$\nSELECT 2$$");
    EXPECT_EQ(sent("SELECT 'a\\\nb', 'c\\'d'"), "SELECT 'a\nb', 'c\\'d'");
    // A character of several bytes is taken whole.
    EXPECT_EQ(sent("SELECT 1/**/\xC3\xA9"), "SELECT 1\xC3\xA9");
}

// Runs of bytes that mean nothing to the client are taken whole; read a
// byte at a time, or with the text cut at any length, every statement must
// read the same: the same text (a prefix of the whole), the same place its
// text begins and the same bytes consumed.
TEST_F(SQLDumpClientTextTest, ReadingInRunsReadsAsByteByByte) {
    using SQLDumpClientText::Reader;
    const std::vector<std::string_view> pieces = {"SELECT ",
                                                  "a",
                                                  "  ",
                                                  "\n",
                                                  "\t",
                                                  "'",
                                                  "\"",
                                                  "`",
                                                  "\\",
                                                  "\\'",
                                                  "''",
                                                  "#",
                                                  "# c\n",
                                                  "-- ",
                                                  "--x",
                                                  "-",
                                                  "/",
                                                  "*",
                                                  "/*",
                                                  "*/",
                                                  "/* c */",
                                                  "/*!40101 ",
                                                  "/*M!100100 ",
                                                  "\\-",
                                                  ";",
                                                  "delimiter ",
                                                  "D\xC9LIMITER ",
                                                  "\xC3\xA9",
                                                  "\xE2\x82\xAC",
                                                  "\xF0\x9F\x98\x80",
                                                  "\xC3",
                                                  "\xFF",
                                                  std::string_view("\0", 1),
                                                  "x1_$",
                                                  "\r\n",
                                                  "@@sql_mode"};
    std::mt19937 random(20261211);
    for (int round = 0; round < 4000; ++round) {
        std::string input;
        const int count = 1 + static_cast<int>(random() % 24);
        for (int k = 0; k < count; ++k)
            input += pieces[random() % pieces.size()];
        const SQLDumpClientText::Start start{
            .executableLine = random() % 4 == 0,
            .space = random() % 3 == 0,
            .midLine = random() % 3 == 0,
            .ansiQuotes = random() % 3 == 0,
            .noBackslashEscapes = random() % 4 == 0,
        };
        Reader whole(start, std::string::npos);
        const std::size_t wholeRead = whole.read(input, input.size());
        const std::string text = whole.text();
        const std::size_t limit = random() % (text.size() + 3);

        Reader limited(start, limit);
        const std::size_t limitedRead = limited.read(input, input.size());
        Reader byteByByte(start, limit);
        std::size_t read = 0;
        std::size_t longestStep = 0;
        while (read < input.size() && !byteByByte.cut()) {
            const std::size_t step = byteByByte.read(std::string_view(input).substr(read), 1);
            longestStep = std::max(longestStep, step);
            read += step;
        }

        SCOPED_TRACE(::testing::PrintToString(input) + " limit " + std::to_string(limit));
        EXPECT_EQ(limited.text(), text.substr(0, limit));
        EXPECT_EQ(limited.cut(), text.size() > limit);
        EXPECT_EQ(byteByByte.text(), limited.text());
        EXPECT_EQ(byteByByte.cut(), limited.cut());
        EXPECT_EQ(byteByByte.firstText(), limited.firstText());
        EXPECT_EQ(read, limitedRead);
        // Past the byte asked for only by a character or an escaped pair.
        EXPECT_LE(longestStep, 4u);
        if (!limited.cut()) {
            EXPECT_EQ(limited.firstText(), whole.firstText());
            EXPECT_EQ(limitedRead, wholeRead);
        }
        if (::testing::Test::HasFailure())
            break;
    }
}

using SQLDumpDelimiterTest = SQLDumpRulesTest;

// The client takes every line or statement text that, after its blanks,
// begins with the command's name in its Latin-1 comparison.
TEST_F(SQLDumpDelimiterTest, RecognisesTheCommandAsTheClientDoes) {
    for (const char* command :
         {"DELIMITER ;;", "  delimiter $$ \r", "\tDeLiMiTeR //", "DELIMITER\t;;", "DELIMITER",
          "DELIMITERS ;;", "delimiter$$", "\x0b\x0c\rDELIMITER ;", "D\xC9LIMITER $$",
          "d\xe9limiter $$", "\xD0\xCBL\xCDMITER $$"})
        EXPECT_TRUE(SQLDumpDelimiter::isCommand(command)) << command;
    for (const char* other : {"DELIMITE ;;", "-- DELIMITER ;;", "/* c */ DELIMITER ;;",
                              "\xC2\xA0"
                              "DELIMITER //",
                              "\x01"
                              "DELIMITER ;;",
                              "DELIM\xC9TER ;;", "D\xC3\x89LIMITER $$", ""})
        EXPECT_FALSE(SQLDumpDelimiter::isCommand(other)) << other;
}

TEST_F(SQLDumpDelimiterTest, TakesOnlyThePlainCommandWithOneToSixteenAllowedBytes) {
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER ;;", true), ";;");
    EXPECT_EQ(SQLDumpDelimiter::delimiter(" delimiter   $$  \r", true), "$$");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER //", true), "//");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER\t$$", true), "$$");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER \r;", true), ";");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER ;\xE2\x82\xAC", true), ";\xE2\x82\xAC");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER " + std::string(16, '|'), true),
              std::string(16, '|'));
    // A CRLF line's carriage return is part of the delimiter for the client.
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER ;;\r", true), ";;\r");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER ;\r", true), ";\r");
    // A statement's text must end the delimiter with a space.
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER $$ ", false), "$$");
    EXPECT_EQ(SQLDumpDelimiter::delimiter(" DELIMITER $$ \n", false), "$$");
    for (const std::string& text :
         {"DELIMITER " + std::string(17, '|'),
          std::string("DELIMITER go"),
          std::string("DELIMITER ;1"),
          std::string("DELIMITER ;\\"),
          std::string("DELIMITER $ $"),
          std::string("DELIMITER ';'"),
          std::string("DELIMITER \"\""),
          std::string("DELIMITER ``"),
          std::string("DELIMITER \xC3\xA9"),      // a letter
          std::string("DELIMITER \xD9\xA3"),      // an Arabic-Indic digit
          std::string("DELIMITER ;\xFF"),         // not UTF-8
          std::string("DELIMITER \xE2\x82\xAC;"), // the client never matches it
          std::string("DELIMITER $$\t"),
          std::string("DELIMITER ;\x01"),
          std::string("DELIMITER ;;\r\r"),
          std::string("DELIMITER"),
          std::string("DELIMITER "),
          std::string("delimiter$$"),
          std::string("DELIMITERS ;;"),
          std::string("D\xC9LIMITER ;;"),
          std::string("DELIMITER $$ more"),
          std::string("DELIMITER ;;") + std::string(250, ' ')}) {
        EXPECT_EQ(thrownMessage([&] { SQLDumpDelimiter::delimiter(text, true); }), kDelimiter)
            << text;
    }
    for (const char* text : {"DELIMITER $$", "DELIMITER ;;\r", "DELIMITER $$\nSELECT"})
        EXPECT_EQ(thrownMessage([&] { SQLDumpDelimiter::delimiter(text, false); }), kDelimiter)
            << text;
}

} // namespace
} // namespace vessora
