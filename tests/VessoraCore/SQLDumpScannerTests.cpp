// Splitting and rewriting dumps in memory. Every case runs three ways: the
// scanner with its usual window, the scanner with its smallest window fed in
// odd-sized pieces (so window edges fall inside every construct), and the
// plain reference splitter; all three must agree.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/SQLDumpScanner.hpp"
#include "VessoraCore/Import/SQLDumpStatement.hpp"
#include "tests/Support/SQLDumpReference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vessora {
namespace {

using SQLDumpTesting::Prepared;

const std::string kTooLong = "A SQL statement exceeds 64 MB. Export smaller INSERT batches.";
const std::string kDelimiter = "The dump uses an unsupported SQL delimiter.";
const std::string kUnterminated = "The SQL file ends inside a quoted value or comment.";
const std::string kEmpty = "The SQL file contains no statements.";
const std::string kDrops =
    "The dump drops a database. Export a single application database without DROP DATABASE.";
const std::string kMultiple =
    "This dump selects multiple databases. Export one application database at a time.";

class SQLDumpScannerTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    // The usual scanner's result, after checking that the small window and
    // the reference agree with it.
    static Prepared prepared(std::string_view dump, std::string_view database = "target") {
        const Prepared usual = SQLDumpTesting::scanned(dump, database);
        const Prepared small =
            SQLDumpTesting::scanned(dump, database, SQLDumpScanner::smallestWindow, {1, 7, 300});
        const Prepared reference = SQLDumpTesting::reference(dump, database);
        EXPECT_EQ(small.error, usual.error);
        EXPECT_EQ(reference.error, usual.error);
        if (usual.error.empty()) {
            EXPECT_EQ(small.output, usual.output);
            EXPECT_EQ(reference.output, usual.output);
            EXPECT_EQ(small.summary, usual.summary);
            EXPECT_EQ(reference.summary, usual.summary);
        }
        return usual;
    }

    static std::int64_t count(std::string_view dump) {
        const Prepared result = prepared(dump);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, SQLDumpTesting::withoutDefiners(std::string(dump)))
            << "nothing should change but a definer";
        return result.summary.statementCount;
    }

    static std::string refusal(std::string_view dump) { return prepared(dump).error; }
};

TEST_F(SQLDumpScannerTest, UseAndCreateDatabaseOfTheDumpSelectTheTarget) {
    Prepared result = prepared("USE `shop`;\nINSERT INTO t VALUES (1);\nUSE shop;\n");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.output, "\nUSE `target`;\nINSERT INTO t VALUES (1);\nUSE `target`;\n");
    EXPECT_EQ(result.summary.statementCount, 3);
    EXPECT_EQ(result.summary.sourceDatabase, "shop");

    result = prepared("/*!40101 SET NAMES utf8mb4 */;\n\n--\n-- Current Database: `shop`\n--\n\n"
                      "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` /*!40100 DEFAULT "
                      "CHARACTER SET utf8mb4 */;\n\nUSE `shop`;\n",
                      "new_db");
    EXPECT_EQ(result.output,
              "/*!40101 SET NAMES utf8mb4 */;\nALTER DATABASE `new_db` CHARACTER SET "
              "utf8mb4;\nUSE `new_db`;\nUSE `new_db`;\n");
    EXPECT_EQ(result.summary.statementCount, 3);
    EXPECT_EQ(result.summary.sourceDatabase, "shop");

    EXPECT_EQ(refusal("USE shop;\nUSE Shop;\n"), kMultiple);
    EXPECT_EQ(refusal("USE shop;\nCREATE SCHEMA other;\n"), kMultiple);
    EXPECT_EQ(refusal("SELECT 1;\n/*!40000 DROP DATABASE IF EXISTS `shop`*/;\n"), kDrops);
    EXPECT_EQ(count("DROP TABLE IF EXISTS `t`;"), 1);
}

TEST_F(SQLDumpScannerTest, SemicolonsInsideQuotesAndCommentsDoNotEndAStatement) {
    EXPECT_EQ(count("SELECT 'a;b', \"c;d\", `e;f`, 'g\\';h', \"i\\\\;j\", 'k'';l', \"m\"\";n\", "
                    "`o``;p` # q;r\n, 1 -- s;t\n, 2 --\tu;v\n /* w;x */ /**/;\nSELECT 2;"),
              2);
    // Two hyphens directly before a word are text; the ";" after them splits.
    EXPECT_EQ(count("SELECT 1--x;\nSELECT 2;"), 2);
    EXPECT_EQ(count("SELECT 1 -- x;\nSELECT 2;"), 1);
    EXPECT_EQ(count("SELECT 5--;SELECT 6;"), 2);
    // A comment opener inside a string, a string opener inside a comment.
    EXPECT_EQ(count("SELECT '/* -- #';SELECT 2 /* ' */;SELECT 3 # '\n;"), 3);
    EXPECT_EQ(count("SELECT 'end\\\\';SELECT 2;"), 2);
}

// Quotes are settled 64 bytes at a time: every short mix of backslashes and
// quotes, at every offset around that step, must split as the reference.
TEST_F(SQLDumpScannerTest, EscapesAndDoubledQuotesMayFallAnywhere) {
    std::vector<std::string> tails = {""};
    for (int length = 1; length <= 4; ++length) {
        const std::size_t shorter = tails.size();
        for (std::size_t i = 0; i < shorter; ++i) {
            if (tails[i].size() != std::size_t(length - 1))
                continue;
            for (const char* piece : {"\\", "q", "x"})
                tails.push_back(tails[i] + piece);
        }
    }
    for (const char quote : {'\'', '"'}) {
        for (std::size_t offset = 50; offset <= 140; ++offset) {
            for (std::string tail : tails) {
                std::replace(tail.begin(), tail.end(), 'q', quote);
                const std::string dump = "SELECT " + std::string(1, quote) +
                                         std::string(offset, 'a') + tail + "b" + quote +
                                         ";SELECT 2;";
                prepared(dump);
                if (HasFailure())
                    FAIL() << dump;
            }
        }
    }
}

TEST_F(SQLDumpScannerTest, ABackslashInsideBackticksIsAnOrdinaryByte) {
    // mariadb-dump writes a column named we\ird as `we\ird`; the backslash
    // must not swallow the closing backtick.
    const Prepared result =
        prepared("CREATE TABLE `t\\` (`we\\ird` INT);\nUSE shop;\nINSERT INTO `t\\` VALUES (1);\n");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(
        result.output,
        "CREATE TABLE `t\\` (`we\\ird` INT);\nUSE `target`;\nINSERT INTO `t\\` VALUES (1);\n");
    EXPECT_EQ(result.summary.statementCount, 3);
    EXPECT_EQ(refusal("SELECT `a\\`;\nDROP DATABASE shop;"), kDrops);
}

