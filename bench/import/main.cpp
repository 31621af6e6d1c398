// The project import of a large generated dump against loading the same dump
// by hand. The dump is written as mariadb-dump writes one: header settings in
// executable comments, a shop's four tables (users, orders, order lines,
// comments) with their secondary indexes, DISABLE/ENABLE KEYS, and extended
// INSERTs of about 1 MiB, the same for the same size (fixed seed). Prints, each the
// median (and range) of the rounds, each round running them in this order:
//   1. the import's "importing" phase (start of the servers and the load),
//   2. the hand load into a server started from the environment's own
//      configuration with only innodb-buffer-pool-size raised to 512M,
//   3. the hand load with the configuration as it is (64M pool),
// and the ratios import / tuned hand load (goal at most 1.25) and untuned
// hand load / import (goal at least 3), with the load average of each round.
// Usage: import-bench [MiB [rounds [untuned [lock file]]]]  (default 461 MiB,
// 1 round, untuned 1; 0 skips the slow untuned load). With a lock file, for
// example /tmp/vessora-bench.lock, each round holds it while it runs, so the
// dump is written outside it. Run as an unprivileged user.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "bench/BenchFigures.hpp"
#include "bench/BenchStage.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <thread>

using namespace vessora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using bench::loadAverage;
using bench::median;
using bench::secondsSince;

// A shop's tables as a real dump holds them. What decides the load's speed
// is the order in which rows reach each secondary index: the primary keys
// ascend, but emails, the customers of orders, the products of order lines
// and the authors of comments arrive in random order, so every row touches
// an index page of its own anywhere in an index far larger than a 64 MiB
// pool. Dates follow the ids, as they do in a shop that has been running.
struct Table {
    const char* name;
    const char* columns; // the CREATE TABLE body
    double share;        // of the dump's bytes
};

constexpr Table tables[] = {
    {"users",
     "  `id` int(10) unsigned NOT NULL AUTO_INCREMENT,\n"
     "  `email` varchar(190) NOT NULL,\n"
     "  `name` varchar(80) NOT NULL,\n"
     "  `created_at` datetime NOT NULL,\n"
     "  PRIMARY KEY (`id`),\n"
     "  UNIQUE KEY `users_email_unique` (`email`),\n"
     "  KEY `users_created_at_index` (`created_at`)",
     0.14},
    {"orders",
     "  `id` int(10) unsigned NOT NULL AUTO_INCREMENT,\n"
     "  `user_id` int(10) unsigned NOT NULL,\n"
     "  `status` varchar(16) NOT NULL,\n"
     "  `total` decimal(10,2) NOT NULL,\n"
     "  `created_at` datetime NOT NULL,\n"
     "  PRIMARY KEY (`id`),\n"
     "  KEY `orders_user_id_index` (`user_id`),\n"
     "  KEY `orders_status_index` (`status`),\n"
     "  KEY `orders_created_at_index` (`created_at`)",
     0.34},
    {"order_items",
     "  `id` int(10) unsigned NOT NULL AUTO_INCREMENT,\n"
     "  `order_id` int(10) unsigned NOT NULL,\n"
     "  `product_id` int(10) unsigned NOT NULL,\n"
     "  `quantity` smallint(5) unsigned NOT NULL,\n"
     "  `price` decimal(8,2) NOT NULL,\n"
     "  PRIMARY KEY (`id`),\n"
     "  KEY `order_items_order_id_index` (`order_id`),\n"
     "  KEY `order_items_product_id_index` (`product_id`)",
     0.36},
    {"comments",
     "  `id` int(10) unsigned NOT NULL AUTO_INCREMENT,\n"
     "  `user_id` int(10) unsigned NOT NULL,\n"
     "  `order_id` int(10) unsigned NOT NULL,\n"
     "  `body` text NOT NULL,\n"
     "  `created_at` datetime NOT NULL,\n"
     "  PRIMARY KEY (`id`),\n"
     "  KEY `comments_user_id_index` (`user_id`),\n"
     "  KEY `comments_order_id_index` (`order_id`)",
     0.16},
};

constexpr const char* givenNames[] = {"anna",  "ben",  "clara", "david", "emma",  "felix",
                                      "greta", "hugo", "ida",   "jonas", "karin", "luca",
                                      "mia",   "noah", "olga",  "paul",  "rosa",  "sven"};
constexpr const char* familyNames[] = {"baker",   "fischer", "garcia", "jensen", "kowalski",
                                       "martin",  "meyer",   "moreau", "novak",  "rossi",
                                       "schmidt", "silva",   "smith",  "weber",  "young"};
constexpr const char* domains[] = {"example.com", "example.org", "mail.example.net", "shop.example",
                                   "web.example.de"};
