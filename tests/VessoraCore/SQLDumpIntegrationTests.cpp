// Dumps made by mariadb-dump from a real MariaDB server (Debian's, on a
// private socket): a database with binary data, odd names, a trigger, a
// procedure and a function framed by DELIMITER, and views whose DEFINER
// mariadb-dump writes. Each dump is prepared for another database name and
// loaded with the MariaDB client the way the engine loads an import; the
// copy must equal the original, which must stay untouched.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/SQLDump.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/SQLDumpReference.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string loginName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "";
}

// Debian's MariaDB server with a private data folder and socket and no
// network; stopped when dropped.
class ScratchServer {
public:
    explicit ScratchServer(const fs::path& folder) : folder_(folder) {
        fs::create_directories(folder_ / "tmp");
        const CommandResult install =
            Command::run("/usr/bin/mariadb-install-db",
                         {"--no-defaults", "--datadir=" + (folder_ / "data").string(),
                          "--auth-root-authentication-method=socket",
                          "--auth-root-socket-user=" + loginName(), "--skip-test-db"},
                         {.timeout = 180, .environment = {{"TMPDIR", (folder_ / "tmp").string()}}});
        if (install.status != 0)
            throw std::runtime_error("mariadb-install-db failed:\n" + install.output);
        server_ = std::make_unique<ManagedProcess>(
            "MariaDB", "/usr/sbin/mariadbd",
            std::vector<std::string>{"--no-defaults", "--datadir=" + (folder_ / "data").string(),
                                     "--socket=" + socket().string(), "--skip-networking",
                                     "--pid-file=" + (folder_ / "mariadb.pid").string(),
                                     "--log-error=" + (folder_ / "error.log").string(),
                                     "--tmpdir=" + (folder_ / "tmp").string(),
                                     "--max-allowed-packet=64M"},
            folder_ / "server.log");
        for (int attempt = 0; attempt < 240 && server_->isRunning(); ++attempt) {
            if (sql("SELECT 1").status == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        stop();
        throw std::runtime_error("MariaDB did not answer:\n" + readFile(folder_ / "error.log"));
    }
    ~ScratchServer() { stop(); }
    ScratchServer(const ScratchServer&) = delete;
    ScratchServer& operator=(const ScratchServer&) = delete;

    fs::path socket() const { return folder_ / "mysql.sock"; }

    std::vector<std::string> connection() const {
        return {"--no-defaults", "--socket=" + socket().string(), "--user=" + loginName(),
                "--default-character-set=utf8mb4"};
    }

    CommandResult sql(const std::string& statements) const {
        std::vector<std::string> arguments = connection();
        arguments.insert(arguments.end(), {"--batch", "--skip-column-names"});
        return Command::run("/usr/bin/mariadb", arguments, {.timeout = 60, .input = statements});
    }

    // One value, or the failure's output.
    std::string value(const std::string& query) const {
        const CommandResult result = sql(query);
        std::string text = result.status == 0 ? result.output : "failed: " + result.output;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }

    // The engine's client options for loading an import.
    CommandResult load(const fs::path& file, const std::string& database) const {
        std::vector<std::string> arguments = connection();
        arguments.insert(arguments.end(), {"--database=" + database, "--sandbox", "--binary-mode",
                                           "--local-infile=0", "--batch"});
        return Command::run("/usr/bin/mariadb", arguments,
                            {.timeout = 120, .inputFile = file, .outputLimit = 64000});
    }

    CommandResult dump(const fs::path& file, const std::vector<std::string>& options) const {
        std::vector<std::string> arguments = connection();
        arguments.push_back("--result-file=" + file.string());
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Command::run("/usr/bin/mariadb-dump", arguments, {.timeout = 120});
    }

private:
    void stop() {
        if (!server_)
            return;
        server_->terminate();
        for (int i = 0; i < 300 && server_->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (server_->isRunning()) {
            server_->signal(SIGKILL);
            for (int i = 0; i < 50 && server_->isRunning(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        server_.reset();
    }

    fs::path folder_;
    std::unique_ptr<ManagedProcess> server_;
};

const char* const kSchema = R"sql(
CREATE DATABASE shop CHARACTER SET utf8mb4;
USE shop;
CREATE TABLE blobs (id INT PRIMARY KEY, data LONGBLOB, note TEXT, `we\ird` INT, `a``b` INT);
INSERT INTO blobs VALUES
  (1, UNHEX('000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F606162636465666768696A6B6C6D6E6F707172737475767778797A7B7C7D7E7F808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9FA0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBFC0C1C2C3C4C5C6C7C8C9CACBCCCDCECFD0D1D2D3D4D5D6D7D8D9DADBDCDDDEDFE0E1E2E3E4E5E6E7E8E9EAEBECEDEEEFF0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF'),
   'it''s; a \\ back\\slash, "quotes", `ticks`, */ -- # /* and ;; $$', 1, 2),
  (2, UNHEX(REPEAT('5C27223B0A0D002A2F2D2D2360', 40000)), 'Grüße 🍰\r\nzweite Zeile', NULL, NULL),
  (3, '', NULL, NULL, NULL);
CREATE TABLE `odd;name` (`DELIMITER ;;` VARCHAR(40), `use shop` INT);
INSERT INTO `odd;name` VALUES ('\nDELIMITER ;;\nUSE other;\n', 7);
CREATE TABLE audit (entry VARCHAR(200));
CREATE TRIGGER blobs_audit AFTER INSERT ON blobs FOR EACH ROW
  INSERT INTO audit VALUES (CONCAT('row ', NEW.id, ';*/ done'));
DELIMITER $$
CREATE PROCEDURE add_row(IN n INT)
BEGIN
  -- a comment; with a quote ' in it
  INSERT INTO blobs (id, note) VALUES (n, CONCAT('added; ', n, ' */ $$'));
  SELECT "done;";
END$$
CREATE FUNCTION twice(x INT) RETURNS INT DETERMINISTIC
BEGIN
  DECLARE y INT;
  SET y = x * 2;
  RETURN y;
END$$
DELIMITER ;
CREATE VIEW notes AS SELECT id, '*/;' AS marker, note FROM blobs WHERE note IS NOT NULL;
CREATE VIEW `odd;view` AS SELECT `use shop` FROM `odd;name`;
)sql";

class SQLDumpIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() == 0)
            return;
        folder = std::make_unique<TemporaryFolder>("vessora-sqldump");
        server = std::make_unique<ScratchServer>(folder->path() / "server");
        const CommandResult created = server->sql(kSchema);
        ASSERT_EQ(created.status, 0) << created.output;
    }
    static void TearDownTestSuite() {
        server.reset();
        folder.reset();
    }

    void SetUp() override {
        if (!server)
            GTEST_SKIP() << "MariaDB refuses to run as root: run as an unprivileged user";
        UserDefaults::setStandard(UserDefaults::inMemory());
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    static fs::path path(const std::string& name) { return folder->path() / name; }

    // What a database holds, as comparable text: every table's rows in
    // hexadecimal, the triggers' and routines' bodies, the views' results.
    static std::string contents(const std::string& database) {
        const std::string d = "`" + database + "`";
        return server->value("SELECT id, HEX(data), HEX(note), `we\\ird`, `a``b` FROM " + d +
                             ".blobs ORDER BY id") +
               "\n" +
               server->value("SELECT HEX(`DELIMITER ;;`), `use shop` FROM " + d + ".`odd;name`") +
               "\n" + server->value("SELECT * FROM " + d + ".notes ORDER BY id") + "\n" +
               server->value("SELECT * FROM " + d + ".`odd;view`") + "\n" +
               server->value(
                   "SELECT TRIGGER_NAME, ACTION_STATEMENT FROM information_schema.TRIGGERS "
                   "WHERE TRIGGER_SCHEMA = '" +
                   database + "'") +
               "\n" +
               server->value("SELECT ROUTINE_NAME, ROUTINE_DEFINITION FROM "
                             "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = '" +
                             database + "' ORDER BY ROUTINE_NAME") +
               "\n" + server->value("SELECT " + d + ".twice(21)");
    }

    static inline std::unique_ptr<TemporaryFolder> folder;
    static inline std::unique_ptr<ScratchServer> server;
};

TEST_F(SQLDumpIntegrationTest, ADatabaseDumpLoadsIntoTheTargetAndLeavesTheSourceAlone) {
    const std::string original = contents("shop");
    ASSERT_EQ(original.find("failed"), std::string::npos) << original;
    const CommandResult dumped =
        server->dump(path("shop.sql"), {"--databases", "shop", "--routines", "--triggers"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;

    const SQLDump::Summary summary =
        SQLDump::prepare(path("shop.sql"), path("import.sql"), "shop_copy");
    EXPECT_EQ(summary.sourceDatabase, "shop");
    EXPECT_GT(summary.statementCount, 40);
    // Only the statements that create and select the database changed.
    std::string expected = readFile(path("shop.sql"));
    expected = SQLDumpTesting::selecting(
        expected, "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop`", "shop_copy");
    expected = SQLDumpTesting::selecting(expected, "\nUSE `shop`;", "shop_copy");
    EXPECT_EQ(readFile(path("import.sql")), expected);

    // A row added after the dump shows whether loading touched the source.
    ASSERT_EQ(server->sql("INSERT INTO shop.audit VALUES ('after the dump')").status, 0);
    ASSERT_EQ(server->sql("CREATE DATABASE shop_copy").status, 0);
    const CommandResult loaded = server->load(path("import.sql"), "shop_copy");
    ASSERT_EQ(loaded.status, 0) << loaded.output;
    EXPECT_EQ(contents("shop_copy"), original);
    EXPECT_EQ(server->value("SELECT COUNT(*) FROM shop.audit WHERE entry = 'after the dump'"), "1");
    // The copied procedure and trigger work in their new database.
    ASSERT_EQ(server->sql("CALL shop_copy.add_row(4)").status, 0);
    EXPECT_EQ(server->value("SELECT entry FROM shop_copy.audit"), "row 4;*/ done");
    EXPECT_EQ(server->value("SELECT COUNT(*) FROM shop.blobs WHERE id = 4"), "0");
}

// A database with a comment: mariadb-dump writes it after the character set
// comment of its CREATE DATABASE, quoted, with a ";" and a quote inside.
// Every mode that dumps one database loads into the target; one that drops
// the database or dumps several is refused before anything is loaded.
TEST_F(SQLDumpIntegrationTest, ADatabaseWithACommentLoadsInEveryModeThatDumpsOneDatabase) {
    ASSERT_EQ(server
                  ->sql("CREATE DATABASE blog CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci "
                        "COMMENT 'The blog; it''s the main site /* */';"
                        "CREATE TABLE blog.posts (id INT PRIMARY KEY, title VARCHAR(80), body "
                        "TEXT);"
                        "INSERT INTO blog.posts VALUES (1, 'Hello; world', 'Grüße 🍰'), "
                        "(2, 'it''s', NULL);")
                  .status,
              0);
    const std::string rows = "SELECT id, HEX(title), HEX(body) FROM %.posts ORDER BY id";
    const auto contents = [&](const std::string& database) {
        std::string query = rows;
        query.replace(query.find('%'), 1, "`" + database + "`");
        return server->value(query);
    };
    const std::string original = contents("blog");
    ASSERT_EQ(original.find("failed"), std::string::npos) << original;

    const std::vector<std::vector<std::string>> modes{
        {"--databases", "blog"},
        {"--databases", "blog", "--compact"},
        {"--databases", "blog", "--skip-comments"},
        {"--databases", "blog", "--skip-opt"},
        {"--databases", "blog", "--skip-extended-insert", "--complete-insert"},
        {"--databases", "blog", "--hex-blob", "--single-transaction", "--routines", "--events"},
        {"--databases", "blog", "--compatible=ansi"},
        {"--databases", "blog", "--insert-ignore", "--tz-utc", "--quote-names"},
        {"--databases", "blog", "--replace", "--no-tablespaces", "--add-locks"},
        {"--databases", "blog", "--dump-date", "--order-by-primary", "--skip-quote-names"},
    };
    int copy = 0;
    for (const std::vector<std::string>& mode : modes) {
        std::string described;
        for (const std::string& option : mode)
            described += option + " ";
        const fs::path file = path("blog.sql");
        const CommandResult dumped = server->dump(file, mode);
        ASSERT_EQ(dumped.status, 0) << dumped.output;
        std::string text = readFile(file);
        ASSERT_NE(text.find("COMMENT 'The blog; it''s the main site /* */'"), std::string::npos)
            << described << text;
        const std::string target = "blog_copy" + std::to_string(++copy);
        const SQLDump::Summary summary = SQLDump::prepare(file, path("import.sql"), target);
        // The name as written: ANSI quotes stay on it.
        EXPECT_EQ(summary.sourceDatabase, mode.back() == "--compatible=ansi" ? "\"blog\"" : "blog")
            << described;
        const std::string prepared = readFile(path("import.sql"));
        EXPECT_EQ(prepared.find("CREATE DATABASE"), std::string::npos) << described;
        EXPECT_EQ(prepared, SQLDumpTesting::reference(text, target).output) << described;
        // Made as the engine makes an environment's database: the dump's
        // own CREATE DATABASE is exchanged, and a mode without table
        // options leaves the character set to the database's.
        ASSERT_EQ(server->sql("CREATE DATABASE " + target + " CHARACTER SET utf8mb4").status, 0);
        const CommandResult loaded = server->load(path("import.sql"), target);
        ASSERT_EQ(loaded.status, 0) << described << loaded.output;
        EXPECT_EQ(contents(target), original) << described;
    }

    // As a MySQL 8 server writes it, with an encryption clause MariaDB skips.
    {
        const fs::path file = path("blog-mysql8.sql");
        ASSERT_EQ(server->dump(file, {"--databases", "blog"}).status, 0);
        std::string text = readFile(file);
        const std::string charset = "COLLATE utf8mb4_general_ci */";
        const std::size_t at = text.find(charset);
        ASSERT_NE(at, std::string::npos) << text;
        text.insert(at + charset.size(), " /*!80016 DEFAULT ENCRYPTION='N' */");
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        EXPECT_EQ(SQLDump::prepare(file, path("import.sql"), "blog_mysql8").sourceDatabase, "blog");
        ASSERT_EQ(server->sql("CREATE DATABASE blog_mysql8 CHARACTER SET utf8mb4").status, 0);
        const CommandResult loaded = server->load(path("import.sql"), "blog_mysql8");
        ASSERT_EQ(loaded.status, 0) << loaded.output;
        EXPECT_EQ(contents("blog_mysql8"), original);
    }

    // phpMyAdmin's form: its own header and CREATE DATABASE, the rows
    // written the way it writes them.
    {
        const fs::path file = path("blog-phpmyadmin.sql");
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            << "-- phpMyAdmin SQL Dump\n-- version 5.2.1\n\n"
               "SET SQL_MODE = \"NO_AUTO_VALUE_ON_ZERO\";\nSTART TRANSACTION;\n"
               "SET time_zone = \"+00:00\";\n\n\n"
               "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
               "/*!40101 SET NAMES utf8mb4 */;\n\n--\n-- Database: `blog`\n--\n"
               "CREATE DATABASE IF NOT EXISTS `blog` DEFAULT CHARACTER SET utf8mb4 COLLATE "
               "utf8mb4_general_ci;\nUSE `blog`;\n\n"
               "CREATE TABLE `posts` (\n  `id` int(11) NOT NULL,\n  `title` varchar(80) "
               "DEFAULT NULL,\n  `body` text DEFAULT NULL\n) ENGINE=InnoDB DEFAULT "
               "CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;\n\n"
               "INSERT INTO `posts` (`id`, `title`, `body`) VALUES\n"
               "(1, 'Hello; world', 'Grüße 🍰'),\n(2, 'it\\'s', NULL);\n\n"
               "ALTER TABLE `posts`\n  ADD PRIMARY KEY (`id`);\nCOMMIT;\n\n"
               "/*!40101 SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT */;\n";
        EXPECT_EQ(SQLDump::prepare(file, path("import.sql"), "blog_pma").sourceDatabase, "blog");
        ASSERT_EQ(server->sql("CREATE DATABASE blog_pma CHARACTER SET utf8mb4").status, 0);
        const CommandResult loaded = server->load(path("import.sql"), "blog_pma");
        ASSERT_EQ(loaded.status, 0) << loaded.output;
        EXPECT_EQ(contents("blog_pma"), original);
    }

    // The modes that cannot load into one database are still refused.
    ASSERT_EQ(server->dump(path("drop.sql"), {"--databases", "blog", "--add-drop-database"}).status,
              0);
    EXPECT_EQ(thrownMessage([&] { SQLDump::prepare(path("drop.sql"), path("import.sql"), "x"); }),
              "The dump drops a database. Export a single application database without DROP "
              "DATABASE.");
    ASSERT_EQ(server->dump(path("two.sql"), {"--databases", "blog", "shop"}).status, 0);
    EXPECT_EQ(thrownMessage([&] { SQLDump::prepare(path("two.sql"), path("import.sql"), "x"); }),
              "This dump selects multiple databases. Export one application database at a time.");
    EXPECT_EQ(contents("blog"), original);
}

TEST_F(SQLDumpIntegrationTest, ATableDumpWithoutDatabaseStatementsPassesByteForByte) {
    const std::string original = contents("shop");
    const CommandResult dumped = server->dump(
        path("tables.sql"), {"--skip-extended-insert", "--routines", "--triggers", "shop"});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    const SQLDump::Summary summary =
        SQLDump::prepare(path("tables.sql"), path("tables-import.sql"), "shop_rows");
    EXPECT_EQ(summary.sourceDatabase, std::nullopt);
    EXPECT_EQ(readFile(path("tables-import.sql")), readFile(path("tables.sql")));
    ASSERT_EQ(server->sql("CREATE DATABASE shop_rows").status, 0);
    const CommandResult loaded = server->load(path("tables-import.sql"), "shop_rows");
    ASSERT_EQ(loaded.status, 0) << loaded.output;
    EXPECT_EQ(contents("shop_rows"), original);
}

} // namespace
} // namespace vessora