TEST_F(SQLDumpScannerTest, ExecutableCommentsAreStatementTextTheSandboxLineToo) {
    // The client reads the inside of "/*!" as SQL: a quoted "*/" does not
    // end it (mariadb-dump writes views and triggers this way).
    EXPECT_EQ(count("/*!50001 VIEW `v` AS select '*/;' AS `x` */;\nSELECT 2;"), 2);
    EXPECT_EQ(count("DELIMITER ;;\n/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR "
                    "EACH ROW SET NEW.s = CONCAT(NEW.s, ';*/') \n*/;;\nDELIMITER ;\nSELECT 1;"),
              2);
    // Like the client, a delimiter inside one ends the statement.
    EXPECT_EQ(count("/*!40101 SET @a=1; */;"), 2);
    EXPECT_EQ(count("/*M!999999\\- enable the sandbox mode */ \n-- header\n/*!40101 SET NAMES "
                    "utf8mb4 */;\n"),
              1);
    EXPECT_EQ(refusal("/*M!999999\\- enable the sandbox mode */ \n"), kEmpty);
    // The client reads a quote inside the sandbox line as a quote.
    EXPECT_EQ(refusal("/*!999999 \\- it's */ SELECT 1;"), kUnterminated);
    EXPECT_EQ(count("/*!999999 \\- it''s */ SELECT 1;"), 1);
    EXPECT_EQ(refusal("/*M!100000 DROP SCHEMA shop */;"), kDrops);
}

TEST_F(SQLDumpScannerTest, DelimiterCommandsFrameBodiesAndAreCopied) {
    const std::string procedure = "DELIMITER ;;\nCREATE PROCEDURE p() BEGIN SELECT 1; SELECT "
                                  "'a;;b'; END ;;\nDELIMITER ;\nSELECT 3;\n";
    EXPECT_EQ(count(procedure), 2);
    EXPECT_EQ(count("delimiter $$\nCREATE FUNCTION f() RETURNS INT RETURN 1$$\nDeLiMiTeR ;\n"), 1);
    EXPECT_EQ(count("  DELIMITER // \r\nSELECT 1; SELECT 2//\n"), 1);
    // Blanks and comments may precede the command in its statement.
    EXPECT_EQ(count("SELECT 0;\n-- c\n/* d */ # e\nDELIMITER $$\nSELECT 1; SELECT 2$$"), 2);
    // Not at a statement start in mid-line: the client takes the statement
    // "DELIMITER $$\nSELECT 2" for the command, with a delimiter of letters.
    EXPECT_EQ(refusal("SELECT 1; DELIMITER $$\nSELECT 2; SELECT 3$$"), kDelimiter);
    // After a token it is statement text, and ";" still ends statements.
    EXPECT_EQ(count("SELECT 1\nDELIMITER $$\nSELECT 2;SELECT 3$$"), 2);
    // The last line without a line feed.
    EXPECT_EQ(count("SELECT 1;\nDELIMITER $$"), 1);
    // USE inside a DELIMITER block keeps that block's delimiter after it.
    EXPECT_EQ(prepared("DELIMITER ;;\nUSE shop;;\nDELIMITER ;\n").output,
              "DELIMITER ;;\n\nUSE `target`;;\nDELIMITER ;\n");
    for (const char* dump : {"DELIMITER go\nSELECT 1go", "DELIMITER \\\\\n",
                             "DELIMITER ;;;;;;;;;;;;;;;;;\n", "DELIMITER $ $\n"})
        EXPECT_EQ(refusal(dump), kDelimiter) << dump;
    // A command line longer than the examined 256 bytes.
    EXPECT_EQ(refusal("DELIMITER ;;" + std::string(300, ' ') + "\nSELECT 1;;"), kDelimiter);
}

TEST_F(SQLDumpScannerTest, CarriageReturnLineFeedDumpsPassUnchanged) {
    EXPECT_EQ(count("-- header\r\nSET NAMES utf8mb4;\r\nDELIMITER ;;\r\nCREATE TRIGGER t BEFORE "
                    "INSERT ON x FOR EACH ROW BEGIN SET @a = 1; END;;\r\nDELIMITER ;\r\nINSERT "
                    "INTO x VALUES ('a\r\nb');\r\n"),
              3);
    EXPECT_EQ(prepared("USE shop;\r\nSELECT 1;\r\n").output, "\nUSE `target`;\r\nSELECT 1;\r\n");
    // The client keeps a DELIMITER line's carriage return in the delimiter;
    // the server runs each statement within one text of the client.
    const std::string crlf = "DELIMITER ;;\r\nSELECT 1;; SELECT 2;;\r\nDELIMITER ;\r\nSELECT 3; ";
    EXPECT_EQ(count(crlf + "SELECT 4;\r\n"), 2);
    EXPECT_EQ(refusal(crlf + "USE x;\r\n"), "selection within at byte 60");
}

// Each case as Debian's MariaDB 10.11 client, with the engine's options,
// sent it to the server (its general log): a whole line that starts with
// "--", "#" or a NUL byte while no statement is pending is dropped, "--"
// before any statement text opens a comment whatever follows, and within a
// statement only before a blank, a NUL byte or the line's end.
TEST_F(SQLDumpScannerTest, CommentLinesAreDroppedWhereTheClientDropsThem) {
    for (const char* separator : {"--note\n", "-------\n", "-- ---\n", "--\n", "#x\n", "#\n",
                                  "  --x\n", "\t#x\n", "/* c */ --x;\n"}) {
        const Prepared result = prepared(std::string("SELECT 1;\n") + separator + "USE `shop`;\n");
        EXPECT_EQ(result.error, "") << separator;
        EXPECT_EQ(result.output, "SELECT 1;\nUSE `target`;\n") << separator;
        EXPECT_EQ(result.summary.statementCount, 2) << separator;
    }
    // Right after a delimiter, in mid-line, nothing is pending either.
    EXPECT_EQ(prepared("SELECT 1;--x;\nUSE `shop`;").output, "SELECT 1;\nUSE `target`;");
    EXPECT_EQ(refusal("USE shop;--x;\nUSE other;"), kMultiple);
    // Within a statement such a line is statement text.
    Prepared result = prepared("SELECT 1\n--x\n;\nUSE shop;");
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT 1\n--x\n", "USE shop"}));
    // "--" before a control byte other than a blank is text to the client:
    // the ";" after it ends the statement and the USE runs.
    EXPECT_EQ(refusal("USE shop;\nSELECT 1 --\x01;USE other;\n"), kMultiple);
    EXPECT_EQ(refusal("USE shop;\nSELECT 1 --\x7f;USE other;\n"), kMultiple);
    EXPECT_EQ(count("SELECT 1 --\x0b;USE other;\nSELECT 2;"), 1);
    EXPECT_EQ(count(std::string("SELECT 1 --\0;USE other;\nSELECT 2;", 33)), 1);
    // A line that starts with a NUL byte, nothing pending, is dropped.
    result = prepared(std::string("SELECT 1;\n\0USE other;\nSELECT 2;", 31));
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT 1", "SELECT 2"}));
    // "#" ends a word: the client and the server read DROP DATABASE.
    EXPECT_EQ(refusal("DROP#x\nDATABASE y;"), kDrops);
    EXPECT_EQ(refusal("SELECT 1;\ndrop#\n/* c */schema#;\n y;"), kDrops);
    EXPECT_EQ(refusal("DROP-- x\nDATABASE y;"), kDrops);
    // Only blanks are skipped before a statement: a control byte starts one.
    result = prepared("SELECT 1;\x01--x;\nSELECT 2;");
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT 1", "\x01--x", "SELECT 2"}));
}