constexpr const char* statuses[] = {"pending", "paid", "shipped", "delivered", "cancelled"};
constexpr const char* words[] = {"teapot", "kettle", "arrived", "quickly", "thanks",  "the",
                                 "parcel", "was",    "broken",  "lovely",  "colour",  "size",
                                 "again",  "would",  "order",   "great",   "service", "slow"};
constexpr std::uint64_t products = 20000;
constexpr std::uint64_t secondsPerRow = 37; // dates advance with the ids

template <std::size_t N>
const char* pick(std::mt19937_64& random, const char* const (&from)[N]) {
    return from[random() % N];
}

// Since 2019-01-01, `id` steps of `secondsPerRow` plus up to an hour.
std::string dateFor(std::uint64_t id, std::mt19937_64& random) {
    const std::time_t at =
        static_cast<std::time_t>(1546300800 + id * secondsPerRow + random() % 3600);
    std::tm parts{};
    ::gmtime_r(&at, &parts);
    char text[24];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// One row of `table` in the client's text form, without the separator.
std::string row(int table, std::uint64_t id, std::uint64_t users, std::uint64_t orders,
                std::uint64_t& order, std::mt19937_64& random) {
    char text[512];
    switch (table) {
    case 0: {
        const char* given = pick(random, givenNames);
        const char* family = pick(random, familyNames);
        // A bijection of the id keeps every address unique and their order random.
        const auto tag = static_cast<std::uint32_t>(id * 2654435761u);
        std::snprintf(text, sizeof text, "(%llu,'%s.%s.%08x@%s','%s %s','%s')",
                      static_cast<unsigned long long>(id), given, family, tag,
                      pick(random, domains), given, family, dateFor(id, random).c_str());
        break;
    }
    case 1:
        std::snprintf(text, sizeof text, "(%llu,%llu,'%s',%llu.%02llu,'%s')",
                      static_cast<unsigned long long>(id),
                      static_cast<unsigned long long>(random() % users + 1), pick(random, statuses),
                      static_cast<unsigned long long>(random() % 900 + 5),
                      static_cast<unsigned long long>(random() % 100), dateFor(id, random).c_str());
        break;
    case 2:
        // One to four lines per order, in the order's sequence.
        if (random() % 5 < 2 && order < orders)
            ++order;
        std::snprintf(text, sizeof text, "(%llu,%llu,%llu,%llu,%llu.%02llu)",
                      static_cast<unsigned long long>(id), static_cast<unsigned long long>(order),
                      static_cast<unsigned long long>(random() % products + 1),
                      static_cast<unsigned long long>(random() % 4 + 1),
                      static_cast<unsigned long long>(random() % 200 + 1),
                      static_cast<unsigned long long>(random() % 100));
        break;
    default: {
        std::string body;
        for (std::uint64_t word = 0, count = random() % 24 + 8; word < count; ++word)
            body += (word == 0 ? "" : " ") + std::string(pick(random, words));
        std::snprintf(text, sizeof text, "(%llu,%llu,%llu,'%s','%s')",
                      static_cast<unsigned long long>(id),
                      static_cast<unsigned long long>(random() % users + 1),
                      static_cast<unsigned long long>(random() % orders + 1), body.c_str(),
                      dateFor(id, random).c_str());
    }
    }
    return text;
}

// Writes a dump of about `bytes` and returns the number of rows written.
std::uint64_t writeDump(const fs::path& file, std::uint64_t bytes) {
    std::ofstream out(file, std::ios::binary);
    out << "-- MariaDB dump 10.19  Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)\n--\n"
           "-- Host: localhost    Database: shop\n"
           "-- ------------------------------------------------------\n"
           "-- Server version\t10.11.6-MariaDB-0+deb12u1\n\n"
           "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
           "/*!40101 SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS */;\n"
           "/*!40101 SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION */;\n"
           "/*!40101 SET NAMES utf8mb4 */;\n"
           "/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;\n/*!40103 SET TIME_ZONE='+00:00' */;\n"
           "/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */;\n"
           "/*!40014 SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, FOREIGN_KEY_CHECKS=0 */;\n"
           "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n"
           "/*!40111 SET @OLD_SQL_NOTES=@@SQL_NOTES, SQL_NOTES=0 */;\n";
    std::mt19937_64 random(42);
    std::uint64_t rows = 0;
    std::uint64_t users = 1;
    std::uint64_t orders = 1;
    for (int table = 0; table < int(std::size(tables)); ++table) {
        const std::string name = tables[table].name;
        out << "\n--\n-- Table structure for table `" << name << "`\n--\n\n"
            << "DROP TABLE IF EXISTS `" << name << "`;\n"
            << "/*!40101 SET @saved_cs_client     = @@character_set_client */;\n"
            << "/*!40101 SET character_set_client = utf8 */;\n"
            << "CREATE TABLE `" << name << "` (\n"
            << tables[table].columns
            << "\n) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;\n"
            << "/*!40101 SET character_set_client = @saved_cs_client */;\n\n"
            << "--\n-- Dumping data for table `" << name << "`\n--\n\n"
            << "LOCK TABLES `" << name << "` WRITE;\n/*!40000 ALTER TABLE `" << name
            << "` DISABLE KEYS */;\n";
        const auto end = static_cast<std::uint64_t>(out.tellp()) +
                         static_cast<std::uint64_t>(double(bytes) * tables[table].share);
        std::uint64_t id = 0;
        std::uint64_t order = 1;
        while (static_cast<std::uint64_t>(out.tellp()) < end) {
            // mariadb-dump's default net buffer: statements of about 1 MiB.
            std::string statement = "INSERT INTO `" + name + "` VALUES ";
            bool first = true;
            while (statement.size() < 1000000) {
                if (!first)
                    statement += ',';
                statement += row(table, ++id, users, orders, order, random);
                first = false;
                ++rows;
            }
            out << statement << ";\n";
        }
        if (table == 0)
            users = id;
        if (table == 1)
            orders = id;
        out << "/*!40000 ALTER TABLE `" << name << "` ENABLE KEYS */;\nUNLOCK TABLES;\n";
    }
    out << "/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;\n\n"
           "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n"
           "/*!40014 SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS */;\n"
           "/*!40014 SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS */;\n"
           "/*!40101 SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT */;\n"
           "/*!40101 SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS */;\n"
           "/*!40101 SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION */;\n"
           "/*!40111 SET SQL_NOTES=@OLD_SQL_NOTES */;\n\n-- Dump completed\n";
    return rows;
}

// The client over the environment's socket as the login user.
CommandResult client(const fs::path& db, const fs::path& socket,
                     const std::vector<std::string>& extra, CommandOptions options) {
    std::vector<std::string> arguments{"--no-defaults",
                                       "--protocol=socket",
                                       "--socket=" + socket.string(),
                                       "--user=" + std::string(::getpwuid(::geteuid())->pw_name),
                                       "--max-allowed-packet=65M",
                                       "--batch"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Command::run(db / "bin/mariadb", arguments, options);
}

// The seconds the client takes to load the dump into a server started by
// hand from the environment's configuration, with `extra` options after it.
double loadByHand(const StackEngine& engine, const StackProfile& profile, const fs::path& db,
                  const fs::path& dump, const std::vector<std::string>& extra) {
    const StackPaths paths(engine.root(), profile);
    const fs::path socket = engine.socketDirectory() / (profile.id + ".sock");
    std::vector<std::string> arguments{"--defaults-file=" + paths.databaseConfig().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    ManagedProcess server("MariaDB", db / "bin/mariadbd", arguments,
                          paths.logs() / "bench-mariadb.log");
    bool ready = false;
    for (int attempt = 0; attempt < 600 && !ready && server.isRunning(); ++attempt) {
        ready = client(db, socket, {}, {.timeout = 10, .input = "SELECT 1;"}).status == 0;
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ready)
        throw std::runtime_error("the server started by hand did not answer");
    const std::string database = profile.databaseName;
    client(db, socket, {},
           {.timeout = 60,
            .input =
                "DROP DATABASE IF EXISTS `" + database + "`; CREATE DATABASE `" + database + "`;"});
    const Clock::time_point start = Clock::now();
    const CommandResult result =
        client(db, socket, {"--database=" + database}, {.timeout = 3600, .inputFile = dump});
    const double seconds = secondsSince(start);
    server.signal(SIGTERM);
    if (!server.waitForExit(std::chrono::seconds(120)))
        server.signal(SIGKILL);
    server.waitForExit(std::chrono::seconds(5));
    if (result.status != 0)
        throw std::runtime_error("the hand load failed: " + result.output);
    return seconds;
}

// Blocks until `file` is locked; nothing for an empty name.
UniqueFd lock(const std::string& file) {
    if (file.empty())
        return {};
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fd || ::flock(fd.get(), LOCK_EX) != 0)
        throw std::runtime_error("cannot lock " + file);
    return fd;
}

void printRow(const char* label, const std::vector<double>& values) {
    std::printf("%-52s median %.1f s, range %.1f–%.1f s\n", label, median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

int run(std::uint64_t mebibytes, int rounds, bool withUntuned, const std::string& lockFile) {
    UserDefaults::setStandard(UserDefaults::inMemory());
    bench::BenchStage stage("vessora-import-bench");
    const fs::path db = stage.brew().root() / "opt" / "mariadb@10.11";
    StackEngine engine(stage.engineOptions());

    const fs::path project = stage.work() / "project";
    fs::create_directories(project / "public");
    PrivateFile::writeKeepingMode(project / "public/index.php", "<?php echo 'ok';\n");
    fs::permissions(project, fs::perms(0755));
    fs::permissions(project / "public", fs::perms(0755));
    const fs::path dump = stage.work() / "dump.sql";
    const std::uint64_t rows = writeDump(dump, mebibytes << 20);
    std::printf("dump: %.0f MiB, %zu tables, %llu rows\n",
                static_cast<double>(fs::file_size(dump)) / (1 << 20), std::size(tables),
                static_cast<unsigned long long>(rows));
    std::fflush(stdout);
    // On disk before the first round, whose load would otherwise share the
    // disk with the write-back of the whole dump.
    const UniqueFd written(::open(dump.c_str(), O_RDONLY | O_CLOEXEC));
    if (!written || ::fsync(written.get()) != 0)
        throw std::runtime_error("cannot write the dump to disk");

    std::vector<double> imports, tuned, untuned;
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        // Held for one round at a time, so other benchmarks get their turn.
        const UniqueFd held = lock(lockFile);
        const std::string loadBefore = loadAverage();
        MigrationRequest request;
        request.name = "Bench " + std::to_string(round);
        request.projectFolder = project;
        request.publicDirectory = "public";
        request.databaseName = "bench";
        request.sqlFile = dump;
        request.php = "php@8.2";
        request.mariaDB = "mariadb@10.11";
        request.webserver = "nginx";
        Clock::time_point entered;
        std::optional<double> importing;
        const MigrationResult result = engine.migrate(request, [&](MigrationPhase phase) {
            if (phase == MigrationPhase::importing)
                entered = Clock::now();
            if (phase == MigrationPhase::verifying)
                importing = secondsSince(entered);
        });
        if (!result.report.succeeded) {
            // A failed load still counts: it is the time the user waited.
            const double waited = secondsSince(entered);
            const std::string& message = result.report.message;
            std::printf("round %d: the import FAILED after %.1f s: %s\n", round + 1, waited,
                        message.c_str());
            const std::size_t log = message.find("Log: ");
            if (log != std::string::npos) {
                std::string named = message.substr(log + 5);
                while (!named.empty() && (named.back() == '.' || named.back() == '\n'))
                    named.pop_back();
                std::printf("  the log it names %s: %s\n",
                            fs::exists(named) ? "exists" : "DOES NOT EXIST", named.c_str());
            }
            ++failures;
            importing = waited;
        }
        imports.push_back(*importing);
        engine.stop(result.profile.id);
        tuned.push_back(
            loadByHand(engine, result.profile, db, dump, {"--innodb-buffer-pool-size=512M"}));
        if (withUntuned)
            untuned.push_back(loadByHand(engine, result.profile, db, dump, {}));
        std::printf("round %d: import %.1f s, by hand 512M %.1f s", round + 1, imports.back(),
                    tuned.back());
        if (withUntuned)
            std::printf(", by hand 64M %.1f s", untuned.back());
        std::printf("; load average before %s, after %s\n", loadBefore.c_str(),
                    loadAverage().c_str());
        std::fflush(stdout);
        engine.remove(result.profile.id);
    }

    if (failures > 0)
        std::printf("%d of %d imports FAILED; their figures are the time until the failure\n",
                    failures, rounds);
    printRow("import (importing phase):", imports);
    printRow("by hand, 512M buffer pool:", tuned);
    std::printf("ratio import / tuned hand load:   %.2f (goal at most 1.25)\n",
                median(imports) / median(tuned));
    if (!untuned.empty()) {
        printRow("by hand, the environment's configuration (64M):", untuned);
        std::printf("ratio untuned hand load / import: %.2f (goal at least 3)\n",
                    median(untuned) / median(imports));
    }
    engine.stopAll();
    fs::remove_all(engine.socketDirectory());
    UserDefaults::setStandard(nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (::geteuid() == 0) {
        std::printf(
            "import-bench: run as an unprivileged user (MariaDB and PHP-FPM refuse root)\n");
        return 0;
    }
    try {
        const std::uint64_t mebibytes = argc > 1 ? std::stoull(argv[1]) : 461;
        const int rounds = argc > 2 ? std::max(1, std::stoi(argv[2])) : 1;
        const bool untuned = argc > 3 ? std::stoi(argv[3]) != 0 : true;
        return run(mebibytes, rounds, untuned, argc > 4 ? argv[4] : "");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "import-bench: %s\n", error.what());
        return 1;
    }
}
