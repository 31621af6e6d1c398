// Preparing dump files: the checks on the chosen file, the private output
// file, write failures, and whole dumps as mariadb-dump and phpMyAdmin write
// them.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDump.hpp"
#include "tests/Support/SQLDumpReference.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <map>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kFile = "Choose a nonempty, uncompressed .sql file of up to 512 MB.";
const std::string kOutput = "Could not prepare private command input.";
const std::string kName = "Use 1–64 letters, numbers, underscores or hyphens for the database "
                          "name. Start with a letter or underscore. System names are reserved.";

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class SQLDumpTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        fs::create_directory(folder.path() / "staging");
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    fs::path dump(const std::string& name, std::string_view bytes) const {
        const fs::path file = folder.path() / name;
        writeFile(file, bytes);
        return file;
    }
    fs::path output() const { return folder.path() / "staging" / "import.sql"; }

    std::string refusal(const fs::path& source, const std::string& database = "shop_db") const {
        return thrownMessage([&] { SQLDump::prepare(source, output(), database); });
    }

    TemporaryFolder folder;
};

TEST_F(SQLDumpTest, PreparesAMariaDBDumpAndAPhpMyAdminExport) {
    const fs::path fixtures = fs::path(VESSORA_FIXTURES_DIR) / "sqldump";
    SQLDump::Summary summary = SQLDump::prepare(fixtures / "mariadb-dump.sql", output(), "new_db");
    EXPECT_EQ(summary.statementCount, 75);
    EXPECT_EQ(summary.sourceDatabase, "shop");
    std::string expected = SQLDumpTesting::withoutDefiners(readFile(fixtures / "mariadb-dump.sql"));
    expected =
        SQLDumpTesting::selecting(expected, "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop`",
                                  "new_db", "CHARACTER SET latin1 COLLATE latin1_swedish_ci");
    expected = SQLDumpTesting::selecting(expected, "\nUSE `shop`;", "new_db");
    EXPECT_EQ(readFile(output()), expected);

    summary = SQLDump::prepare(fixtures / "phpmyadmin-export.sql", output(), "new_db");
    EXPECT_EQ(summary.statementCount, 25);
    EXPECT_EQ(summary.sourceDatabase, "shop");
    expected = SQLDumpTesting::withoutDefiners(readFile(fixtures / "phpmyadmin-export.sql"));
    expected = SQLDumpTesting::selecting(expected, "CREATE DATABASE IF NOT EXISTS `shop`", "new_db",
                                         "CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci");
    expected = SQLDumpTesting::selecting(expected, "\nUSE `shop`;", "new_db");
    EXPECT_EQ(readFile(output()), expected);
}

TEST_F(SQLDumpTest, TheSourceMustBeANonemptySqlFileOfAtMost512MiB) {
    EXPECT_EQ(refusal(dump("dump.sql.gz", "SELECT 1;")), kFile);
    EXPECT_EQ(refusal(dump("dump.txt", "SELECT 1;")), kFile);
    EXPECT_EQ(refusal(dump(".sql", "SELECT 1;")), kFile);
    EXPECT_EQ(refusal(dump("empty.sql", "")), kFile);
    fs::create_directory(folder.path() / "folder.sql");
    EXPECT_EQ(refusal(folder.path() / "folder.sql"), kFile);
    // A pipe is refused without waiting for a writer.
    ASSERT_EQ(::mkfifo((folder.path() / "pipe.sql").c_str(), 0600), 0);
    EXPECT_EQ(refusal(folder.path() / "pipe.sql"), kFile);
    const fs::path large = dump("large.sql", "");
    fs::resize_file(large, SQLDump::largestFile + 1);
    EXPECT_EQ(refusal(large), kFile);
    // The name is checked before the file.
    EXPECT_EQ(refusal(folder.path() / "missing.sql", "mysql"), kName);
    EXPECT_EQ(refusal(dump("fine.sql", "SELECT 1;"), "1shop"), kName);
    EXPECT_FALSE(fs::exists(output()));
    // The extension in any letter case.
    EXPECT_EQ(SQLDump::prepare(dump("Dump.SQL", "SELECT 1;"), output(), "shop_db").statementCount,
              1);
}