// The sandbox line mariadb-dump writes first is statement text to the
// client, which runs its "\-" and leaves it out: a statement is pending
// after it, so a DELIMITER or comment line right after it is statement text.
TEST_F(SQLDumpScannerTest, TheSandboxLineStartsAStatement) {
    const std::string sandbox = "/*M!999999\\- enable the sandbox mode */\n";
    Prepared result = prepared(sandbox + "-- MariaDB dump\n--\n/*!40101 SET NAMES utf8mb4 */;\n");
    EXPECT_EQ(result.statements,
              (std::vector<std::string>{
                  "/*M!999999 enable the sandbox mode */\n\n\n/*!40101 SET NAMES utf8mb4 */"}));
    EXPECT_EQ(result.summary.statementCount, 1);
    EXPECT_EQ(count(sandbox + "DELIMITER $$\nSELECT 1$$;"), 1);
    EXPECT_EQ(count(sandbox + "-------\nSELECT 1;"), 1);
    // Its statement is read with the statement after it.
    EXPECT_EQ(prepared(sandbox + "USE `shop`;\nSELECT 1;").output, "\nUSE `target`;\nSELECT 1;");
    // The sandbox command alone leaves nothing pending.
    EXPECT_EQ(prepared("\\-\n--x\nUSE `shop`;").output, "\nUSE `target`;");
    // The examined text is what the client sends: however many comment
    // lines follow, the statement after them is read.
    std::string lines;
    while (lines.size() < 3 * SQLDumpStatement::headLimit)
        lines += "-- a comment line that says nothing;\n/* nor does this */\n";
    EXPECT_EQ(refusal(sandbox + lines + "DROP SCHEMA x;"), kDrops);
    EXPECT_EQ(refusal("/*!40101 */\n" + lines + "DROP DATABASE x;"), kDrops);
    EXPECT_EQ(refusal("SELECT 1;\n/*!*/ " + lines + "USE shop\nINSERT INTO t VALUES (1);"),
              "unended selection at byte 10");
}

// The client reads "\\\"" inside "..." as an escape unless the server
// reports ANSI_QUOTES, and "\\'" inside '...' unless it reports
// NO_BACKSLASH_ESCAPES: the dump's own mode decides, and only where the dump
// may have turned a flag on in a way not followed is the escape refused.
TEST_F(SQLDumpScannerTest, AnEscapedQuoteReadsByTheDumpsOwnMode) {
    // The default mode: an escape, as mariadb-dump writes a trigger.
    Prepared result = prepared("SELECT \"a\\\";\nSELECT 2;\n\";");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT \"a\\\";\nSELECT 2;\n\""}));
    EXPECT_EQ(count("SELECT 1;\n/*!40101 SELECT \"a\\\\\\\"b\" */;"), 2);
    EXPECT_EQ(count("SELECT \"a\\\\\", \"b\\n\", \"c\"\"d\", 'e\\'f', `g\\`;\nSELECT 2;"), 2);
    // After code that may set the mode, where the readings part.
    EXPECT_EQ(refusal("EXECUTE s;\nSELECT \"a\\\";\nSELECT 2;\n\";"),
              "ambiguous quote at byte 20 since 0");
    EXPECT_EQ(refusal("SELECT 1;\nEXECUTE s;\n/*!40101 SELECT \"a\\\\\\\"b\" */;"),
              "ambiguous quote at byte 41 since 10");
    EXPECT_EQ(refusal("EXECUTE s;\nSELECT 'it\\'s';"), "ambiguous escape at byte 21 since 0");
    EXPECT_EQ(refusal("SET STATEMENT sql_mode='' FOR SELECT 1;\nSELECT 'it\\'s';"),
              "ambiguous escape at byte 50 since 0");
    // A routine the dump did not make cannot exist in the new database.
    EXPECT_EQ(count("CALL p();\nSELECT 'it\\'s';"), 2);
    // A SET cut at the examined length may set anything.
    const std::string cut = "SET @a = '" + std::string(SQLDumpStatement::headLimit, 'x') + "';\n";
    EXPECT_EQ(refusal(cut + "SELECT 'it\\'s';"),
              "ambiguous escape at byte " + std::to_string(cut.size() + 10) + " since 0");
    // Where both readings agree it passes: other escapes, a doubled quote,
    // a quote of the other kind.
    EXPECT_EQ(count("EXECUTE s;\nSELECT \"a\\\\\", \"b\\n\", \"c\"\"d\", 'e\\\"f', 'g''h', `i\\`;"),
              2);
    // A literal SET settles the mode again.
    EXPECT_EQ(count("EXECUTE s;\nSET sql_mode='';\nSELECT \"a\\\";\";\nSELECT 'b\\'';"), 4);
}

// Under ANSI_QUOTES, set by the dump, "..." is a name and a backslash in it
// an ordinary byte: split as the client then splits.
TEST_F(SQLDumpScannerTest, TheDumpsAnsiQuotesModeIsReadAsTheClientReadsIt) {
    Prepared result = prepared("SET sql_mode='ANSI';\nSELECT \"p\\\"; SELECT 'x';-- \";\n"
                               "SET sql_mode='';\nSELECT \"p\\\"; SELECT 'y';-- \";\n");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.statements,
              (std::vector<std::string>{"SET sql_mode='ANSI'", "SELECT \"p\\\"", "SELECT 'x'",
                                        "SET sql_mode=''", "SELECT \"p\\\"; SELECT 'y';-- \""}));
    // The text sent reads the same way: a comment after the name is dropped.
    EXPECT_EQ(prepared("SET sql_mode='ANSI';\nSELECT \"p\\\" # c;\n, 1;").statements,
              (std::vector<std::string>{"SET sql_mode='ANSI'", "SELECT \"p\\\" \n, 1"}));
    // mariadb-dump --compatible=ansi: the names in double quotes act on the
    // target and name one database.
    result =
        prepared("/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO,ANSI' "
                 "*/;\nCREATE DATABASE /*!32312 IF NOT EXISTS*/ \"dq\" /*!40100 DEFAULT "
                 "CHARACTER SET latin1 */;\nUSE \"dq\";\nUSE `dq`;\nINSERT INTO \"t\" VALUES "
                 "('it\\'s');\n/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.summary.sourceDatabase, "dq");
    EXPECT_EQ(result.output, "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, "
                             "SQL_MODE='NO_AUTO_VALUE_ON_ZERO,ANSI' */;\nALTER DATABASE `target` "
                             "CHARACTER SET latin1;\nUSE `target`;\nUSE "
                             "`target`;\nUSE `target`;\nINSERT INTO \"t\" VALUES ('it\\'s');\n"
                             "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n");
    EXPECT_EQ(refusal("SET sql_mode='ANSI';\nUSE \"dq\";\nUSE dq2;"), kMultiple);
    EXPECT_EQ(refusal("SET sql_mode='ANSI';\nDROP DATABASE \"dq\";"), kDrops);
    // Off again, a double-quoted name is text as before.
    EXPECT_EQ(prepared("USE \"dq\";").summary.sourceDatabase, "\"dq\"");
}

