// The project import of a large generated dump against loading the same dump
// by hand. The dump is written as mariadb-dump writes one: header settings in
// executable comments, four tables with a primary key and a secondary index,
// DISABLE/ENABLE KEYS, and extended INSERTs of about 1 MiB. Prints, each the
// median (and range) of the rounds, interleaved:
//   1. the import's "importing" phase (start of the servers and the load),
//   2. the hand load into a server started from the environment's own
//      configuration with only innodb-buffer-pool-size raised to 512M,
//   3. once, the hand load with the configuration as it is (64M pool),
// and the ratios import / tuned hand load (goal at most 1.25) and untuned
// hand load / import (goal at least 3), with the load average.
// Usage: import-bench [MiB [rounds [untuned]]]  (default 461 MiB, 1 round,
// untuned 1; 0 skips the slow untuned load). Run as an unprivileged user.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "bench/BenchFigures.hpp"
#include "bench/BenchStage.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
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

// Returns the number of rows written.
std::uint64_t writeDump(const fs::path& file, std::uint64_t bytes) {
    std::ofstream out(file, std::ios::binary);
    out << "-- MariaDB dump 10.19  Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)\n--\n"
           "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;\n"
           "/*!40101 SET NAMES utf8mb4 */;\n"
           "/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;\n/*!40103 SET TIME_ZONE='+00:00' */;\n"
           "/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */;\n"
           "/*!40014 SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, FOREIGN_KEY_CHECKS=0 */;\n"
           "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n";
    std::mt19937_64 random(42);
    const char* words[] = {"teapot", "kettle", "cup", "saucer", "spoon", "jar", "tray", "lid"};
    const int tables = 4;
    std::uint64_t rows = 0;
    for (int table = 0; table < tables; ++table) {
        const std::string name = "t" + std::to_string(table);
        out << "\n--\n-- Table structure for table `" << name << "`\n--\n\n"
            << "DROP TABLE IF EXISTS `" << name << "`;\n"
            << "CREATE TABLE `" << name
            << "` (\n  `id` int(11) NOT NULL,\n  `customer` int(11) NOT NULL,\n"
               "  `name` varchar(40) NOT NULL,\n  `price` decimal(8,2) DEFAULT NULL,\n"
               "  `created` datetime NOT NULL,\n  PRIMARY KEY (`id`),\n"
               "  KEY `customer` (`customer`),\n  KEY `name` (`name`)\n"
               ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;\n\n"
            << "LOCK TABLES `" << name << "` WRITE;\n/*!40000 ALTER TABLE `" << name
            << "` DISABLE KEYS */;\n";
        const auto end = static_cast<std::uint64_t>(out.tellp()) + bytes / tables;
        std::uint64_t id = 1;
        while (static_cast<std::uint64_t>(out.tellp()) < end) {
            std::string statement = "INSERT INTO `" + name + "` VALUES ";
            bool first = true;
            while (statement.size() < 1000000) {
                char row[160];
                std::snprintf(
                    row, sizeof row,
                    "%s(%llu,%llu,'%s %s',%llu.%02llu,'2024-%02llu-%02llu %02llu:%02llu:00')",
                    first ? "" : ",", static_cast<unsigned long long>(id++),
                    static_cast<unsigned long long>(random() % 5000000), words[random() % 8],
                    words[random() % 8], static_cast<unsigned long long>(random() % 1000),
                    static_cast<unsigned long long>(random() % 100),
                    static_cast<unsigned long long>(random() % 12 + 1),
                    static_cast<unsigned long long>(random() % 28 + 1),
                    static_cast<unsigned long long>(random() % 24),
                    static_cast<unsigned long long>(random() % 60));
                statement += row;
                first = false;
                ++rows;
            }
            out << statement << ";\n";
        }
        out << "/*!40000 ALTER TABLE `" << name << "` ENABLE KEYS */;\nUNLOCK TABLES;\n";
    }
    out << "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n"
           "/*!40014 SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS */;\n"
           "/*!40014 SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS */;\n\n-- Dump completed\n";
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

void printRow(const char* label, const std::vector<double>& values) {
    std::printf("%-52s median %.1f s, range %.1f–%.1f s\n", label, median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

int run(std::uint64_t mebibytes, int rounds, int untunedRounds) {
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
    std::printf("dump: %.0f MiB, 4 tables, %llu rows\n",
                static_cast<double>(fs::file_size(dump)) / (1 << 20),
                static_cast<unsigned long long>(rows));

    const std::string loadBefore = loadAverage();
    std::vector<double> imports, tuned, untuned;
    int failures = 0;
    StackProfile last;
    for (int round = 0; round < rounds; ++round) {
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
        last = result.profile;
        tuned.push_back(loadByHand(engine, last, db, dump, {"--innodb-buffer-pool-size=512M"}));
        if (round + 1 < rounds)
            engine.remove(result.profile.id);
    }
    for (int round = 0; round < untunedRounds; ++round)
        untuned.push_back(loadByHand(engine, last, db, dump, {}));

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
    std::printf("load average (1, 5, 15 min): before %s, after %s\n", loadBefore.c_str(),
                loadAverage().c_str());
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
        const int untuned = argc > 3 ? std::stoi(argv[3]) : 1;
        return run(mebibytes, rounds, untuned);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "import-bench: %s\n", error.what());
        return 1;
    }
}