// A USE without its delimiter would swallow the INSERT after it while the
// import reports success: refused, naming the statement's line.
TEST_F(SQLDumpTest, ASelectionWithoutItsDelimiterIsRefusedNamingItsLine) {
    const std::string sentence =
        "The statement on line 4 of the SQL file selects a database but does not end after its "
        "name, so the statements after it would be lost. Add the missing semicolon, or export the "
        "dump again.";
    const std::string statements =
        "CREATE TABLE t1 (a INT);\n-- a comment\n\nUSE shop\nINSERT INTO t1 VALUES (1);\n";
    EXPECT_EQ(refusal(dump("dump.sql", statements)), sentence);
    // Counted in the file as it is, a byte-order mark and a small window alike.
    EXPECT_EQ(refusal(dump("dump.sql", "\xEF\xBB\xBF" + statements)), sentence);
    const std::string far = std::string(3 << 20, ' ') + "\n";
    EXPECT_EQ(refusal(dump("dump.sql", "SELECT 1;" + far + "\n" + statements)),
              "The statement on line 6 of the SQL file selects a database but does not end after "
              "its name, so the statements after it would be lost. Add the missing semicolon, or "
              "export the dump again.");
    // A created database's clauses end where the server's grammar ends.
    EXPECT_EQ(refusal(dump("dump.sql", "CREATE TABLE t1 (a INT);\n-- a comment\n\n"
                                       "CREATE DATABASE `shop` COMMENT 'x'\n"
                                       "INSERT INTO t1 VALUES (1);\n")),
              sentence);
}