// mariadb-dump --routines --triggers always sets the routine's own mode
// before it and restores the saved one after.
TEST_F(SQLDumpScannerTest, ATriggerAndProcedureWithEscapedDoubleQuotesAreAccepted) {
    const std::string set = "/*!50003 SET @saved_sql_mode       = @@sql_mode */ ;\n"
                            "/*!50003 SET sql_mode              = 'STRICT_TRANS_TABLES,ERROR_FOR_"
                            "DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION' */ ;\n";
    const std::string restore = "/*!50003 SET sql_mode              = @saved_sql_mode */ ;\n";
    const std::string dump =
        "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n"
        "INSERT INTO `t` VALUES\n(1,'it\\'s \\\"x\\\"');\n" +
        set +
        "DELIMITER ;;\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER "
        "t_bi BEFORE INSERT ON t FOR EACH ROW SET NEW.v = CONCAT(NEW.v, \"\\\"q\\\"\") \n*/;;\n"
        "DELIMITER ;\n" +
        restore + "INSERT INTO `u` VALUES (1,'it\\'s');\n" + set +
        "DELIMITER ;;\nCREATE DEFINER=`root`@`localhost` PROCEDURE `say`()\nSELECT \"He said "
        "\\\"no\\\" ;\" AS said\n;;\nDELIMITER ;\n" +
        restore + "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n";
    EXPECT_EQ(count(dump), 12);
    // Under ANSI_QUOTES from the dump's header, the restored mode reads the
    // rows after the trigger with it.
    const std::string ansi = "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='ANSI' */;\n" + set +
                             "DELIMITER ;;\n/*!50003 CREATE*/ /*!50003 TRIGGER t_bi BEFORE INSERT "
                             "ON t FOR EACH ROW SET NEW.v = \"\\\"\" */;;\nDELIMITER ;\n" +
                             restore + "SELECT \"a\\\"; SELECT 2;\n";
    EXPECT_EQ(prepared(ansi).statements.back(), "SELECT 2");
    // A trigger that sets the mode itself leaves it unknown for what runs
    // after it.
    EXPECT_EQ(refusal("CREATE TRIGGER t BEFORE INSERT ON x FOR EACH ROW SET sql_mode='ANSI';\n"
                      "INSERT INTO x VALUES (1);\nSELECT \"a\\\"\";"),
              "ambiguous quote at byte 105 since 70");
    // A routine that sets the mode changes nothing until it is called.
    const std::string routine = "DELIMITER ;;\nCREATE PROCEDURE p() BEGIN SELECT 1; SET "
                                "sql_mode='ANSI'; END;;\nDELIMITER ;\nSELECT 'a\\'';\n";
    EXPECT_EQ(count(routine), 2);
    EXPECT_EQ(refusal(routine + "CALL p();\nSELECT 'a\\'';"),
              "ambiguous escape at byte " + std::to_string(routine.size() + 19) + " since " +
                  std::to_string(routine.size()));
}

// The client lets the server run several statements from one text: after a
// ";" that is not the client's delimiter a further statement begins, which
// no delimiter of the dump ends and no exchange can reach.
TEST_F(SQLDumpScannerTest, StatementsTheServerRunsFromWithinOneAreReadToo) {
    EXPECT_EQ(count("DELIMITER $$\nSELECT 1; SELECT 2; INSERT INTO t VALUES ('USE x;')$$\n"), 1);
    // mariadb-dump's routines and triggers hold statements in their bodies.
    EXPECT_EQ(
        count("DELIMITER ;;\n/*!50003 CREATE*/ /*!50003 TRIGGER t BEFORE INSERT ON x FOR EACH "
              "ROW BEGIN SET NEW.a = 1; IF NEW.b THEN SET @c = 2; END IF; END */;;\n"
              "DELIMITER ;\n"),
        1);
    // Refused naming where the further statement's first word stands.
    for (const auto& [within, at] :
         std::vector<std::pair<std::string, int>>{{"USE shop", 22},
                                                  {"use`shop`", 22},
                                                  {"CREATE DATABASE x", 22},
                                                  {"CREATE OR REPLACE SCHEMA shop", 22},
                                                  {"ALTER DATABASE shop COLLATE latin1_bin", 22},
                                                  {" /* c */ USE shop", 31},
                                                  {"\n-- c\nUSE shop", 28}}) {
        EXPECT_EQ(refusal("DELIMITER $$\nSELECT 1;" + within + "$$\n"),
                  "selection within at byte " + std::to_string(at))
            << within;
    }
    EXPECT_EQ(refusal("DELIMITER $$\nSELECT 1; DROP DATABASE target$$\n"), kDrops);
    EXPECT_EQ(refusal("DELIMITER $$\nCREATE PROCEDURE p() BEGIN SELECT 1; END; DROP#\nSCHEMA x$$"),
              kDrops);
    // Also a text the first statement of which the client sends whole.
    EXPECT_EQ(refusal("DELIMITER //\nALTER DATABASE shop CHARSET latin1; USE shop//"),
              "selection within at byte 49");
    // Words that come only past the examined text leave it undecided.
    EXPECT_EQ(refusal("DELIMITER $$\nSELECT 1;CREATE" + std::string(9000, ' ') + "DATABASE x$$"),
              "selection within at byte 22");
    EXPECT_EQ(count("DELIMITER $$\nSELECT 1;SELECT" + std::string(9000, ' ') + "2$$"), 1);
}

