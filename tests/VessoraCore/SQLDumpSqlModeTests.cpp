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

// Debian's server, on which the forms were run.
constexpr SQLDumpRelease debian{101119, 101119};

SQLDumpSqlMode::Flags after(const std::vector<std::string>& statements) {
    SQLDumpSqlMode mode(debian);
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
        {{"SET sql_mode='mssql'"}, on},
        {{"SET sql_mode='DB2'"}, on},
        {{"SET sql_mode='ansi'"}, on},
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
        {{"/*!101150 SET sql_mode = 'ANSI' */"}, off}, // a later release
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
        {{"SET @v = 'ANSI'", "INSERT INTO t VALUES (@v := 1)", "SET sql_mode = @v"}, unknown},
        {{"SET @v = 'ANSI'", "INSERT INTO t VALUES (1)", "SET sql_mode = @v"}, on},
        // SET STATEMENT: the server restores its mode, not the flags it
        // reported (the client reads on with ANSI_QUOTES after this one).
        {{"SET STATEMENT sql_mode='ANSI_QUOTES' FOR SELECT 1"}, unknown},
        {{"SET sql_mode='ANSI'", "SET STATEMENT sql_mode='' FOR SELECT 1"}, unknown},
        // Code run in place, and code that reports flags it set. A routine
        // the dump did not make cannot exist in the new database.
        {{"CALL p()"}, off},
        {{"CREATE PROCEDURE p() SET sql_mode='ANSI'", "CALL p()"}, unknown},
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

TEST(SQLDumpSqlModeTest, StatementsWithinOneRunInOrderUnlessTheyAreABody) {
    // A body's pieces run later, when its code runs.
    SQLDumpSqlMode mode;
    mode.firstWithin("CREATE PROCEDURE p() BEGIN SELECT 1", false);
    mode.ranWithin(" SET sql_mode='ANSI'", false);
    mode.ranWithin(" END", false);
    mode.ran("CREATE PROCEDURE p() BEGIN SELECT 1; SET sql_mode='ANSI'; END", false);
    EXPECT_EQ(mode.flags(), (SQLDumpSqlMode::Flags{off, off}));
    mode.ranUnread();
    EXPECT_EQ(mode.flags().ansiQuotes, unknown); // any statement may call it now
    mode.ran("SET sql_mode=''", false);
    mode.ran("SELECT p2()", false);
    EXPECT_EQ(mode.flags().ansiQuotes, off);
    mode.ran("CALL `P`()", false);
    EXPECT_EQ(mode.flags().ansiQuotes, unknown);

    // Past the end of a body, or after a body of one statement, a piece
    // runs now, before the next is read.
    for (const char* first :
         {"CREATE PROCEDURE p() BEGIN SELECT 1; END", "CREATE PROCEDURE p() SELECT 1", "SELECT 1",
          "CREATE TRIGGER t AFTER INSERT ON a FOR EACH ROW lbl: BEGIN END"}) {
        SQLDumpSqlMode now;
        const std::string text = first;
        const std::size_t semicolon = text.find(';');
        now.firstWithin(text.substr(0, semicolon), false);
        if (semicolon != std::string::npos)
            now.ranWithin(text.substr(semicolon + 1), false);
        now.ranWithin(" SET sql_mode='ANSI_QUOTES'", false);
        EXPECT_EQ(now.flags().ansiQuotes, on) << first;
        EXPECT_EQ(now.reading().ansiQuotes, off) << first;
        // The client read the rest with the flags it began with.
        EXPECT_NO_THROW(now.ranWithin(" SELECT 'a'", false)) << first;
        EXPECT_THROW(now.ranWithin(" SELECT \"a\\\"", false), SQLDumpSqlMode::ReadApart) << first;
    }
    SQLDumpSqlMode escapes;
    escapes.firstWithin("SET sql_mode='NO_BACKSLASH_ESCAPES'", false);
    EXPECT_NO_THROW(escapes.ranWithin(" SELECT \"a\"", false));
    EXPECT_THROW(escapes.ranWithin(" SELECT 'a\\'", false), SQLDumpSqlMode::ReadApart);
    SQLDumpSqlMode cut;
    cut.firstWithin("SET sql_mode = '" + std::string(100, 'x'), true);
    EXPECT_EQ(cut.flags().ansiQuotes, unknown);
    EXPECT_THROW(cut.ranWithin(" SELECT 1", true), SQLDumpSqlMode::ReadApart);

    // Blocks in a body: BEGIN and END where statements begin; END IF and
    // the like close nothing.
    SQLDumpSqlMode nested;
    nested.firstWithin("/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER "
                       "t BEFORE INSERT ON a FOR EACH ROW outer: BEGIN BEGIN DECLARE x INT",
                       false);
    for (const char* piece : {" IF x THEN SET sql_mode = 'ANSI'", " END IF", " END",
                              " SET @begin = 'end'", " END outer */"})
        nested.ranWithin(piece, false);
    nested.ran("", false);
    EXPECT_EQ(nested.flags(), (SQLDumpSqlMode::Flags{off, off}));
    nested.ran("INSERT INTO b VALUES (1)", false);
    EXPECT_EQ(nested.flags().ansiQuotes, off);
    nested.ran("INSERT INTO `a` VALUES (1)", false);
    EXPECT_EQ(nested.flags().ansiQuotes, unknown);
    // A name where a statement begins is read as the server reads it: a
    // label, not a block.
    SQLDumpSqlMode label;
    label.firstWithin("CREATE PROCEDURE p() BEGIN SELECT 1", false);
    label.ranWithin(" begin: LOOP LEAVE begin", false);
    label.ranWithin(" END LOOP begin", false);
    label.ranWithin(" END", false);
    label.ranWithin(" SET sql_mode = 'ANSI'", false);
    EXPECT_EQ(label.flags().ansiQuotes, on);
}

TEST(SQLDumpSqlModeTest, CodeChangesTheModeOnlyWhereItRuns) {
    // A trigger that calls a procedure made later that sets the mode: rows
    // of its table may change it, rows of another table do not.
    SQLDumpSqlMode mode;
    mode.ran("SET @saved_sql_mode = @@sql_mode", false);
    mode.firstWithin("CREATE DEFINER=`shop`@`%` TRIGGER tr AFTER INSERT ON orders FOR EACH ROW "
                     "BEGIN SET @n = NEW.id",
                     false);
    mode.ranWithin(" CALL shop.audit(NEW.id)", false);
    mode.ranWithin(" END", false);
    mode.ran("", false);
    mode.ran("INSERT INTO orders VALUES (1)", false);
    EXPECT_EQ(mode.flags(), (SQLDumpSqlMode::Flags{off, off}));
    mode.ran("CREATE PROCEDURE audit(i INT) SET sql_mode = CONCAT(@@sql_mode, ',ANSI')", false);
    mode.ran("SET sql_mode = @saved_sql_mode", false);
    mode.ran("INSERT INTO lines VALUES (1)", false);
    EXPECT_EQ(mode.flags(), (SQLDumpSqlMode::Flags{off, off}));
    mode.ran("INSERT INTO orders VALUES (2)", false);
    EXPECT_EQ(mode.flags(), (SQLDumpSqlMode::Flags{unknown, unknown, off}));
    // The saved mode names no variable the code assigns.
    mode.ran("SET sql_mode = @saved_sql_mode", false);
    EXPECT_EQ(mode.flags(), (SQLDumpSqlMode::Flags{off, off}));
    // A function through a view, dynamic SQL through a call.
    SQLDumpSqlMode view;
    view.ran("CREATE FUNCTION f() RETURNS INT BEGIN PREPARE s FROM @q", false);
    view.ran("CREATE VIEW v AS SELECT f() AS x", false);
    view.ran("SELECT * FROM w", false);
    EXPECT_EQ(view.flags().ansiQuotes, off);
    view.ran("SELECT * FROM v", false);
    EXPECT_EQ(view.flags().ansiQuotes, unknown);
    // A statement cut before its end may call any routine, not fire any
    // trigger.
    SQLDumpSqlMode cut;
    cut.ran("CREATE TRIGGER t BEFORE INSERT ON a FOR EACH ROW SET sql_mode = ''", false);
    cut.ran("INSERT INTO b VALUES ('" + std::string(100, 'x'), true);
    EXPECT_EQ(cut.flags().ansiQuotes, off);
    cut.ran("CREATE FUNCTION g() RETURNS INT RETURN @@sql_mode", false);
    cut.ran("INSERT INTO b VALUES ('" + std::string(100, 'x'), true);
    EXPECT_EQ(cut.flags().ansiQuotes, unknown);
    // A trigger whose table cannot be read may fire on any row.
    SQLDumpSqlMode unread;
    unread.ran("CREATE TRIGGER t BEFORE INSERT ON /*M!110405 a */ b FOR EACH ROW SET sql_mode = ''",
               false);
    EXPECT_EQ(unread.flags().ansiQuotes, off);
    unread.ran("INSERT INTO c VALUES (1)", false);
    EXPECT_EQ(unread.flags().ansiQuotes, unknown);
}

// Code reaches code through the names it holds, however many objects a
// dump makes, and a chain of calls is followed to its end.
TEST(SQLDumpSqlModeTest, ReachedCodeIsFollowedThroughEveryCall) {
    for (const int count : {3, 200, 5000}) {
        SQLDumpSqlMode mode;
        mode.ran("CREATE PROCEDURE p" + std::to_string(count) + "() SET sql_mode = 'ANSI'", false);
        for (int k = count - 1; k >= 0; --k)
            mode.ran("CREATE PROCEDURE p" + std::to_string(k) + "() CALL p" +
                         std::to_string(k + 1) + "()",
                     false);
        mode.ran("CREATE TRIGGER t AFTER INSERT ON orders FOR EACH ROW CALL p0()", false);
        mode.ran("CREATE PROCEDURE quiet() SELECT 1", false);
        mode.ran("CALL quiet()", false);
        EXPECT_EQ(mode.flags().ansiQuotes, count < 4096 ? off : unknown) << count;
        mode.ran("INSERT INTO lines VALUES (1)", false);
        EXPECT_EQ(mode.flags().ansiQuotes, count < 4096 ? off : unknown) << count;
        mode.ran("INSERT INTO orders VALUES (1)", false);
        EXPECT_EQ(mode.flags().ansiQuotes, unknown) << count;
    }
}

TEST(SQLDumpSqlModeTest, OneSetEvaluatesEveryValueBeforeItAssigns) {
    SQLDumpSqlMode mode;
    mode.ran("SET sql_mode='ANSI_QUOTES', @s=@@sql_mode", false);
    mode.ran("SET sql_mode=@s", false);
    EXPECT_EQ(mode.flags().ansiQuotes, off);
    mode.ran("SET @a='ANSI_QUOTES'", false);
    mode.ran("SET @a='', sql_mode=@a", false);
    EXPECT_EQ(mode.flags().ansiQuotes, on);
    mode.ran("SET sql_mode=@a", false);
    EXPECT_EQ(mode.flags().ansiQuotes, off);
    // DEFAULT after the global mode changed in the same SET is not known.
    mode.ran("SET GLOBAL sql_mode='ANSI', SESSION sql_mode=DEFAULT", false);
    EXPECT_EQ(mode.flags().ansiQuotes, unknown);
}

// As the server's user variables compare, measured with @x=1 and SELECT @y.
TEST(SQLDumpSqlModeTest, UserVariablesAreNamedAsTheServerNamesThem) {
    const auto read = [](const std::string& set, const std::string& get) {
        SQLDumpSqlMode mode;
        mode.ran("SET @" + set + " = 'ANSI_QUOTES'", false);
        mode.ran("SET sql_mode = @" + get, false);
        return mode.flags().ansiQuotes;
    };
    // One variable on the server.
    for (const auto& [set, get] : std::vector<std::pair<std::string, std::string>>{
             {"д", "Д"}, {"ǆ", "ǅ"}, {"ǅ", "Ǆ"}, {"ａ", "Ａ"}, {"Ab", "aB"}, {"é", "É"}})
        EXPECT_EQ(read(set, get), on) << set << " " << get;
    // Two on the server; or one where this reading cannot be sure.
    for (const auto& [set, get] : std::vector<std::pair<std::string, std::string>>{
             {"ß", "s"}, {"ä", "a"}, {"ı", "I"}, {"i", "İ"}, {"𐐀", "𐐨"}})
        EXPECT_NE(read(set, get), on) << set << " " << get;
    // The Kelvin sign is k to the server, long s is not s; not followed.
    EXPECT_EQ(read("k", "\u212A"), unknown);
    SQLDumpSqlMode alias;
    alias.ran("SET @s = 'ANSI_QUOTES'", false);
    alias.ran("SET @ſ = ''", false);
    alias.ran("SET sql_mode = @s", false);
    EXPECT_EQ(alias.flags().ansiQuotes, unknown);
    // A quoted name means its contents: doubled quotes are one.
    EXPECT_EQ(read("'a''b'", "\"a'b\""), on);
    EXPECT_EQ(read("`c``d`", "'c`d'"), on);
    SQLDumpSqlMode quoted;
    quoted.ran("SET @'a''b' = 'ANSI_QUOTES'", false);
    quoted.ran("SET @\"a'b\" = ''", false);
    quoted.ran("SET sql_mode = @'a''b'", false);
    EXPECT_EQ(quoted.flags().ansiQuotes, off);
}

TEST(SQLDumpSqlModeTest, VersionGatesFollowTheEnvironmentsRelease) {
    const auto ansi = [](SQLDumpRelease release, const char* text) {
        SQLDumpSqlMode mode(release);
        mode.ran(text, false);
        return mode.flags().ansiQuotes;
    };
    EXPECT_EQ(ansi({110400, 110499}, "/*!110000 SET sql_mode='ANSI' */"), on);
    EXPECT_EQ(ansi({101119, 101119}, "/*!110000 SET sql_mode='ANSI' */"), off);
    EXPECT_EQ(ansi({101119, 101119}, "/*M!101119 SET sql_mode='ANSI' */"), on);
    EXPECT_EQ(ansi({101119, 101119}, "/*M!101120 SET sql_mode='ANSI' */"), off);
    EXPECT_EQ(ansi({110400, 110499}, "/*M!110405 SET sql_mode='ANSI' */"), unknown);
    EXPECT_EQ(ansi({110400, 110499}, "/*!80000 SET sql_mode='ANSI' */"), off);
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

// The server reads quotes in the client character set the session names; a
// set whose characters may end in a backslash or backtick is followed.
TEST(SQLDumpSqlModeTest, TheSessionsCharacterSetIsFollowed) {
    const auto multibyte = [](const std::vector<std::string>& statements) {
        SQLDumpSqlMode mode;
        for (const std::string& statement : statements)
            mode.ran(statement, false);
        return mode.flags().multibyte;
    };
    for (const char* set : {"big5", "GBK", "sjis", "cp932", "gb18030"}) {
        EXPECT_EQ(multibyte({std::string("SET NAMES ") + set}), on) << set;
        EXPECT_EQ(multibyte({std::string("SET CHARACTER SET '") + set + "'"}), on) << set;
        EXPECT_EQ(multibyte({std::string("SET character_set_client = ") + set}), on) << set;
        EXPECT_EQ(multibyte({std::string("/*!40101 SET @@session.character_set_client = `") + set +
                             "` */"}),
                  on)
            << set;
    }
    EXPECT_EQ(multibyte({"SET NAMES utf8mb4 COLLATE utf8mb4_bin"}), off);
    EXPECT_EQ(multibyte({"SET NAMES latin1", "SET CHARSET ujis"}), off);
    EXPECT_EQ(multibyte({"SET GLOBAL character_set_client = gbk"}), off);
    // mariadb-dump's save and restore around each table.
    EXPECT_EQ(multibyte({"SET NAMES gbk", "SET @saved_cs_client = @@character_set_client",
                         "SET character_set_client = utf8mb4",
                         "SET character_set_client = "
                         "@saved_cs_client"}),
              on);
    EXPECT_EQ(multibyte({"SET @saved_cs_client = @@character_set_client",
                         "SET character_set_client = gbk",
                         "SET character_set_client = @saved_cs_client"}),
              off);
    EXPECT_EQ(multibyte({"SET character_set_client = @never_set"}), unknown);
    EXPECT_EQ(multibyte({"SET NAMES gbk, sql_mode = ''", "SET sql_mode = 'ANSI'"}), on);

    // Where a trailing byte reads apart: before a backtick, or before a
    // backslash that escapes a quote, a backslash or a line end.
    using T = SQLDumpSqlMode;
    const std::size_t none = std::string_view::npos;
    EXPECT_EQ(T::trailApart("'\x83\\''", 0), 2u);
    EXPECT_EQ(T::trailApart("'a\xbf\\\\'", 0), 3u);
    EXPECT_EQ(T::trailApart("`\x83``", 0), 2u);
    EXPECT_EQ(T::trailApart("\\'", 0x83), 0u);
    EXPECT_EQ(T::trailApart("'\x83\\a' 'x\\''", 0), none);
    EXPECT_EQ(T::trailApart("'caf\xc3\xa9s' 'it\\'s'", 0), none);
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
    SQLDumpSqlMode mode;
    EXPECT_TRUE(mode.unreadSuffices("INSERT INTO t VALUES (1)"));
    for (const char* head : {"CALL p()", "call p", "BEGIN NOT ATOMIC", "label: LOOP", "lbl :BEGIN",
                             "EXECUTE s", "IF 1 THEN", "FOR i IN 1..3 DO"})
        EXPECT_FALSE(mode.unreadSuffices(head)) << head;
    // Once code that may set the mode exists, a row may fire it.
    mode.ran("CREATE TRIGGER t BEFORE INSERT ON a FOR EACH ROW SET sql_mode = 'ANSI'", false);
    EXPECT_FALSE(mode.unreadSuffices("INSERT INTO t VALUES (1)"));
}

} // namespace
} // namespace vessora