// What the client would read one way or another, depending on what the
// statements before did to the session, is refused naming its line.
TEST_F(SQLDumpTest, ReadingsThatDependOnTheSessionAreRefusedNamingTheirLine) {
    EXPECT_EQ(refusal(dump("dump.sql", "SELECT 1;\n-- note\n\\C gbk\nSELECT 2;\n")),
              "Line 3 of the SQL file holds the client command “\\C”, which would change how the "
              "client reads the rest of the file. Remove that command, or export the dump again.");
    // The line that left the mode unknown is named with the one refused.
    const std::string quote =
        "\xEF\xBB\xBF"
        "SET sql_mode = @never_set;\n\nINSERT INTO t VALUES ('x',\n\"a\\\";\nSELECT 2;\n\");\n";
    const std::string escape =
        "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET sql_mode = 'ANSI';\n"
        "INSERT INTO t VALUES (1);\nINSERT INTO t VALUES (1,\n'it\\'s');\n";
    EXPECT_EQ(refusal(dump("dump.sql", escape)),
              "Line 4 of the SQL file escapes a quote with a backslash inside a quoted value, "
              "which the client reads differently if the statement on line 2 turned on the "
              "NO_BACKSLASH_ESCAPES mode, as it may: it sets the sql_mode to a value or runs code "
              "that cannot be known before it runs. Double that quote, or set the sql_mode to a "
              "plain value after that statement.");
    EXPECT_EQ(refusal(dump("dump.sql", quote)),
              "Line 4 of the SQL file escapes a double quote with a backslash inside double "
              "quotes, which the client reads differently if the statement on line 1 turned on "
              "the ANSI_QUOTES mode, as it may: it sets the sql_mode to a value or runs code that "
              "cannot be known before it runs. Double that quote, or set the sql_mode to a plain "
              "value after that statement.");
    EXPECT_EQ(refusal(dump("dump.sql", "DELIMITER ;;\nCREATE PROCEDURE p() BEGIN SELECT 1; END;\n"
                                       "USE `shop`;;\n")),
              "Line 3 of the SQL file holds, after a semicolon within a statement, a statement "
              "that selects, creates or alters a database, which the server would run as it "
              "stands. Give it a delimiter of its own, or export the dump again.");
    // A mode changed within a text that the server reads on with it.
    const std::string within = "DELIMITER $$\nSELECT 1;\nSET sql_mode='ANSI_QUOTES';\n"
                               "SELECT 1 AS \"x\\\";\nDROP DATABASE shop;\n-- \"$$\n";
    EXPECT_EQ(refusal(dump("dump.sql", within)),
              "Line 3 of the SQL file changes the sql_mode within a statement that goes on after a "
              "semicolon, and the server would read line 4 with the new mode, unlike the client. "
              "End that statement right after the change, or export the dump again.");
    // In a multibyte set the dump chose, a character ending in a backslash
    // before a quote; one before any other byte reads alike.
    const std::string sjis = "SET NAMES sjis;\nINSERT INTO t VALUES ('\x83\\a');\n"
                             "INSERT INTO t VALUES\n('\x83\\'', 'x');\n";
    EXPECT_EQ(refusal(dump("dump.sql", sjis)),
              "Line 4 of the SQL file holds, in the multibyte character set the dump chose for "
              "the server, a character that ends in a backslash or backtick, which the client "
              "reads on its own. Export the dump in UTF-8 (utf8mb4), or export it again.");
    EXPECT_EQ(refusal(dump("dump.sql", "SET NAMES utf8mb4;\n" + sjis.substr(15))), "");
    EXPECT_EQ(refusal(dump("dump.sql", sjis.substr(0, 46))), "");
    const std::map<std::string, std::string> translated = {
        {"de", "Zeile 4 der SQL-Datei maskiert ein Anführungszeichen innerhalb eines Werts in "
               "Anführungszeichen mit einem Backslash, was der Client anders liest, falls die "
               "Anweisung in Zeile 2 den Modus NO_BACKSLASH_ESCAPES eingeschaltet hat, wie sie es "
               "kann: Sie setzt den sql_mode auf einen Wert oder führt Code aus, der sich vor "
               "seiner Ausführung nicht kennen lässt. Verdopple dieses Anführungszeichen oder "
               "setze den sql_mode nach dieser Anweisung auf einen einfachen Wert."},
        {"fr", "La ligne 4 du fichier SQL échappe un guillemet par une barre oblique inverse "
               "dans une valeur entre guillemets, ce que le client lit autrement si l’instruction "
               "de la ligne 2 a activé le mode NO_BACKSLASH_ESCAPES, comme elle le peut : elle "
               "donne au sql_mode une valeur ou exécute du code qu’on ne peut connaître avant son "
               "exécution. Doublez ce guillemet, ou donnez au sql_mode une valeur simple après "
               "cette instruction."},
        {"it", "La riga 4 del file SQL fa l’escape di un apice con una barra rovesciata in un "
               "valore tra apici, che il client legge diversamente se l’istruzione alla riga 2 ha "
               "attivato la modalità NO_BACKSLASH_ESCAPES, come può fare: imposta il sql_mode a un "
               "valore o esegue codice che non si può conoscere prima che venga eseguito. "
               "Raddoppia quell’apice, o imposta il sql_mode a un valore semplice dopo "
               "quell’istruzione."}};
    for (const auto& [language, text] : translated) {
        UserDefaults::standard()->set("Vessora.language", language);
        EXPECT_EQ(refusal(dump("dump.sql", escape)), text) << language;
        EXPECT_NE(refusal(dump("dump.sql", within)).find(" 3 "), std::string::npos) << language;
    }
    UserDefaults::standard()->set("Vessora.language", "en");
}

// The client mangles a line end that a backslash escapes inside a quote:
// refused in the user's words, naming the backslash's line.
TEST_F(SQLDumpTest, ABackslashEndingALineInsideAQuoteIsRefusedNamingItsLine) {
    const std::string text = "SELECT 1;\nINSERT INTO t VALUES ('a',\n'b\\\n''; USE other_db; "
                             "SELECT ''');\n";
    EXPECT_EQ(refusal(dump("dump.sql", text)),
              "Line 3 of the SQL file ends with a backslash inside a quoted value, which the "
              "client reads wrongly: it loses the first character of the next line. Write that "
              "line break as \\n, or export the dump again.");
    UserDefaults::standard()->set("Vessora.language", "fr");
    EXPECT_EQ(refusal(dump("dump.sql", text)),
              "La ligne 3 du fichier SQL se termine par une barre oblique inverse à l’intérieur "
              "d’une valeur entre guillemets, ce que le client lit mal : il perd le premier "
              "caractère de la ligne suivante. Écrivez ce saut de ligne sous la forme \\n ou "
              "exportez à nouveau le dump.");
    UserDefaults::standard()->set("Vessora.language", "en");
}