// The client's order at each byte: a backslash command, the delimiter, a
// comment. "\C" changes the character set it reads the rest in: refused.
TEST_F(SQLDumpScannerTest, TheDelimiterComesBeforeCommentsAndTheCharsetCommandIsRefused) {
    EXPECT_EQ(count("DELIMITER #\nSELECT 1#SELECT 2#"), 2);
    EXPECT_EQ(count("DELIMITER /*\nSELECT 1/*SELECT 2/*"), 2);
    EXPECT_EQ(count("DELIMITER --\nSELECT 1--SELECT 2 --"), 2);
    // A whole line still goes first.
    const Prepared result = prepared("DELIMITER #\n#SELECT 1#\nSELECT 2#");
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT 2"}));
    EXPECT_EQ(refusal("SELECT 1;\n\\C gbk\nSELECT 2;"), "charset command at byte 10");
    EXPECT_EQ(refusal("SELECT 1 /*!40101 \\C big5 */;"), "charset command at byte 18");
    EXPECT_EQ(count("SELECT '\\C', \"\\C\", `\\`, 1 -- \\C\n;"), 1);
    // "\-" is left out, so the "-" after it opens no comment.
    EXPECT_EQ(refusal("USE shop;\nSELECT 1 \\-- x;\nUSE other;"), kMultiple);
}

// The client takes a DELIMITER command only at a line's start while nothing
// is pending, or as a whole statement; what it would take in another form
// than the plain one is refused.
TEST_F(SQLDumpScannerTest, DelimiterCommandsAreTakenWhereTheClientTakesThem) {
    EXPECT_EQ(count("DELIMITER\t$$\nSELECT 1; SELECT 2$$"), 1);
    EXPECT_EQ(count(" \tDELIMITER $$\nSELECT 1; SELECT 2$$"), 1);
    EXPECT_EQ(count("SELECT 1; DELIMITER $$ ;\nSELECT 2; SELECT 3$$SELECT 4$$"), 3);
    EXPECT_EQ(count("/* c */\nDELIMITER $$\nSELECT 1; SELECT 2$$"), 1);
    // Behind a comment on its line it is statement text.
    EXPECT_EQ(count("/* c */ DELIMITER $$\nSELECT 1$$SELECT 2$$"), 1);
    for (const std::string& dump : std::vector<std::string>{
             "DELIMITERS $$\nSELECT 1$$", "D\xC9LIMITER $$\nSELECT 1$$", "delimiter$$\nSELECT 1;",
             "DELIMITER\nSELECT 1;", "DELIMITER $$\t\nSELECT 1$$\t",
             "DELIMITER \xE2\x82\xAC;\nSELECT 1;",
             "SELECT 1;\n" + std::string(250, ' ') + "DELIMITER $$\nSELECT 1$$",
             "SELECT 1; DELIMITER $$;", "/* c */ DELIMITERS $$ ;"})
        EXPECT_EQ(refusal(dump), kDelimiter) << dump;
}

// A DELIMITER command that is a statement ended by the delimiter, behind
// other text on its line: the new delimiter applies from right after the
// old one, whatever their lengths.
TEST_F(SQLDumpScannerTest, ADelimiterStatementTakesEffectPastTheOldDelimiter) {
    EXPECT_EQ(refusal("SELECT 1; DELIMITER $$ ;DROP DATABASE shop$$"), kDrops);
    EXPECT_EQ(prepared("SELECT 1; DELIMITER $$ ;USE shop$$").output,
              "SELECT 1; DELIMITER $$ ;\nUSE `target`$$");
    EXPECT_EQ(prepared("DELIMITER ;;\nSELECT 1;; DELIMITER $$$ ;;USE shop$$$SELECT 2$$$").output,
              "DELIMITER ;;\nSELECT 1;; DELIMITER $$$ ;;\nUSE `target`$$$SELECT 2$$$");
    EXPECT_EQ(refusal("DELIMITER //\nSELECT 1// DELIMITER ; //DROP SCHEMA shop;"), kDrops);
    const Prepared result = prepared("SELECT 1; DELIMITER $$ ;SELECT 2$$SELECT 3$$");
    EXPECT_EQ(result.statements, (std::vector<std::string>{"SELECT 1", "SELECT 2", "SELECT 3"}));
}

// The client keeps 255 bytes of a DELIMITER line, counted from the line's
// start: one byte more may set a shorter delimiter than the line shows.
TEST_F(SQLDumpScannerTest, ADelimiterLineMayFillTheBytesTheClientKeeps) {
    const std::string longest = "DELIMITER" + std::string(244, ' ') + "$$";
    ASSERT_EQ(longest.size(), 255u);
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& before : {std::string(), std::string("SELECT 0;\n"), mark, mark + mark,
                                      std::string("SELECT 0;\n/* c */\n")}) {
        const std::string body = "\nSELECT 1; SELECT 2$$\nUSE shop$$\n";
        std::vector<std::string> statements{"SELECT 1; SELECT 2", "USE shop"};
        if (before.starts_with("SELECT 0"))
            statements.insert(statements.begin(), "SELECT 0");
        const Prepared result = prepared(before + longest + body);
        EXPECT_EQ(result.error, "") << before;
        EXPECT_EQ(result.statements, statements) << before;
        EXPECT_EQ(refusal(before + " " + longest + body), kDelimiter) << before;
        EXPECT_EQ(refusal(before + "DELIMITER" + std::string(245, ' ') + "$$" + body), kDelimiter)
            << before;
    }
    // Blanks before the name count too.
    EXPECT_EQ(count("  DELIMITER" + std::string(242, ' ') + "$$\nSELECT 1$$"), 1);
    EXPECT_EQ(refusal("  DELIMITER" + std::string(243, ' ') + "$$\nSELECT 1$$"), kDelimiter);
    // The same bound for the command written as a statement.
    const std::string statement = "DELIMITER" + std::string(243, ' ') + "$$ ";
    ASSERT_EQ(statement.size(), 255u);
    EXPECT_EQ(count("SELECT 0; " + statement + ";SELECT 1$$"), 2);
    EXPECT_EQ(refusal("SELECT 0; " + statement + " ;SELECT 1$$"), kDelimiter);
}

