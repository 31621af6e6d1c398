// The per-statement rules of dump preparation: the leading tokens, what a
// statement's head decides, and the DELIMITER command line.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/SQLDumpDelimiter.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "VessoraCore/Import/SQLDumpTokens.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vessora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Tokens = std::vector<std::string>;

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

TEST_F(SQLDumpTokensTest, TheSandboxLineYieldsNothingButOtherVersionsDo) {
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!999999\\- enable the sandbox mode */ "), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("/*!999999 \\- x */"), IsEmpty());
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!999999 USE x */"), ElementsAre("USE", "x"));
    EXPECT_THAT(SQLDumpTokens::tokens("/*M!9999990\\- x */"), ElementsAre("\\-", "x"));
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
    EXPECT_EQ(SQLDumpStatement::adapt("INSERT INTO t VALUES (1)", summary, "target"), std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt(" \n-- only a comment\n/* and this */", summary, "target"),
              std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("/*!40101 SET NAMES utf8mb4 */", summary, "target"),
              std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("DROP TABLE IF EXISTS `t`", summary, "target"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 3);
    EXPECT_EQ(summary.sourceDatabase, std::nullopt);
}

TEST_F(SQLDumpStatementTest, UseAndCreateDatabaseSelectTheTargetInstead) {
    SQLDump::Summary summary;
    EXPECT_EQ(SQLDumpStatement::adapt("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` "
                                      "/*!40100 DEFAULT CHARACTER SET utf8mb4 */",
                                      summary, "new_db"),
              "\nUSE `new_db`");
    EXPECT_EQ(summary.sourceDatabase, "shop");
    EXPECT_EQ(SQLDumpStatement::adapt("use shop", summary, "new_db"), "\nUSE `new_db`");
    EXPECT_EQ(SQLDumpStatement::adapt("create schema if not exists shop", summary, "new_db"),
              "\nUSE `new_db`");
    EXPECT_EQ(summary.statementCount, 3);
    // Nothing named: kept and counted.
    EXPECT_EQ(SQLDumpStatement::adapt("USE", summary, "new_db"), std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("CREATE DATABASE IF NOT EXISTS", summary, "new_db"),
              std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("CREATE TABLE shop (a INT)", summary, "new_db"),
              std::nullopt);
    EXPECT_EQ(summary.statementCount, 6);
    // A backtick in the target is doubled.
    EXPECT_EQ(SQLDumpStatement::adapt("USE shop", summary, "a`b"), "\nUSE `a``b`");
}

// A selecting statement is exchanged whole: one that runs on past its name
// (a missing delimiter) would take what follows with it, so it is refused.
TEST_F(SQLDumpStatementTest, ASelectionThatRunsOnPastItsNameIsRefused) {
    SQLDump::Summary summary;
    const auto runsOn = [&summary](std::string_view head) {
        try {
            SQLDumpStatement::adapt(head, summary, "new_db");
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
    EXPECT_TRUE(runsOn("USE shop /* " + std::string(SQLDumpStatement::headLimit, 'x') + " */"));
    // Many clauses are still read to their end.
    EXPECT_TRUE(runsOn("CREATE DATABASE shop CHARSET a COLLATE b CHARSET c COLLATE d CHARSET e "
                       "COLLATE f INSERT"));
    EXPECT_EQ(summary.sourceDatabase, std::nullopt);

    // What dump tools write stays accepted.
    for (const char* head :
         {"CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` /*!40100 DEFAULT CHARACTER SET utf8mb4 "
          "COLLATE utf8mb4_unicode_ci */",
          "CREATE DATABASE IF NOT EXISTS `shop` DEFAULT CHARACTER SET utf8mb4 COLLATE "
          "utf8mb4_general_ci",
          "CREATE SCHEMA shop CHARSET=utf8mb4 COLLATE = utf8mb4_bin",
          "create database shop "
          "default charset 'latin1'",
          "USE shop -- the dump's own database\n", "USE `shop` /* selected */"})
        EXPECT_EQ(SQLDumpStatement::adapt(head, summary, "new_db"), "\nUSE `new_db`") << head;
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
        {"CREATE DATABASE shop /*M!100500 COMMENT 'm' */ /*!READ ONLY = 0*/", "shop"},
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
            adapted = SQLDumpStatement::adapt(head, summary, "new_db");
        } catch (const SQLDumpStatement::RunsOn&) {
            adapted = "refused as running on";
        }
        EXPECT_EQ(adapted, "\nUSE `new_db`") << head;
        EXPECT_EQ(summary.sourceDatabase, name) << head;
    }

    const auto runsOn = [](std::string_view head) {
        SQLDump::Summary summary;
        try {
            SQLDumpStatement::adapt(head, summary, "new_db");
        } catch (const SQLDumpStatement::RunsOn&) {
            return summary.sourceDatabase == std::nullopt;
        }
        return false;
    };
    for (const char* head :
         {// The kind: a statement after a missing delimiter.
          "CREATE DATABASE `shop` COMMENT 'x'\nINSERT INTO t1 VALUES (1)",
          "CREATE DATABASE shop /*!40100 DEFAULT CHARSET utf8mb4 */\nUSE shop",
          "CREATE DATABASE shop COMMENT 'a; b' CREATE TABLE t (a INT)",
          // What the server refuses after the name.
          "CREATE DATABASE shop COMMENT x", "CREATE DATABASE shop COMMENT 'a' 'b'",
          "CREATE DATABASE shop DEFAULT COMMENT 'x'", "CREATE DATABASE shop DEFAULT ENCRYPTION='N'",
          "CREATE DATABASE shop CHARSET latin1, COLLATE latin1_bin",
          "CREATE DATABASE shop DEFAULT DEFAULT CHARSET latin1",
          "CREATE DATABASE shop CHARSET latin1 DEFAULT", "CREATE DATABASE shop CHARACTER latin1",
          "CREATE DATABASE shop CHARSET", "CREATE DATABASE shop COMMENT =",
          "CREATE DATABASE shop COLLATE = = x", "CREATE DATABASE shop ()",
          // Left open: a quote, an executable comment, a plain comment.
          "CREATE DATABASE shop COMMENT 'x", "CREATE DATABASE shop COMMENT 'x\\'",
          "CREATE DATABASE shop /*!40100 CHARSET latin1", "CREATE DATABASE shop /* x",
          "CREATE DATABASE `shop", "CREATE DATABASE shop /*!40100 COMMENT '*/'"}) {
        EXPECT_TRUE(runsOn(head)) << head;
    }
}

TEST_F(SQLDumpStatementTest, ASecondDatabaseIsRefusedComparingNamesByteForByte) {
    SQLDump::Summary summary;
    SQLDumpStatement::adapt("USE `shop`", summary, "target");
    EXPECT_EQ(thrownMessage([&] { SQLDumpStatement::adapt("USE Shop", summary, "target"); }),
              kMultiple);
    EXPECT_EQ(
        thrownMessage([&] { SQLDumpStatement::adapt("CREATE DATABASE other", summary, "target"); }),
        kMultiple);
    // Quoting differently names a different database here.
    EXPECT_EQ(thrownMessage([&] { SQLDumpStatement::adapt("USE 'shop'", summary, "target"); }),
              kMultiple);
    EXPECT_EQ(summary.sourceDatabase, "shop");
}

TEST_F(SQLDumpStatementTest, DropDatabaseAndNoBackslashEscapesAreRefusedWhereverTheyHide) {
    SQLDump::Summary summary;
    for (const char* statement :
         {"DROP DATABASE shop", "drop schema if exists shop", "/*!40000 DROP DATABASE x */",
          "/*M!100000 DROP SCHEMA x */", "DROP /*! DATABASE */ x"}) {
        EXPECT_EQ(thrownMessage([&] { SQLDumpStatement::adapt(statement, summary, "t"); }), kDrops)
            << statement;
    }
    for (const char* statement : {"SET sql_mode='NO_BACKSLASH_ESCAPES'",
                                  "/*!40101 SET SQL_MODE='ANSI,no_backslash_escapes' */",
                                  "SET @m = 'no_backslash_escapes'"}) {
        EXPECT_EQ(thrownMessage([&] { SQLDumpStatement::adapt(statement, summary, "t"); }),
                  kEscapes)
            << statement;
    }
    // Only SET statements are examined for the mode.
    EXPECT_EQ(
        SQLDumpStatement::adapt("INSERT INTO t VALUES ('NO_BACKSLASH_ESCAPES')", summary, "t"),
        std::nullopt);
    // The head is upper-cased in full Unicode: the long s is an S.
    EXPECT_EQ(thrownMessage([&] {
                  SQLDumpStatement::adapt("SET sql_mode='no_back\xC5\xBFlash_escapes'", summary,
                                          "t");
              }),
              kEscapes);
}

TEST_F(SQLDumpStatementTest, KeywordsCountInAnyLetterCaseWhateverEndsTheirWord) {
    SQLDump::Summary summary;
    EXPECT_EQ(SQLDumpStatement::adapt("uSe`shop`", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(SQLDumpStatement::adapt("Create/**/Database`shop`", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(SQLDumpStatement::adapt("cReAtE\tsChEmA\nshop", summary, "t"), "\nUSE `t`");
    EXPECT_EQ(thrownMessage([&] { SQLDumpStatement::adapt("Drop/**/database x", summary, "t"); }),
              kDrops);
    EXPECT_EQ(thrownMessage([&] {
                  SQLDumpStatement::adapt("sEt;sql_mode=no_backslash_escapes", summary, "t");
              }),
              kEscapes);
    // A longer word is no keyword.
    EXPECT_EQ(SQLDumpStatement::adapt("SET@m='NO_BACKSLASH_ESCAPES'", summary, "t"), std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("USES shop", summary, "t"), std::nullopt);
    EXPECT_EQ(SQLDumpStatement::adapt("INSERT INTO t VALUES (1)", summary, "t"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 8);
}

TEST_F(SQLDumpStatementTest, LooksOnlyAtTheFirstEightKilobytesOfTheHead) {
    SQLDump::Summary summary;
    const std::string padding(SQLDumpStatement::headLimit, ' ');
    EXPECT_EQ(SQLDumpStatement::adapt(padding + "USE shop", summary, "t"), std::nullopt);
    EXPECT_EQ(summary.statementCount, 0);
    const std::string set = "SET a = '" + std::string(SQLDumpStatement::headLimit, 'x') +
                            "', sql_mode='NO_BACKSLASH_ESCAPES'";
    EXPECT_EQ(SQLDumpStatement::adapt(set, summary, "t"), std::nullopt);
}

using SQLDumpDelimiterTest = SQLDumpRulesTest;

TEST_F(SQLDumpDelimiterTest, RecognisesTheCommandInAnyLetterCaseAroundBlanks) {
    EXPECT_TRUE(SQLDumpDelimiter::isCommand("DELIMITER ;;"));
    EXPECT_TRUE(SQLDumpDelimiter::isCommand("  delimiter $$ \r"));
    EXPECT_TRUE(SQLDumpDelimiter::isCommand("\xC2\xA0"
                                            "Delimiter //"));
    EXPECT_FALSE(SQLDumpDelimiter::isCommand("DELIMITER"));
    EXPECT_FALSE(SQLDumpDelimiter::isCommand("DELIMITER "));
    EXPECT_FALSE(SQLDumpDelimiter::isCommand("DELIMITER\t;;"));
    EXPECT_FALSE(SQLDumpDelimiter::isCommand("DELIMITERS ;;"));
    EXPECT_FALSE(SQLDumpDelimiter::isCommand("-- DELIMITER ;;"));
    // Only the first 256 bytes count.
    EXPECT_FALSE(SQLDumpDelimiter::isCommand(std::string(250, ' ') + "DELIMITER ;;"));
}

TEST_F(SQLDumpDelimiterTest, TakesOneToSixteenBytesWithoutLettersDigitsBlanksQuotesOrBackslash) {
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER ;;"), ";;");
    EXPECT_EQ(SQLDumpDelimiter::delimiter(" delimiter   $$  \r"), "$$");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER //"), "//");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER \xE2\x82\xAC;"), "\xE2\x82\xAC;");
    EXPECT_EQ(SQLDumpDelimiter::delimiter("DELIMITER " + std::string(16, '|')),
              std::string(16, '|'));
    for (const std::string& line :
         {"DELIMITER " + std::string(17, '|'), std::string("DELIMITER go"),
          std::string("DELIMITER ;1"), std::string("DELIMITER ;\\"), std::string("DELIMITER $ $"),
          std::string("DELIMITER ';'"), std::string("DELIMITER \"\""), std::string("DELIMITER ``"),
          std::string("DELIMITER \xC3\xA9"), // a letter
          std::string("DELIMITER \xD9\xA3"), // an Arabic-Indic digit
          std::string("DELIMITER ;\xFF")}) { // not UTF-8
        EXPECT_EQ(thrownMessage([&] { SQLDumpDelimiter::delimiter(line); }), kDelimiter) << line;
    }
}

} // namespace
} // namespace vessora