// A compressed or binary file named .sql is refused before anything is
// written, in a sentence that says so, whatever a lucky scan would make of it.
TEST_F(SQLDumpTest, ACompressedOrBinaryFileIsRefusedAsNotPlainText) {
    const std::string notText = "The SQL file “dump.sql” is not plain SQL text: it looks "
                                "compressed or binary. Choose an uncompressed .sql file.";
    const std::string statement = "INSERT INTO t VALUES (1);\n";
    for (const std::string& start :
         {std::string("\x1f\x8b\x08\x00", 4), std::string("PK\x03\x04"), std::string("BZh91AY"),
          std::string("\xfd"
                      "7zXZ\0",
                      6),
          std::string("\x28\xb5\x2f\xfd"), std::string("SELECT 1;\0\0\0", 12),
          std::string("S\0E\0L\0", 6)}) {
        EXPECT_EQ(refusal(dump("dump.sql", start + statement)), notText) << start;
        EXPECT_FALSE(fs::exists(output()));
    }
    // Bytes of every other value, as unescaped binary strings hold them, pass.
    std::string binary = "INSERT INTO t VALUES ('";
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\'' && byte != '\\')
            binary += char(byte);
    EXPECT_EQ(
        SQLDump::prepare(dump("dump.sql", binary + "');\n"), output(), "shop_db").statementCount,
        1);
}

// A web page saved as .sql and mariadb-dump's XML export begin with "<"
// after an optional byte-order mark and blanks; no SQL text does. They are
// refused before anything is written, whatever the scanner would make of
// them; every SQL beginning passes, also with "<" later in the text.
TEST_F(SQLDumpTest, AnHTMLOrXMLFileIsRefusedAndNoSQLBeginningIs) {
    const std::string notSQL = "The file “dump.sql” is an HTML or XML file, not an SQL dump. "
                               "Export the database as SQL statements, then choose that file.";
    const fs::path fixtures = fs::path(VESSORA_FIXTURES_DIR) / "sqldump-first-content";
    const std::vector<std::string> leads{"", "\xEF\xBB\xBF"};
    // The long runs reach past the first read of the file's start.
    const std::vector<std::string> blanks{
        "", " ", "\t", "\n", "\r\n", " \t\r\n\n\t ", std::string(40000, ' ') + "\n", [] {
            std::string lines;
            for (int line = 0; line < 20000; ++line)
                lines += "\r\n";
            return lines;
        }()};

    std::vector<std::string> markup{
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>Sign in – "
        "Backups</title></head>\n<body><form method=\"post\"><input name=\"user\"></form>\n"
        "<script>var next = '/backup.sql';</script></body>\n</html>\n",
        "<!doctype html><html><body><p>It's gone; try again.</p></body></html>",
        "<html>\n<head><title>404 Not Found</title></head>\n<body>\n<center><h1>404 Not "
        "Found</h1></center>\n</body>\n</html>\n",
        "<!-- saved from url=(0036)https://example.com/db/export.php -->\n<html></html>\n",
        "<?xml version=\"1.0\"?>\n<mysqldump><database name=\"shop\"></database></mysqldump>\n",
        "<",
    };
    for (const char* real : {"mariadb-dump-xml.sql", "mariadb-dump-xml-no-data.sql"})
        markup.push_back(readFile(fixtures / real));
    for (const std::string& lead : leads)
        for (const std::string& blank : blanks)
            for (const std::string& text : markup) {
                fs::remove(output());
                EXPECT_EQ(refusal(dump("dump.sql", lead + blank + text)), notSQL)
                    << lead.size() << " " << blank.size() << " " << text.substr(0, 40);
                EXPECT_FALSE(fs::exists(output()));
            }

    std::vector<std::string> statements{
        "-- MariaDB dump 10.19\n--\nSELECT 1;\n",
        "--\n-- <html>\n--\nSELECT 1;\n",
        "/*!40101 SET NAMES utf8mb4 */;\n",
        "/*M!999999\\- enable the sandbox mode */ \nCREATE TABLE t (a INT);\n",
        "/* <?xml version=\"1.0\"?> */ SELECT 1;\n",
        "# <!DOCTYPE html>\nSELECT 1;\n",
        "SET NAMES utf8mb4;\n",
        "set sql_mode = '';\n",
        "SELECT '<html>' AS page;\n",
        "INSERT INTO t VALUES ('<b>bold</b>'), ('a < b');\n",
        "select 1 < 2;\n",
        "(SELECT 1) UNION (SELECT 2);\n",
        "DELIMITER ;;\nCREATE PROCEDURE p() SELECT '<p>';;\nDELIMITER ;\n",
        "USE `<shop>`;\nCREATE TABLE t (a INT);\n",
        "SELECT 1",
    };
    for (const char* real :
         {"mariadb-dump-default.sql", "mariadb-dump-compact.sql", "mariadb-dump-compact-rows.sql",
          "mariadb-dump-ansi.sql", "mariadb-dump-skip-comments.sql", "mariadb-dump-skip-opt.sql",
          "mariadb-dump-tables.sql"})
        statements.push_back(readFile(fixtures / real));
    for (const char* real : {"mariadb-dump.sql", "phpmyadmin-export.sql"})
        statements.push_back(readFile(fs::path(VESSORA_FIXTURES_DIR) / "sqldump" / real));
    for (const std::string& lead : leads)
        for (const std::string& blank : blanks)
            for (const std::string& text : statements) {
                const std::string refused = refusal(dump("dump.sql", lead + blank + text));
                EXPECT_EQ(refused, "")
                    << lead.size() << " " << blank.size() << " " << text.substr(0, 40);
                EXPECT_TRUE(fs::exists(output()));
            }
}