// mariadb-dump's ALTER DATABASE, CREATE OR REPLACE DATABASE and the run-on
// statements the client would send whole.
TEST_F(SQLDumpScannerTest, EveryStatementNamingTheDumpsDatabaseActsOnTheTarget) {
    Prepared result =
        prepared("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop`;\nUSE `shop`;\n"
                 "ALTER DATABASE `shop` CHARACTER SET utf8mb4 COLLATE "
                 "utf8mb4_general_ci ;\nDELIMITER ;;\nCREATE TRIGGER x;;\nDELIMITER ;\n"
                 "ALTER DATABASE `shop` CHARACTER SET latin1 COLLATE latin1_swedish_ci ;\n");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.output, "\nUSE `target`;\nUSE `target`;\nALTER DATABASE `target` CHARACTER "
                             "SET utf8mb4 COLLATE utf8mb4_general_ci ;\nDELIMITER ;;\nCREATE "
                             "TRIGGER x;;\nDELIMITER ;\n\nALTER DATABASE `target` CHARACTER SET "
                             "latin1 COLLATE latin1_swedish_ci ;\n");
    EXPECT_EQ(result.summary.statementCount, 5);
    EXPECT_EQ(refusal("USE shop;\nALTER DATABASE other COLLATE latin1_bin;"), kMultiple);
    result = prepared("CREATE OR REPLACE DATABASE `shop` CHARACTER SET utf8mb4;\nSELECT 1;");
    EXPECT_EQ(result.output,
              "\nALTER DATABASE `target` CHARACTER SET utf8mb4;\nUSE `target`;\nSELECT 1;");
    EXPECT_EQ(result.summary.sourceDatabase, "shop");
    EXPECT_EQ(refusal("USE shop;\nCREATE OR REPLACE DATABASE other;"), kMultiple);
    for (const char* runOn :
         {"CREATE DATABASE `shop`\n/*!40101 SET character_set_client = utf8 */;",
          "CREATE DATABASE `shop`\n/*!50001 CREATE VIEW `v` AS SELECT 1 */;",
          "CREATE DATABASE `shop`\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ "
          "/*!50003 TRIGGER t BEFORE INSERT ON x FOR EACH ROW SET NEW.a = 1 */;"})
        EXPECT_EQ(refusal(runOn), "unended selection at byte 0") << runOn;
}

TEST_F(SQLDumpScannerTest, ALongLeadingCommentCannotHideAStatement) {
    const std::string comment = "/*" + std::string(20000, 'c') + "*/\n";
    EXPECT_EQ(refusal(comment + "DROP DATABASE shop;"), kDrops);
    std::string lines;
    while (lines.size() < 3 * SQLDumpScanner::smallestWindow + 9000)
        lines += "-- a comment line that says nothing;\n";
    EXPECT_EQ(refusal("/*M!999999\\- enable the sandbox mode */\n" + lines + "DROP SCHEMA x;"),
              kDrops);
    // The whole statement is replaced, its leading comment too, also after
    // the comment has already been written out.
    const Prepared result = prepared("SELECT 1;" + lines + "USE `shop`;\nSELECT 2;");
    EXPECT_EQ(result.output, "SELECT 1;\nUSE `target`;\nSELECT 2;");
    EXPECT_EQ(result.summary.statementCount, 3);
    // The head stays bounded: eight kilobytes of executable comments
    // without words leave no token in it, so the statement is refused
    // unread.
    std::string empty;
    while (empty.size() < 10000)
        empty += "/*!*/";
    EXPECT_EQ(refusal("SELECT 1;" + empty + " USE shop;"), "unended selection at byte 9");
    std::string versioned;
    for (int i = 0; i < 900; ++i)
        versioned += "/*!40101 */";
    EXPECT_EQ(refusal("SELECT 1;\n" + versioned + "CREATE DATABASE other_db;"),
              "unended selection at byte 10");
    EXPECT_EQ(refusal("SELECT 1;/*!40101" + std::string(9000, ' ') + "*/ USE other_db;"),
              "unended selection at byte 9");
    EXPECT_EQ(refusal("SELECT 1;/*M!100000" + std::string(9000, '\n') + "*/ USE other_db;"),
              "unended selection at byte 9");
    // Fewer of them leave the statement's words in the head.
    EXPECT_EQ(prepared("SELECT 1;" + empty.substr(0, 8000) + " USE shop;").output,
              "SELECT 1;\nUSE `target`;");
    EXPECT_EQ(count("SELECT 1;" + versioned.substr(0, 8096) + " SELECT 2;"), 2);
}

TEST_F(SQLDumpScannerTest, ByteOrderMarkIsDroppedAndALastStatementNeedsNoDelimiter) {
    EXPECT_EQ(prepared("\xEF\xBB\xBFSELECT 1;").output, "SELECT 1;");
    EXPECT_EQ(prepared("\xEF\xBB\xBFUSE shop;").output, "\nUSE `target`;");
    // A mark later on is ordinary text.
    EXPECT_EQ(count("SELECT 1;\xEF\xBB\xBFSELECT 2;"), 2);
    EXPECT_EQ(count("SELECT 1;\nSELECT 2"), 2);
    const Prepared last = prepared("SELECT 1;\nUSE shop -- trailing");
    EXPECT_EQ(last.output, "SELECT 1;\nUSE `target`");
    EXPECT_EQ(last.summary.statementCount, 2);
}

// The client drops the mark that begins its input; a dump that begins with
// two marks has the second one dropped by the client.
TEST_F(SQLDumpScannerTest, TheClientDropsASecondByteOrderMark) {
    const std::string mark = "\xEF\xBB\xBF";
    Prepared result = prepared(mark + mark +
                               "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `src`;\nUSE `src`;\n"
                               "SELECT 1;");
    EXPECT_EQ(result.output, mark + "\nUSE `target`;\nUSE `target`;\nSELECT 1;");
    EXPECT_EQ(result.summary.sourceDatabase, "src");
    EXPECT_EQ(refusal(mark + mark + "DROP DATABASE src;"), kDrops);
    result = prepared(mark + mark + "-- c\nDELIMITER ;;\nSELECT 1; SELECT 2;;");
    EXPECT_EQ(result.summary.statementCount, 1);
    // A third is statement text, which the server does not take for a word.
    result = prepared(mark + mark + mark + "USE shop;");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.output, mark + mark + "USE shop;");
    EXPECT_EQ(result.statements, (std::vector<std::string>{mark + "USE shop"}));
    EXPECT_EQ(refusal(mark + mark), kEmpty);
}

