// The session's ANSI_QUOTES and NO_BACKSLASH_ESCAPES flags followed through
// the statements of a dump. Each form was run on Debian's MariaDB 10.11
// server through the mariadb client, which showed by its reading of
// "p\"; SELECT 2;" whether it then had ANSI_QUOTES on, and SELECT @@sql_mode
// the server's own mode.
#include "VessoraCore/Import/SQLDumpSqlMode.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vessora {
namespace {

using Flag = SQLDumpSqlMode::Flag;

constexpr Flag off = Flag::off;
constexpr Flag on = Flag::on;
constexpr Flag unknown = Flag::unknown;

struct Case {
    std::vector<std::string> statements;
    Flag ansiQuotes;
    Flag noBackslashEscapes = off;
};

SQLDumpSqlMode::Flags after(const std::vector<std::string>& statements) {
    SQLDumpSqlMode mode;
    for (const std::string& statement : statements)
        mode.ran(statement, false);
    return mode.flags();
}

TEST(SQLDumpSqlModeTest, SetFormsChangeTheSessionsFlagsAsOnTheServer) {
    EXPECT_EQ(SQLDumpSqlMode().flags(), (SQLDumpSqlMode::Flags{off, off}));
    const std::vector<Case> cases = {
        {{"SET SESSION sql_mode='ANSI_QUOTES'"}, on},
        {{"SET LOCAL sql_mode='ANSI_QUOTES'"}, on},
        {{"SET @@session.sql_mode='ANSI_QUOTES'"}, on},
        {{"SET @@local.sql_mode='ANSI_QUOTES'"}, on},
        {{"SET @@sql_mode='ANSI_QUOTES'"}, on},
        {{"SET sql_mode := 'ANSI_QUOTES'"}, on},
        {{"SET sql_mode = \"ANSI_QUOTES\""}, on},
        {{"SET sql_mode = ansi_quotes"}, on},
        {{"SET sql_mode = `ansi_quotes`"}, on},
        {{"set  SESSION\n  sql_mode /* c */ = 'ANSI_QUOTES'"}, on},
        {{"SET sql_mode = ',,ANSI_QUOTES,'"}, on},
        {{"SET sql_mode='oracle'"}, on},
        {{"SET sql_mode='POSTGRESQL'"}, on},
        {{"SET sql_mode='mssql,DB2'"}, on},
        {{"SET sql_mode='MAXDB'"}, on},
        {{"SET sql_mode='TRADITIONAL'"}, off},
        {{"SET sql_mode='MYSQL40'"}, off},
        {{"SET NAMES utf8mb4, sql_mode='ANSI'"}, on},
        {{"SET session sql_mode='ANSI', @a=1"}, on},
        {{"SET sql_mode='ANSI'", "SET sql_mode=''"}, off},
        {{"SET sql_mode='ANSI'", "SET sql_mode=DEFAULT"}, off},
        {{"SET @v = 'ANSI_QUOTES'", "SET sql_mode = @V"}, on},
        // Executable comments as the server runs them.
        {{"/*!50003 SET sql_mode = 'ANSI' */"}, on},
        {{"/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO,ANSI' */"}, on},
        {{"/*!80000 SET sql_mode = 'ANSI' */"}, off}, // MySQL 5.7 and later only
        {{"/*!101100 SET sql_mode = 'ANSI' */"}, on},
        {{"/*M!101200 SET sql_mode = 'ANSI' */"}, off},
        {{"/*!101200 SET sql_mode = 'ANSI' */"}, off},
        {{"/*!101150 SET sql_mode = 'ANSI' */"}, unknown}, // depends on the release
        // mariadb-dump's header and its restore.
        {{"SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='ANSI'", "SET SQL_MODE=@old_sql_mode"}, off},
        {{"SET sql_mode='ANSI'", "/*!50003 SET @saved_sql_mode = @@sql_mode */",
          "/*!50003 SET sql_mode = 'STRICT_TRANS_TABLES' */",
          "/*!50003 CREATE*/ /*!50017 "
          "DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER t BEFORE INSERT ON t FOR EACH ROW SET "
          "NEW.v = \"a\" */",
          "/*!50003 SET sql_mode = @saved_sql_mode */"},
         on},
        // Refused by the server: the load stops there.
        {{"SET sql_mode = ' ansi_quotes '"}, unknown},
        {{"SET sql_mode = 'ANSI_QUOTES,nonsense'"}, unknown},
        // What cannot be evaluated.
        {{"SET sql_mode=32768"}, unknown},
        {{"SET sql_mode=CONCAT(@@sql_mode, ',ANSI_QUOTES')"}, unknown},
        {{"SET sql_mode = (SELECT 'ANSI_QUOTES')"}, unknown},
        {{"SET sql_mode = @never_set"}, unknown},
        {{"SET @v = 'ANSI'", "SELECT 1 INTO @v", "SET sql_mode = @v"}, unknown},
        {{"SET @v = 'ANSI'", "INSERT INTO t VALUES (1)", "SET sql_mode = @v"}, unknown},
        // SET STATEMENT: the server restores its mode, not the flags it
        // reported (the client reads on with ANSI_QUOTES after this one).
        {{"SET STATEMENT sql_mode='ANSI_QUOTES' FOR SELECT 1"}, unknown},
        {{"SET sql_mode='ANSI'", "SET STATEMENT sql_mode='' FOR SELECT 1"}, unknown},
        // Code run in place, and code that reports flags it set.
        {{"CALL p()"}, unknown},
        {{"PREPARE s FROM 'SET sql_mode=''ANSI_QUOTES'''", "EXECUTE s"}, unknown},
        {{"BEGIN NOT ATOMIC SET sql_mode='ANSI'"}, unknown},
        {{"IF 1 THEN SET @a = 1"}, unknown},
        {{"CREATE TRIGGER tr BEFORE INSERT ON tt FOR EACH ROW SET sql_mode='ANSI_QUOTES'",
          "INSERT INTO tt VALUES (1)"},
         unknown,
         unknown},
        {{"CREATE TRIGGER tr BEFORE INSERT ON tt FOR EACH ROW SET NEW.a = 1",
          "INSERT INTO tt VALUES (1)"},
         off},
        // The global mode, for a later DEFAULT; the session keeps its own.
        {{"SET GLOBAL sql_mode='ANSI'"}, off},
        {{"SET GLOBAL sql_mode='ANSI'", "SET sql_mode=DEFAULT"}, unknown},
        {{"SET @@global.sql_mode='ANSI'", "SET sql_mode=@@global.sql_mode"}, unknown},
        {{"SET sql_mode=@@global.sql_mode"}, off},
    };
    for (const Case& c : cases) {
        const SQLDumpSqlMode::Flags flags = after(c.statements);
        std::string described;
        for (const std::string& statement : c.statements)
            described += statement + ";\n";
        EXPECT_EQ(flags.ansiQuotes, c.ansiQuotes) << described;
        const Flag escapes = c.ansiQuotes == unknown ? unknown : c.noBackslashEscapes;
        EXPECT_EQ(flags.noBackslashEscapes, escapes) << described;
    }
}

TEST(SQLDumpSqlModeTest, AnsiQuotesChangesHowADoubleQuotedValueReads) {
    SQLDumpSqlMode mode;
    mode.ran("SET sql_mode='ANSI'", false);
    // Now "..." is a name, not a mode list.
    mode.ran("SET sql_mode = \"ANSI_QUOTES,NO_AUTO_VALUE_ON_ZERO\"", false);
    EXPECT_EQ(mode.flags().ansiQuotes, on);
    SQLDumpSqlMode plain;
    plain.ran("SET sql_mode = \"\"", false);
    EXPECT_EQ(plain.flags(), (SQLDumpSqlMode::Flags{off, off}));
}

TEST(SQLDumpSqlModeTest, StatementsWithinOneAndCutOnesMakeTheModeUnknown) {
    // A SET of sql_mode after a ";" within a statement may run now.
    SQLDumpSqlMode mode;
    mode.ranWithin(" SET sql_mode='ANSI'", false);
    mode.ran("CREATE PROCEDURE p() BEGIN SELECT 1", false);
    EXPECT_EQ(mode.flags().ansiQuotes, unknown);
    // A literal SET afterwards settles it again until code may run.
    mode.ran("SET sql_mode=''", false);
    EXPECT_EQ(mode.flags().ansiQuotes, off);
    mode.ranUnread();
    EXPECT_EQ(mode.flags().ansiQuotes, unknown); // the body above may run from any statement

    SQLDumpSqlMode cut;
    cut.ran("SET @a = '" + std::string(100, 'x'), true);
    EXPECT_EQ(cut.flags().ansiQuotes, unknown);
    SQLDumpSqlMode other;
    other.ran("SET NAMES utf8mb4", false);
    other.ran("SET @a = 1, time_zone = '+00:00'", false);
    other.ran("/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */", false);
    other.ranWithin(" SET NEW.a = 1", false);
    other.ran("CREATE TRIGGER t BEFORE INSERT ON x FOR EACH ROW BEGIN SET @b = 2", false);
    other.ranUnread();
    EXPECT_EQ(other.flags(), (SQLDumpSqlMode::Flags{off, off}));
    // A saved mode survives what cannot assign it.
    SQLDumpSqlMode saved;
    saved.ran("SET sql_mode='ANSI'", false);
    saved.ran("SET @saved_sql_mode = @@sql_mode", false);
    saved.ran("SET sql_mode = ''", false);
    saved.ranWithin(" SET @other = 1", false);
    saved.ran("CREATE DEFINER=`root`@`localhost` PROCEDURE p() BEGIN SELECT 1", false);
    saved.ran("DROP PROCEDURE IF EXISTS q", false);
    saved.ran("SET sql_mode = @SAVED_SQL_MODE", false);
    EXPECT_EQ(saved.flags().ansiQuotes, on);
    saved.ranWithin(" SET @saved_sql_mode = ''", false);
    saved.ran("SELECT 1", false);
    saved.ran("SET sql_mode = @saved_sql_mode", false);
    EXPECT_EQ(saved.flags().ansiQuotes, unknown);
}

TEST(SQLDumpSqlModeTest, AnEventKeepsTheModeSavedAroundIt) {
    const auto dumpsEvent = [](SQLDumpSqlMode& mode, const std::string& event) {
        mode.ran("/*!50003 SET @saved_sql_mode       = @@sql_mode */ ", false);
        mode.ran("/*!50003 SET sql_mode              = 'STRICT_TRANS_TABLES' */ ", false);
        mode.ran("/*!50003 SET @saved_time_zone      = @@time_zone */ ", false);
        mode.ran(event, false);
        mode.ran("/*!50003 SET time_zone             = @saved_time_zone */ ", false);
        mode.ran("/*!50003 SET sql_mode              = @saved_sql_mode */ ", false);
    };
    // mariadb-dump's event section: the body runs later, in another session.
    SQLDumpSqlMode ansi;
    ansi.ran("SET sql_mode='ANSI_QUOTES'", false);
    dumpsEvent(ansi, "/*!50106 CREATE*/ /*!50117 DEFINER=`root`@`localhost`*/ /*!50106 EVENT "
                     "`nightly` ON SCHEDULE EVERY 1 DAY STARTS '2035-01-01 03:00:00' DO INSERT "
                     "INTO audit VALUES (CONCAT(\"a \\\"b\\\" ;\", 'c'), @n := 1)\n*/ ");
    EXPECT_EQ(ansi.flags(), (SQLDumpSqlMode::Flags{on, off}));
    // A schedule that names the saved variable may assign it now.
    SQLDumpSqlMode named;
    named.ran("SET sql_mode='ANSI_QUOTES'", false);
    dumpsEvent(named, "CREATE EVENT e ON SCHEDULE AT (@saved_sql_mode := NOW()) DO SELECT 1");
    EXPECT_EQ(named.flags().ansiQuotes, unknown);
    // Code the dump made that sets the mode may run from the schedule.
    SQLDumpSqlMode called;
    called.ran("CREATE FUNCTION f() RETURNS INT BEGIN SET sql_mode = 'ANSI'", false);
    called.ran("CREATE EVENT e ON SCHEDULE AT f() DO SELECT 1", false);
    EXPECT_EQ(called.flags().ansiQuotes, unknown);
}

TEST(SQLDumpSqlModeTest, ModeListsFollowTheServersNames) {
    SQLDumpSqlMode::Flags flags;
    EXPECT_TRUE(SQLDumpSqlMode::modes("", flags));
    EXPECT_EQ(flags, (SQLDumpSqlMode::Flags{off, off}));
    EXPECT_TRUE(SQLDumpSqlMode::modes("no_backslash_escapes,Ansi", flags));
    EXPECT_EQ(flags, (SQLDumpSqlMode::Flags{on, on}));
    EXPECT_TRUE(SQLDumpSqlMode::modes(
        "STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION",
        flags));
    EXPECT_EQ(flags, (SQLDumpSqlMode::Flags{off, off}));
    EXPECT_FALSE(SQLDumpSqlMode::modes("ANSI_QUOTE", flags));
    EXPECT_FALSE(SQLDumpSqlMode::modes(" ANSI", flags));
    EXPECT_TRUE(SQLDumpSqlMode::unreadSuffices("INSERT INTO t VALUES (1)"));
    for (const char* head : {"CALL p()", "call p", "BEGIN NOT ATOMIC", "label: LOOP", "lbl :BEGIN",
                             "EXECUTE s", "IF 1 THEN", "FOR i IN 1..3 DO"})
        EXPECT_FALSE(SQLDumpSqlMode::unreadSuffices(head)) << head;
}

} // namespace
} // namespace vessora