// Chosen in the wizard, the file may be gone or closed to us by the time the
// import reads it: a sentence the window can show in its own language.
TEST_F(SQLDumpTest, AChosenFileThatIsGoneOrUnreadableIsNamedInASentence) {
    const auto unusable = [](const std::string& name) {
        return "The SQL file “" + name +
               "” is missing or cannot be read. Choose an existing, readable file.";
    };
    EXPECT_EQ(refusal(folder.path() / "missing.sql"), unusable("missing.sql"));
    const fs::path plain = dump("plain.txt", "SELECT 1;");
    EXPECT_EQ(refusal(plain / "inside.sql"), unusable("inside.sql"));
    const fs::path loop = folder.path() / "loop.sql";
    fs::create_symlink(loop, loop);
    EXPECT_EQ(refusal(loop), unusable("loop.sql"));
    EXPECT_FALSE(fs::exists(output()));

    UserDefaults::standard()->set("Vessora.language", "it");
    EXPECT_EQ(refusal(folder.path() / "missing.sql"),
              "Il file SQL «missing.sql» manca o non può essere letto. Scegli un file esistente "
              "e leggibile.");
    UserDefaults::standard()->set("Vessora.language", "en");

    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads a file whatever its mode";
    const fs::path closed = dump("closed.sql", "SELECT 1;");
    fs::permissions(closed, fs::perms::none);
    EXPECT_EQ(refusal(closed), unusable("closed.sql"));
    fs::permissions(closed, fs::perms::owner_all);
}

TEST_F(SQLDumpTest, ADumpOfExactly512MiBIsAccepted) {
    // Mostly holes: statements of a word and NUL bytes, a ";" every 32 MiB
    // (a statement without a word in its head is refused unread). The
    // start is text, as a dump's start must be.
    const fs::path source = dump("full.sql", "SELECT 1" + std::string(8192, ' '));
    {
        std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
        for (std::uint64_t at = 32 << 20; at < SQLDump::largestFile; at += 32 << 20) {
            file.seekp(std::streamoff(at));
            file.write(";SELECT 1", 9);
        }
    }
    fs::resize_file(source, SQLDump::largestFile);
    const SQLDump::Summary summary = SQLDump::prepare(source, output(), "shop_db");
    EXPECT_EQ(summary.statementCount, 16);
    EXPECT_EQ(fs::file_size(output()), SQLDump::largestFile);
}