// The client sends a NUL byte for a line feed that a backslash escapes
// inside '...' or "..." and puts a line feed over the next line's first
// byte: 'a\<LF>b' reaches the server as 'a\<NUL><LF><LF>'. That is refused;
// elsewhere a backslash before a line's end is dropped.
TEST_F(SQLDumpScannerTest, ABackslashEndingALineInsideAQuoteIsRefused) {
    EXPECT_EQ(refusal("SELECT 'a\\\nb', 'c';"), "escaped line end at byte 9");
    EXPECT_EQ(refusal("SELECT \"a\\\nb\";"), "escaped line end at byte 9");
    // What it hides from a reading that keeps the next line's first byte.
    EXPECT_EQ(refusal("SELECT 'a\\\n''; USE other_db; SELECT '';"), "escaped line end at byte 9");
    EXPECT_EQ(refusal("/*!40101 SET @a = 'x\\\n' */;"), "escaped line end at byte 20");
    EXPECT_EQ(refusal("DELIMITER ;;\nCREATE PROCEDURE p() SELECT 'a\\\n';;"),
              "escaped line end at byte 43");
    // An escaped backslash, a backslash in backticks or outside quotes, and
    // one before a carriage return pass.
    EXPECT_EQ(count("SELECT 'a\\\\\nb', \"\\\\\n\";"), 1);
    EXPECT_EQ(count("SELECT `a\\\nb`;"), 1);
    EXPECT_EQ(count("SELECT 1 \\\n, 2;"), 1);
    EXPECT_EQ(count("SELECT 'a\\\r\nb';\r\n"), 1);
    // Wherever the line end falls among 64-byte steps, after runs of
    // backslashes of either length, and behind a closing quote.
    for (std::size_t pad = 0; pad < 140; ++pad) {
        for (std::size_t run : {1, 2, 3, 64, 65}) {
            const std::string dump =
                "SELECT '" + std::string(pad, 'x') + std::string(run, '\\') + "\nb', 'c';\n";
            const Prepared result = prepared(dump);
            if (run % 2 == 0)
                EXPECT_EQ(result.error, "") << pad << " " << run;
            else
                EXPECT_EQ(result.error,
                          "escaped line end at byte " + std::to_string(8 + pad + run - 1))
                    << pad << " " << run;
        }
        EXPECT_EQ(count("SELECT '" + std::string(pad, 'x') + "' \\\n, 'b\\\\\n';"), 1) << pad;
        EXPECT_EQ(count("SELECT '" + std::string(pad, 'x') + "''' \\\n, 1;"), 1) << pad;
    }
}

TEST_F(SQLDumpScannerTest, EmptyCommentOnlyAndUnterminatedDumpsAreRefused) {
    EXPECT_EQ(refusal(""), kEmpty);
    EXPECT_EQ(refusal("\xEF\xBB\xBF"), kEmpty);
    EXPECT_EQ(refusal("-- a\n/* b; */\n# c\n \t\n;;\n/*M!999999\\- sandbox */\n"), kEmpty);
    EXPECT_EQ(refusal("DELIMITER ;;\n;;\nDELIMITER ;\n"), kEmpty);
    for (const char* dump : {"SELECT 'abc", "SELECT \"a\\", "SELECT `a", "SELECT 1; /* x",
                             "SELECT 'it''", "SELECT 1; /*/"})
        EXPECT_EQ(refusal(dump), kUnterminated) << dump;
    // An executable comment left open, also past a delimiter inside it or
    // behind a quoted "*/", would fail on the server: refused here.
    for (const char* dump : {"SELECT 1; /*! SET x", "/*!40101 SET @a=1;\nSELECT 2;",
                             "/*M!100000 SELECT '*/' ;", "/*!40101 SELECT /* c */ 1;"})
        EXPECT_EQ(refusal(dump), kUnterminated) << dump;
    EXPECT_EQ(count("/*!40101 SELECT /* c */ 1 */;/*!*/;"), 1);
    // An unterminated line comment is fine, and so is "--" at the very end.
    EXPECT_EQ(count("SELECT 1; -- x"), 1);
    EXPECT_EQ(count("SELECT 1 --"), 1);
    EXPECT_EQ(count("SELECT 1 \\"), 1);
}

// A dump made on the fly: prefix, `fill` bytes of filler, suffix.
class GeneratedSource final : public SQLDumpScanner::Source {
public:
    GeneratedSource(std::string prefix, std::uint64_t fill, std::string suffix)
        : prefix_(std::move(prefix)), suffix_(std::move(suffix)), fill_(fill) {}

    std::size_t read(char* into, std::size_t capacity) override {
        const std::uint64_t total = prefix_.size() + fill_ + suffix_.size();
        std::size_t count = 0;
        while (count < capacity && offset_ < total) {
            if (offset_ < prefix_.size()) {
                into[count++] = prefix_[offset_++];
            } else if (offset_ < prefix_.size() + fill_) {
                const std::size_t run = std::size_t(
                    std::min<std::uint64_t>(capacity - count, prefix_.size() + fill_ - offset_));
                std::memset(into + count, 'x', run);
                count += run;
                offset_ += run;
            } else {
                into[count++] = suffix_[offset_++ - prefix_.size() - fill_];
            }
        }
        return count;
    }

private:
    std::string prefix_;
    std::string suffix_;
    std::uint64_t fill_;
    std::uint64_t offset_ = 0;
};

class CountingSink final : public SQLDumpScanner::Sink {
public:
    void write(std::string_view bytes) override { size += bytes.size(); }
    void truncate(std::uint64_t to) override { size = to; }
    void overwrite(std::uint64_t, std::string_view) override {}
    std::uint64_t size = 0;
};

std::string scanGenerated(std::string prefix, std::uint64_t fill, std::string suffix,
                          std::uint64_t* written = nullptr) {
    GeneratedSource source(std::move(prefix), fill, std::move(suffix));
    CountingSink sink;
    try {
        SQLDumpScanner::scan(source, sink, "target");
    } catch (const std::exception& error) {
        return error.what();
    }
    if (written)
        *written = sink.size;
    return "";
}

TEST_F(SQLDumpScannerTest, AStatementMayHoldUpToSixtyFourMebibytes) {
    const std::string prefix = "SELECT 1;\nINSERT INTO t VALUES ('";
    const std::string close = "')";
    // From just after "SELECT 1;" up to its ";": exactly the limit.
    const std::uint64_t fill = SQLDumpScanner::statementLimit - (prefix.size() - 9) - close.size();
    std::uint64_t written = 0;
    EXPECT_EQ(scanGenerated(prefix, fill, close + ";\n", &written), "");
    EXPECT_EQ(written, prefix.size() + fill + close.size() + 2);
    EXPECT_EQ(scanGenerated(prefix, fill + 1, close + ";\n"), kTooLong);
    // Without a delimiter at the end, and inside a comment, alike.
    EXPECT_EQ(scanGenerated(prefix, fill, close), "");
    EXPECT_EQ(scanGenerated(prefix, fill + 1, close), kTooLong);
    EXPECT_EQ(scanGenerated("SELECT 1;\n/*", SQLDumpScanner::statementLimit, "*/;"), kTooLong);
    // A large comment-only stretch before a DELIMITER command counts too.
    EXPECT_EQ(scanGenerated("SELECT 1;\n#", SQLDumpScanner::statementLimit, "\nDELIMITER ;;\n"),
              kTooLong);
}

// Random dumps made of statements whose ends are known: splitting and
// joining again must lose and add no byte, count every statement and
// replace exactly the USE statements.
class DumpGenerator {
public:
    explicit DumpGenerator(unsigned seed) : random_(seed) {}

