// Preparing a generated dump against reading the same file: prints the
// throughput of SQLDump::prepare beside `cat dump > /dev/null` (reading
// alone) and `cat dump > copy` (reading and writing, as prepare does), and
// the peak resident memory (VmHWM) while preparing. A 64 MiB dump runs
// before the 512 MiB one, so the two peaks show whether memory grows with
// the file. Each figure is the best of several rounds, in wall time and per
// second of processor time (which other work on the machine skews less);
// the load average is printed beside them.
//
// The dump mimics mariadb-dump: header settings in executable comments,
// per table DROP/CREATE and extended INSERTs of about 1 MiB whose rows hold
// escaped text (quotes, backslashes, line breaks, UTF-8), binary strings,
// numbers, NULLs and dates, comments between the tables and a trigger in a
// DELIMITER block. A third run writes a statement per row instead, as
// mariadb-dump --skip-extended-insert does. Everything lives in a temporary
// folder removed at the end.
//
// A third shape, for the single steps, is mostly code in DELIMITER blocks
// whose bodies hold ";" of their own: small tables, each with its rows and
// then three triggers as mariadb-dump writes them (DEFINER in an executable
// comment, sql_mode saved, set and restored around each), then a routines
// section of procedures and functions made with CREATE DEFINER=... .
//
// Usage: sqldump-bench [rounds [MiB ...]]   (default 3 rounds; given sizes
// replace the three runs), or one of the single steps described at single().
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/SQLDump.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace vessora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t MiB = 1 << 20;