TEST_F(SQLDumpTest, TheOutputIsANewPrivateFileInPlaceOfWhatWasThere) {
    const fs::path source = dump("dump.sql", "USE shop;\nSELECT 1;\n");
    writeFile(output(), "old content that is longer than the new one");
    fs::permissions(output(), fs::perms(0644));
    const mode_t previous = ::umask(0);
    SQLDump::prepare(source, output(), "shop_db");
    ::umask(previous);
    EXPECT_EQ(readFile(output()), "\nUSE `shop_db`;\nSELECT 1;\n");
    EXPECT_EQ(fs::status(output()).permissions(), fs::perms(0600));

    // A link in its place is replaced, not followed.
    const fs::path target = folder.path() / "elsewhere.txt";
    writeFile(target, "keep");
    fs::remove(output());
    fs::create_symlink(target, output());
    SQLDump::prepare(source, output(), "shop_db");
    EXPECT_FALSE(fs::is_symlink(output()));
    EXPECT_EQ(readFile(target), "keep");

    EXPECT_EQ(thrownMessage([&] {
                  SQLDump::prepare(source, folder.path() / "missing" / "import.sql", "shop_db");
              }),
              kOutput);
    fs::create_directory(folder.path() / "taken");
    fs::create_directory(folder.path() / "taken" / "import.sql");
    EXPECT_EQ(thrownMessage([&] {
                  SQLDump::prepare(source, folder.path() / "taken" / "import.sql", "shop_db");
              }),
              kOutput);
}

TEST_F(SQLDumpTest, AStatementReplacedAfterMegabytesOfItAreWrittenIsTakenBackFromTheFile) {
    std::string comments;
    while (comments.size() < (3u << 20))
        comments += "-- a long comment before the statement; it is replaced with it\n";
    const fs::path source = dump("dump.sql", "SELECT 1;\n" + comments + "USE shop;\nSELECT 2;\n");
    const SQLDump::Summary summary = SQLDump::prepare(source, output(), "shop_db");
    EXPECT_EQ(summary.statementCount, 3);
    EXPECT_EQ(readFile(output()), "SELECT 1;\nUSE `shop_db`;\nSELECT 2;\n");
}

// The file-size limit of the process stands in for a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(SQLDumpTest, AFailedWriteIsAnErrorNeverAPreparedFile) {
    std::string text;
    while (text.size() < 10000)
        text += "INSERT INTO t VALUES (1, 'some text');\n";
    const fs::path small = dump("small.sql", text);
    // The whole output goes out in its last write, which falls short.
    {
        const FileSizeLimit limit(4096);
        EXPECT_THROW(SQLDump::prepare(small, output(), "shop_db"), fs::filesystem_error);
    }
    // A dump larger than the window fails in an earlier write.
    while (text.size() < 3 * 1024 * 1024)
        text += text;
    const fs::path large = dump("large.sql", text);
    {
        const FileSizeLimit limit(1024 * 1024 + 100);
        EXPECT_THROW(SQLDump::prepare(large, output(), "shop_db"), fs::filesystem_error);
    }
    EXPECT_EQ(SQLDump::prepare(large, output(), "shop_db").statementCount,
              std::int64_t(text.size() / 39));
    EXPECT_EQ(fs::file_size(output()), text.size());
}

TEST_F(SQLDumpTest, AStatementOverSixteenMebibytesPassesUnchanged) {
    std::string text = "USE `shop`;\nINSERT INTO `t` VALUES ";
    for (int row = 0; text.size() < (17u << 20); ++row) {
        text += row ? ",(" : "(";
        text += std::to_string(row) + ",'it\\'s a \\\\ ; -- row','\xE2\x82\xAC\r\n',`x``\\`)";
    }
    text += ";\n";
    const SQLDump::Summary summary = SQLDump::prepare(dump("big.sql", text), output(), "shop_db");
    EXPECT_EQ(summary.statementCount, 2);
    EXPECT_EQ(readFile(output()), "\nUSE `shop_db`;" + text.substr(11));
}

} // namespace
} // namespace vessora