    void build() {
        const bool crlf = pick(4) == 0;
        newline_ = crlf ? "\r\n" : "\n";
        if (pick(3) == 0)
            pending_ = "/*M!999999\\- enable the sandbox mode */ " + newline_;
        const int wanted = 1 + pick(40);
        for (int i = 0; i < wanted; ++i) {
            // After the sandbox line a statement is pending, so a DELIMITER
            // line would be statement text.
            switch (pending_.empty() ? pick(8) : 2 + pick(6)) {
            case 0:
                delimiterBlock();
                break;
            case 1:
                selectDatabase();
                break;
            default:
                statement(";");
            }
        }
        if (pick(2) == 0) // a last statement without delimiter
            add(leading(), body(), "", true);
        // A delimiter that holds a line's carriage return ends at a line end.
        dump += newline_;
        expected += newline_;
    }

    std::string dump, expected;
    std::int64_t statements = 0;

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    // Bytes that upset splitters, for inside quotes and comments.
    std::string noise() {
        static const std::vector<std::string> parts = {";",
                                                       ";;",
                                                       "$$",
                                                       "'",
                                                       "\"",
                                                       "`",
                                                       "\\",
                                                       "*/",
                                                       "/*",
                                                       "/*!",
                                                       "-- ",
                                                       "#",
                                                       "\n",
                                                       "\r\n",
                                                       "DELIMITER ;;",
                                                       "USE shop",
                                                       "DROP DATABASE x",
                                                       "x",
                                                       "\xC3\xA9",
                                                       "\t",
                                                       std::string(1, '\0')};
        std::string text;
        const int n = pick(6);
        for (int i = 0; i < n; ++i)
            text += parts[std::size_t(pick(int(parts.size())))];
        return text;
    }

    std::string quoted(char quote) {
        std::string text(1, quote);
        for (char c : noise()) {
            // A backslash before a double quote is refused: the client's
            // reading of it depends on the SQL mode.
            if (c == quote)
                text += quote != '\'' || pick(2) ? std::string(2, quote) : std::string("\\") + c;
            else if (c == '\\' && quote != '`')
                text += "\\\\";
            else
                text += c;
        }
        return text + quote;
    }

    std::string comment() {
        switch (pick(3)) {
        case 0: {
            std::string text = noise();
            text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
            return "-- " + text + newline_;
        }
        case 1: {
            std::string text = noise();
            text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
            return "#" + text + newline_;
        }
        default: {
            // Neither its end nor another opener inside: after a "/*!" the
            // client would not end it at its "*/".
            std::string text = noise();
            std::size_t at;
            while ((at = text.find("*/")) != std::string::npos ||
                   (at = text.find("/*")) != std::string::npos)
                text.erase(at, 2);
            if (!text.empty() && text.back() == '*')
                text.pop_back();
            return "/* " + text + "*/";
        }
        }
    }

    std::string leading() {
        std::string text = newline_;
        const int n = pick(3);
        for (int i = 0; i < n; ++i)
            text += comment() + (pick(2) ? newline_ : std::string(" "));
        return text;
    }

    std::string body() {
        const bool executable = pick(2) == 0;
        std::string text = executable ? "/*!40101 SELECT " : "INSERT INTO `t` VALUES (";
        const int values = 1 + pick(5);
        for (int i = 0; i < values; ++i) {
            // On the line of a "/*!", the client would not end a comment at
            // its "*/".
            if (i > 0)
                text += pick(2) || executable ? "," : ", /* c */ ";
            switch (pick(4)) {
            case 0:
                text += std::to_string(pick(1000));
                break;
            case 1:
                text += quoted('\'');
                break;
            case 2:
                text += quoted('"');
                break;
            default:
                text += quoted('`');
            }
        }
        return text + (text[0] == 'I' ? ")" : " */");
    }

    // One statement: what precedes it since the last delimiter (blanks,
    // comments, a pending sandbox line), its text and its delimiter.
    void add(std::string lead, const std::string& text, const std::string& delimiter,
             bool counted = false, bool replaced = false) {
        lead = std::exchange(pending_, "") + lead;
        dump += lead + text + delimiter;
        // The client keeps a DELIMITER line's carriage return in the
        // delimiter: the line end after a statement begins with its end.
        const bool owed = carriageReturnOwed_ && lead.starts_with("\r");
        expected += replaced ? (owed ? "\r" : "") + ("\nUSE `target`" + delimiter)
                             : lead + text + delimiter;
        carriageReturnOwed_ = afterDelimiterLine_ && !delimiter.empty();
        statements += counted ? 1 : 0;
    }

    void statement(const std::string& delimiter) { add(leading(), body(), delimiter, true); }

    void selectDatabase() {
        add(leading(), pick(2) ? "USE `shop`" : "CREATE DATABASE /*!32312 IF NOT EXISTS*/ shop",
            ";", true, true);
    }

    void delimiterBlock() {
        const std::string delimiter = pick(2) ? ";;" : "$$";
        add(leading() + newline_ + "DELIMITER " + delimiter + newline_, "", "");
        afterDelimiterLine_ = newline_ == "\r\n";
        const int n = 1 + pick(3);
        for (int i = 0; i < n; ++i) {
            if (pick(5) == 0) {
                add(leading(), "USE shop", delimiter, true, true);
            } else {
                add(leading(),
                    "CREATE PROCEDURE p() BEGIN " + body() + "; SELECT " + quoted('\'') + "; END",
                    delimiter, true);
            }
        }
        add(newline_ + "DELIMITER ;" + newline_, "", "");
    }

    std::mt19937 random_;
    std::string newline_;
    std::string pending_;
    bool afterDelimiterLine_ = false;
    bool carriageReturnOwed_ = false;
};

TEST_F(SQLDumpScannerTest, SplittingAndJoiningLosesAndAddsNoByte) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        DumpGenerator generator(seed);
        generator.build();
        const Prepared result = SQLDumpTesting::scanned(generator.dump, "target");
        ASSERT_EQ(result.error, "") << "seed " << seed << ":\n" << generator.dump;
        ASSERT_EQ(result.output, generator.expected) << "seed " << seed;
        ASSERT_EQ(result.summary.statementCount, generator.statements) << "seed " << seed;
        const Prepared pieces = SQLDumpTesting::scanned(
            generator.dump, "target", SQLDumpScanner::smallestWindow, {seed % 97 + 1, 3, 1000});
        ASSERT_EQ(pieces.output, result.output) << "seed " << seed;
        ASSERT_EQ(pieces.summary, result.summary) << "seed " << seed;
    }
}

// Inputs the fuzz target once tripped over, kept as regression cases.
TEST_F(SQLDumpScannerTest, FuzzFindingsStayFixed) {
    const std::filesystem::path folder =
        std::filesystem::path(VESSORA_FIXTURES_DIR) / "sqldump-fuzz";
    std::size_t cases = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        EXPECT_EQ(SQLDumpTesting::differences(bytes.str()), "") << entry.path().filename();
        ++cases;
    }
    EXPECT_GT(cases, 0u);
}

} // namespace
} // namespace vessora