std::string escaped(std::string_view raw) {
    std::string out;
    for (char c : raw) {
        switch (c) {
        case '\0':
            out += "\\0";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\x1A':
            out += "\\Z";
            break;
        case '\'':
            out += "\\'";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// extendedInserts: INSERTs of about 1 MiB, as mariadb-dump writes by
// default; rowStatements: a statement per row (--skip-extended-insert);
// routines: mostly triggers, procedures and functions in DELIMITER blocks.
enum class Shape { extendedInserts, rowStatements, routines };

const char* describe(Shape shape) {
    switch (shape) {
    case Shape::extendedInserts:
        return "extended INSERTs";
    case Shape::rowStatements:
        return "a statement per row";
    case Shape::routines:
        return "triggers and routines in DELIMITER blocks";
    }
    return "";
}

class DumpWriter {
public:
    DumpWriter(const fs::path& file, std::uint64_t size, Shape shape)
        : out_(file, std::ios::binary), size_(size), shape_(shape),
          rowsPerInsert_(shape == Shape::rowStatements ? 1 : 0) {}

    void write() {
        put("/*M!999999\\- enable the sandbox mode */ \n-- MariaDB dump 10.19  Distrib 10.11.19"
            "-MariaDB, for debian-linux-gnu (x86_64)\n--\n-- Host: localhost    Database: shop\n"
            "-- ------------------------------------------------------\n\n"
            "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
            "/*!40101 SET NAMES utf8mb4 */;\n/*!40103 SET TIME_ZONE='+00:00' */;\n"
            "/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */;\n"
            "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n\n"
            "--\n-- Current Database: `shop`\n--\n\nCREATE DATABASE /*!32312 IF NOT EXISTS*/ "
            "`shop` /*!40100 DEFAULT CHARACTER SET utf8mb4 */;\n\nUSE `shop`;\n");
        const std::string tail =
            "/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;\n/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n"
            "/*!40014 SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS */;\n\n-- Dump completed\n";
        if (shape_ == Shape::routines) {
            writeCode(size_ - tail.size());
        } else {
            for (int table = 0; written_ + 4 * MiB + tail.size() < size_; ++table)
                this->table(table, size_ - tail.size());
        }
        put(tail);
        // The file is read while the writer still lives (measure()): its
        // last buffered bytes must be on disk by then.
        out_.flush();
        if (!out_) {
            std::fprintf(stderr, "could not write the dump\n");
            std::exit(1);
        }
    }

    std::uint64_t written() const { return written_; }

private:
    void put(std::string_view text) {
        out_.write(text.data(), std::streamsize(text.size()));
        written_ += text.size();
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string text() {
        static const std::vector<std::string> words = {"order",
                                                       "customer's",
                                                       "Grüße",
                                                       "naïve",
                                                       "\"quoted\"",
                                                       "back\\slash",
                                                       "semi;colon",
                                                       "line\nbreak",
                                                       "tab\there",
                                                       "100%",
                                                       "café",
                                                       "😀",
                                                       "-- not a comment",
                                                       "/* nor this */",
                                                       "O'Reilly",
                                                       "C:\\path\\to",
                                                       "#hash",
                                                       "DELIMITER ;;"};
        std::string raw;
        const int n = 2 + pick(14);
        for (int i = 0; i < n; ++i)
            raw += words[std::size_t(pick(int(words.size())))] + " ";
        return escaped(raw);
    }

    std::string binary() {
        std::string raw(std::size_t(8 + pick(40)), '\0');
        for (char& c : raw)
            c = static_cast<char>(pick(256));
        return escaped(raw);
    }

    std::string rowValues(int id) {
        return "(" + std::to_string(id) + ",'" + text() + "','" + text() + text() + "'," +
               std::to_string(pick(100000)) + "." + std::to_string(10 + pick(90)) + "," +
               (pick(8) ? "_binary '" + binary() + "'" : std::string("NULL")) + ",'2024-0" +
               std::to_string(1 + pick(9)) + "-1" + std::to_string(pick(9)) + " 12:34:56')";
    }

    void tableHead(const std::string& name) {
        put("\n--\n-- Table structure for table " + name + "\n--\n\nDROP TABLE IF EXISTS " + name +
            ";\n/*!40101 SET @saved_cs_client     = @@character_set_client */;\n"
            "CREATE TABLE " +
            name +
            " (\n  `id` int(11) NOT NULL,\n  `title` varchar(200),\n"
            "  `body` text,\n  `price` decimal(10,2),\n  `hash` varbinary(64),\n"
            "  `created` datetime,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB DEFAULT "
            "CHARSET=utf8mb4;\n\n--\n-- Dumping data for table " +
            name + "\n--\n\nLOCK TABLES " + name + " WRITE;\n/*!40000 ALTER TABLE " + name +
            " DISABLE KEYS */;\n");
    }

    void table(int number, std::uint64_t limit) {
        const std::string name = "`table_" + std::to_string(number) + "`";
        tableHead(name);
        // About 64 MiB per table, in INSERTs of about 1 MiB.
        int id = 1;
        for (int batch = 0; batch < 64 && written_ + 2 * MiB < limit; ++batch) {
            std::string insert;
            for (int row = 0; insert.size() < MiB - 1024; ++row) {
                if (row == 0 || (rowsPerInsert_ > 0 && row % rowsPerInsert_ == 0))
                    insert += (row ? ";\nINSERT INTO " : "INSERT INTO ") + name + " VALUES ";
                else
                    insert += ',';
                insert += rowValues(id++);
            }
            put(insert + ";\n");
        }
        put("/*!40000 ALTER TABLE " + name +
            " ENABLE KEYS */;\nUNLOCK TABLES;\n"
            "DELIMITER ;;\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 "
            "TRIGGER `" +
            name.substr(1, name.size() - 2) + "_touch` BEFORE UPDATE ON " + name +
            " FOR EACH ROW SET NEW.title = CONCAT(NEW.title, ';*/') */;;\nDELIMITER ;\n");
    }

    // The settings mariadb-dump saves and sets before each trigger or
    // routine, and restores after it.
    static constexpr std::string_view codeSettings =
        "/*!50003 SET @saved_cs_client      = @@character_set_client */ ;\n"
        "/*!50003 SET @saved_cs_results     = @@character_set_results */ ;\n"
        "/*!50003 SET @saved_col_connection = @@collation_connection */ ;\n"
        "/*!50003 SET character_set_client  = utf8mb4 */ ;\n"
        "/*!50003 SET character_set_results = utf8mb4 */ ;\n"
        "/*!50003 SET collation_connection  = utf8mb4_general_ci */ ;\n"
        "/*!50003 SET @saved_sql_mode       = @@sql_mode */ ;\n"
        "/*!50003 SET sql_mode              = "
        "'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,"
        "NO_ENGINE_SUBSTITUTION' */ ;\n"
        "DELIMITER ;;\n";
    static constexpr std::string_view codeRestore =
        "DELIMITER ;\n"
        "/*!50003 SET sql_mode              = @saved_sql_mode */ ;\n"
        "/*!50003 SET character_set_client  = @saved_cs_client */ ;\n"
        "/*!50003 SET character_set_results = @saved_cs_results */ ;\n"
        "/*!50003 SET collation_connection  = @saved_col_connection */ ;\n";

    // A third of the dump in small tables with triggers, the rest routines.
    void writeCode(std::uint64_t limit) {
        const std::uint64_t tablesEnd = written_ + (limit - written_) / 3;
        int tables = 0;
        for (; written_ + 64 * 1024 < tablesEnd; ++tables)
            codeTable(tables);
        put("\n--\n-- Dumping routines for database 'shop'\n--\n");
        for (int routine = 0; written_ + 16 * 1024 < limit; ++routine) {
            if (routine % 4 == 3)
                function(routine, tables);
            else
                procedure(routine, tables);
        }
    }

    void codeTable(int number) {
        const std::string bare = "table_" + std::to_string(number);
        const std::string name = "`" + bare + "`";
        tableHead(name);
        std::string insert = "INSERT INTO " + name + " VALUES ";
        for (int id = 1; insert.size() < 6 * 1024; ++id) {
            if (id > 1)
                insert += ',';
            insert += rowValues(id);
        }
        put(insert + ";\n/*!40000 ALTER TABLE " + name + " ENABLE KEYS */;\nUNLOCK TABLES;\n");
        const std::string definer = "/*!50017 DEFINER=`root`@`localhost`*/";
        put(codeSettings);
        put("/*!50003 CREATE*/ " + definer + " /*!50003 TRIGGER `" + bare +
            "_bi` BEFORE INSERT ON " + name +
            " FOR EACH ROW SET NEW.title = CONCAT(NEW.title, ';*/') */;;\n");
        put(codeRestore);
        put(codeSettings);
        put("/*!50003 CREATE*/ " + definer + " /*!50003 TRIGGER `" + bare +
            "_bu` BEFORE UPDATE ON " + name +
            " FOR EACH ROW BEGIN\n  IF NEW.price < 0 THEN\n    SET NEW.price = 0;\n  END IF;\n"
            "  SET NEW.body = CONCAT(NEW.body, ' it''s; \\'edited\\' ');\n"
            "  SET @last_update = NEW.id;\nEND */;;\n");
        put(codeRestore);
        put(codeSettings);
        put("/*!50003 CREATE*/ /*!50017 DEFINER=`shop_admin`@`%`*/ /*!50003 TRIGGER `" + bare +
            "_ad` AFTER DELETE ON " + name +
            " FOR EACH ROW BEGIN\n  INSERT INTO `audit` VALUES (OLD.id, 'gone; \"really\"', "
            "'C:\\\\tmp');\n  SET @deleted = @deleted + 1;\nEND */;;\n");
        put(codeRestore);
    }

    // The quote inside "..." is doubled, not escaped: older builds of the
    // preparation refuse a backslash there in a routine's body, and the
    // shape is meant to run on them too.
    void procedure(int number, int tables) {
        const std::string n = std::to_string(number);
        const std::string table = "`table_" + std::to_string(pick(std::max(tables, 1))) + "`";
        put("/*!50003 DROP PROCEDURE IF EXISTS `p" + n + "` */;\n");
        put(codeSettings);
        put("CREATE DEFINER=`root`@`localhost` PROCEDURE `p" + n +
            "`(IN a INT, OUT b VARCHAR(200))\nBEGIN\n  DECLARE done INT DEFAULT 0;\n"
            "  SELECT 1;\n  SET @x = 'a\\'b; c';\n  SET b = CONCAT('semi;colon ', \"dq\"\"x\", '" +
            text() + "', a);\n  -- step " + n + "; the next one\n  IF a > " + n +
            " THEN\n    CALL q(a - 1);\n  ELSE\n    UPDATE " + table +
            " SET title = 'O''Reilly; done' WHERE id = a;\n  END IF;\n  CALL q();\nEND ;;\n");
        put(codeRestore);
    }

    void function(int number, int tables) {
        const std::string n = std::to_string(number);
        const std::string table = "`table_" + std::to_string(pick(std::max(tables, 1))) + "`";
        put("/*!50003 DROP FUNCTION IF EXISTS `f" + n + "` */;\n");
        put(codeSettings);
        put("CREATE DEFINER=`shop_admin`@`%` FUNCTION `f" + n +
            "`(a INT) RETURNS varchar(200) CHARSET utf8mb4 COLLATE utf8mb4_general_ci\n"
            "    READS SQL DATA\nBEGIN\n  DECLARE s VARCHAR(200) DEFAULT 'x;y';\n"
            "  SELECT title INTO s FROM " +
            table + " WHERE id = a LIMIT 1;\n  SET s = CONCAT(s, '\\\\', '" + text() +
            "');\n  RETURN s;\nEND ;;\n");
        put(codeRestore);
    }

    std::ofstream out_;
    std::uint64_t size_;
    Shape shape_;
    int rowsPerInsert_;
    std::uint64_t written_ = 0;
    std::mt19937 random_{20240917};
};

// Wall time, and processor time (user and system, all threads) of this
// process or of its finished children; the latter suffers less from other
// work on the machine.
struct Elapsed {
    double wall = 0;
    double processor = 0;
};

double processorSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <typename Work>
Elapsed timed(int who, Work&& work) {
    const double processor = processorSeconds(who);
    const Clock::time_point start = Clock::now();
    work();
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            processorSeconds(who) - processor};
}

Elapsed timedShell(const std::string& script, const fs::path& file) {
    return timed(RUSAGE_CHILDREN, [&] {
        const CommandResult result =
            Command::run("/bin/sh", {"-c", script, "sh", file.string()}, {.timeout = 600});
        if (result.status != 0) {
            std::fprintf(stderr, "%s failed: %s\n", script.c_str(), result.output.c_str());
            std::exit(1);
        }
    });
}

// Peak resident memory since the last reset, in KiB.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string load() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void measure(const fs::path& folder, std::uint64_t size, Shape shape, int rounds) {
    const fs::path dump = folder / "dump.sql";
    const fs::path prepared = folder / "import.sql";
    DumpWriter writer(dump, size, shape);
    writer.write();
    const double mib = double(writer.written()) / double(MiB);
    std::printf("\n%.1f MiB dump, %s (%llu bytes)\n", mib, describe(shape),
                static_cast<unsigned long long>(writer.written()));
    timedShell("cat \"$1\" > /dev/null", dump); // into the page cache

    std::vector<Elapsed> cat, copy, prepare;
    long peak = 0;
    SQLDump::Summary summary;
    const auto rate = [mib](const Elapsed& e) { return mib / e.wall; };
    const auto processorRate = [mib](const Elapsed& e) { return mib / e.processor; };
    for (int round = 0; round < rounds; ++round) {
        cat.push_back(timedShell("cat \"$1\" > /dev/null", dump));
        copy.push_back(timedShell("cat \"$1\" > \"$1.copy\"", dump));
        fs::remove(dump.string() + ".copy");
        resetPeak();
        prepare.push_back(
            timed(RUSAGE_SELF, [&] { summary = SQLDump::prepare(dump, prepared, "bench_db"); }));
        peak = std::max(peak, peakKiB());
        fs::remove(prepared);
        std::printf("  round %d: cat>/dev/null %5.0f  cat>copy %5.0f  prepare %5.0f MiB/s; per "
                    "processor second %5.0f %5.0f %5.0f MiB; load %s\n",
                    round + 1, rate(cat.back()), rate(copy.back()), rate(prepare.back()),
                    processorRate(cat.back()), processorRate(copy.back()),
                    processorRate(prepare.back()), load().c_str());
    }
    const auto best = [](const std::vector<Elapsed>& all, double Elapsed::*field) {
        Elapsed fastest = all.front();
        for (const Elapsed& e : all) {
            if (e.*field < fastest.*field)
                fastest = e;
        }
        return fastest;
    };
    std::printf("  best:    cat>/dev/null %5.0f  cat>copy %5.0f  prepare %5.0f MiB/s (%.2f GB/s); "
                "per processor second %5.0f %5.0f %5.0f MiB\n",
                rate(best(cat, &Elapsed::wall)), rate(best(copy, &Elapsed::wall)),
                rate(best(prepare, &Elapsed::wall)),
                double(writer.written()) / best(prepare, &Elapsed::wall).wall / 1e9,
                processorRate(best(cat, &Elapsed::processor)),
                processorRate(best(copy, &Elapsed::processor)),
                processorRate(best(prepare, &Elapsed::processor)));
    std::printf("  peak resident memory while preparing: %.1f MiB; %lld statements, source "
                "database %s\n",
                double(peak) / 1024.0, static_cast<long long>(summary.statementCount),
                summary.sourceDatabase.value_or("(none)").c_str());
    fs::remove(dump);
}

// The two halves alone, for timing from outside (a whole process, its peak
// memory as the system counts it): "generate FILE MIB [per-row | routines]"
// writes a dump of at most MIB MiB (extended INSERTs without a shape),
// "prepare FILE OUTPUT" prepares it once.
int single(const std::vector<std::string>& arguments) {
    const auto shape = [&]() -> std::optional<Shape> {
        if (arguments.size() == 3)
            return Shape::extendedInserts;
        if (arguments.size() == 4 && arguments[3] == "per-row")
            return Shape::rowStatements;
        if (arguments.size() == 4 && arguments[3] == "routines")
            return Shape::routines;
        return std::nullopt;
    };
    if (arguments[0] == "generate" && shape()) {
        DumpWriter writer(arguments[1], std::strtoull(arguments[2].c_str(), nullptr, 10) * MiB,
                          *shape());
        writer.write();
        std::printf("%llu bytes\n", static_cast<unsigned long long>(writer.written()));
        return 0;
    }
    if (arguments[0] == "prepare" && arguments.size() == 3) {
        const SQLDump::Summary summary = SQLDump::prepare(arguments[1], arguments[2], "bench_db");
        std::printf("%lld statements; peak resident memory %.1f MiB\n",
                    static_cast<long long>(summary.statementCount), double(peakKiB()) / 1024.0);
        return 0;
    }
    std::fprintf(stderr, "usage: sqldump-bench [rounds [MiB ...]] | generate FILE MIB "
                         "[per-row | routines] | prepare FILE OUTPUT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    UserDefaults::setStandard(UserDefaults::inMemory());
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments[0] == "generate" || arguments[0] == "prepare"))
        return single(arguments);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        sizes.push_back(std::strtoull(arguments[i].c_str(), nullptr, 10) * MiB);
    std::string pattern = (fs::temp_directory_path() / "vessora-sqldump-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const RemovedOnExit folder{fs::path(pattern)};
    std::printf("SQL dump preparation; load average %s\n", load().c_str());
    if (!sizes.empty()) {
        for (const std::uint64_t size : sizes)
            measure(folder.path(), size, Shape::extendedInserts, rounds);
        return 0;
    }
    measure(folder.path(), 64 * MiB, Shape::extendedInserts, rounds);
    measure(folder.path(), SQLDump::largestFile, Shape::extendedInserts, rounds);
    measure(folder.path(), SQLDump::largestFile, Shape::rowStatements, rounds);
    return 0;
}
