// The start run against stand-in programs: shell scripts in fake kegs that
// answer version questions, record what they are given and otherwise sleep
// like servers. No server answers HTTP, so every full run ends in the
// health check's failure and shows the way back down as well.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string busyText = "Another Vessora action is still in progress.";

std::string readOr(const fs::path& file, std::string fallback = "") {
    return fs::exists(file) ? PrivateFile::read(file) : fallback;
}

class StackEngineStartTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        php = keg("php@8.4");
        db = keg("mariadb@11.4");
        web = keg("nginx");
        script(php / "bin/php", "printf 8.4.2");
        script(php / "sbin/php-fpm", "if [ \"$1\" = -t ]; then printf %s \"$PHP_INI_SCAN_DIR\" > " +
                                         (php / "fpm-test").string() +
                                         "; exit 0; fi\nexec sleep 60");
        script(db / "bin/mariadbd",
               "if [ \"$2\" = --version ]; then echo \"" + db.string() +
                   "/bin/mariadbd  Ver 11.4.2-MariaDB\"; exit 0; fi\nexec sleep 60");
        script(db / "bin/mariadb", "cat >> " + (db / "sql.log").string() + "\necho 1");
        script(db / "bin/mariadb-install-db", "echo \"$@\" >> " + (db / "install").string());
        script(web / "bin/nginx", "[ \"$1\" = -t ] && exit 0\nexec sleep 60");

        nlohmann::json formulae;
        for (const auto& [name, prefix] : {std::pair{"php@8.4", php},
                                           {"mariadb@11.4", db},
                                           {"nginx", web},
                                           {"phpmyadmin", keg("phpmyadmin")}}) {
            formulae[name] = BrewStandIn::formula("1.0", {"1.0"});
            formulae[name]["prefix"] = prefix.string();
        }
        brew.setState({{"formulae", formulae}});

        auto options =
            StackEngineTesting::quickOptions(folder.path() / "data", brew.brew(), helper);
        options.readinessPause = std::chrono::milliseconds(1);
        engine = std::make_unique<StackEngine>(options);
        profile = engine->create("Shop", "php@8.4", "mariadb@11.4", false, "nginx", false,
                                 std::nullopt, "shop_db", std::nullopt, false, false);
        // Tests run in parallel: the default port range would be shared.
        const auto ports = freePorts(3);
        profile.httpPort = ports[0];
        profile.phpPort = ports[1];
        profile.databasePort = ports[2];
        engine->update(profile);
    }
    void TearDown() override {
        if (engine) {
            engine->stopAll();
            fs::remove_all(engine->socketDirectory());
        }
        UserDefaults::setStandard(nullptr);
    }

    fs::path keg(const std::string& name) const {
        const fs::path path = folder.path() / "kegs" / name;
        fs::create_directories(path / "bin");
        fs::create_directories(path / "sbin");
        return path;
    }
    static void script(const fs::path& file, const std::string& body) {
        PrivateFile::writeWithMode(file, "#!/bin/sh\n" + body + "\n", 0700);
    }

    StackPaths paths() const { return StackPaths(engine->root(), profile); }
    std::string description() { return engine->statuses().at(profile.id).description; }
    std::vector<std::string> brewFormulaeAsked() const {
        std::vector<std::string> asked;
        for (const auto& call : brew.calls())
            if (call["args"].size() == 3 && call["args"][0] == "--prefix")
                asked.push_back(call["args"][2]);
        return asked;
    }

    TemporaryFolder folder{"vessora-start"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
    StackProfile profile;
    fs::path php, db, web;
};

TEST_F(StackEngineStartTests, RunsEveryStepInOrderThenTakesTheEnvironmentDown) {
    engine->configureLocalHosts(true);
    const std::size_t requests = helper->requests().size();
    const std::string health = "HTTP/PHP/SQL health check failed. See " + profile.id + "/logs.";

    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    EXPECT_EQ(description(), health);
    EXPECT_EQ(helper->requests().size(), requests + 1) << "the failure re-sends the request";

    // Configuration tests, the one-time initialisation, then each server.
    EXPECT_EQ(readOr(php / "fpm-test"), (paths().config() / "ini.d").string());
    const std::string install = readOr(db / "install");
    EXPECT_THAT(install, HasSubstr("--no-defaults --basedir=" + db.string()));
    EXPECT_THAT(install, HasSubstr("--datadir=" + paths().data().string()));
    EXPECT_THAT(install, HasSubstr("--auth-root-socket-user=" + StackEngineTesting::loginName()));
    EXPECT_EQ(readOr(paths().data() / ".vessora-initialized"), "mariadb@11.4");
    for (const char* log : {"mariadb-process.log", "php-process.log", "nginx-process.log"})
        EXPECT_TRUE(fs::exists(paths().logs() / log)) << log;
    const std::string statements = readOr(db / "sql.log");
    EXPECT_THAT(statements, HasSubstr("SELECT 1"));
    EXPECT_THAT(statements, HasSubstr(StackEngineTesting::setupStatement(
                                profile, readOr(paths().config() / "database-password"))));
    EXPECT_THAT(statements, HasSubstr("DROP USER IF EXISTS 'vessora_admin'@'127.0.0.1';"));
    EXPECT_THAT(brewFormulaeAsked(), Not(::testing::Contains("phpmyadmin")));

    // A second start keeps the data directory and makes a new token.
    const std::string firstProbe = readOr(paths().config() / "probe.php");
    fs::remove(db / "install");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    EXPECT_FALSE(fs::exists(db / "install"));
    EXPECT_NE(readOr(paths().config() / "probe.php"), firstProbe);
}

TEST_F(StackEngineStartTests, DataDirectoryWithFilesButNoMarkerIsLeftAlone) {
    PrivateFile::createDirectories(paths().data());
    PrivateFile::write(paths().data() / "ibdata1", "someone's data");
    const std::string error = thrownMessage([&] { engine->start(profile.id); });
    EXPECT_EQ(error, "Incomplete data directory: " + paths().data().string() +
                         ". Inspect and move it manually before trying again.");
    EXPECT_EQ(readOr(paths().data() / "ibdata1"), "someone's data");
    EXPECT_FALSE(fs::exists(db / "install"));
    EXPECT_FALSE(fs::exists(paths().logs() / "mariadb-process.log"));
    EXPECT_EQ(description(), error);
}

TEST_F(StackEngineStartTests, VersionChecksStopTheRunBeforeAnyFileIsWritten) {
    script(php / "bin/php", "printf 8.3.7");
    const std::string series = thrownMessage([&] { engine->start(profile.id); });
    EXPECT_THAT(series, HasSubstr("8.3.7"));
    EXPECT_FALSE(fs::exists(paths().config() / "php.ini"));
    EXPECT_EQ(description(), series);

    script(php / "bin/php", "echo broken; exit 4");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), "php failed (4):\nbroken\n");

    script(php / "bin/php", "printf 8.4.2");
    script(db / "bin/mariadbd", "echo mariadbd from the future");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "Could not verify the installed MariaDB version.");
    EXPECT_FALSE(fs::exists(paths().config() / "php.ini"));
}

TEST_F(StackEngineStartTests, ServerThatExitsEndsTheWaitAtOnce) {
    script(db / "bin/mariadbd", "if [ \"$2\" = --version ]; then echo 11.4.2; exit 0; fi\n"
                                "sleep 0.2; exit 3");
    script(db / "bin/mariadb", "exit 1");
    const std::string error = thrownMessage([&] { engine->start(profile.id); });
    EXPECT_EQ(error, "MariaDB exited (3). See " + profile.id + "/logs.");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
}

TEST_F(StackEngineStartTests, RefusalsBeforeTheChecksTouchNothing) {
    StackEngineTesting::setFailure(*engine, profile.id, "old failure");
    EXPECT_EQ(thrownMessage([&] { engine->start("nope"); }), "Unknown environment.");

    // An unfinished or unreadable import report; the import's own start
    // ignores it.
    PrivateFile::write(paths().migrationReport(), "{not json");
    const std::string incomplete = "This migration is incomplete. Review its report, then remove "
                                   "the new environment and retry.";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), incomplete);
    MigrationReport report;
    report.environmentID = profile.id;
    report.save(paths().migrationReport());
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), incomplete);
    EXPECT_EQ(description(), "old failure");
    EXPECT_NE(thrownMessage([&] {
                  StackEngineTesting::startUnlocked(*engine, profile.id, std::nullopt, true);
              }),
              incomplete);
    fs::remove(paths().migrationReport());

    // A process entry counts as running, even while its processes are gone.
    StackEngineTesting::addProcess(*engine, profile.id,
                                   std::make_shared<ManagedProcess>("MariaDB", "/bin/true",
                                                                    std::vector<std::string>{},
                                                                    folder.path() / "process.log"));
    StackEngineTesting::setFailure(*engine, profile.id, "old failure");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "This environment is already running. Stop it first.");
    EXPECT_TRUE(StackEngineTesting::hasFailure(*engine, profile.id));
    engine->stop(profile.id);

    // Without local addresses an environment without port numbers is
    // refused, after its old failure text went.
    StackProfile standard = profile;
    standard.hostname = "shop.test";
    standard.virtualHost = true;
    standard.standardPorts = true;
    engine->update(standard);
    const std::size_t asked = brewFormulaeAsked().size();
    StackEngineTesting::setFailure(*engine, profile.id, "old failure");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "Enable local host setup before starting an environment without port numbers.");
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, profile.id));
    EXPECT_EQ(brewFormulaeAsked().size(), asked);

    StackEngineTesting::setBusy(*engine, true);
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), busyText);
    EXPECT_TRUE(StackEngineTesting::busy(*engine));
    StackEngineTesting::setBusy(*engine, false);
}

TEST(StackEngineSetupStatementTests, QuotesTheNameThePasswordAndTheGrantPattern) {
    StackProfile profile;
    profile.id = "studio";
    profile.databaseName = "shop_db`x";
    EXPECT_EQ(StackEngineTesting::setupStatement(profile, "it's"),
              "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';\n"
              "CREATE DATABASE IF NOT EXISTS `shop_db``x` CHARACTER SET utf8mb4;\n"
              "CREATE USER IF NOT EXISTS 'vessora'@'127.0.0.1' IDENTIFIED BY 'it''s';\n"
              "ALTER USER 'vessora'@'127.0.0.1' IDENTIFIED BY 'it''s';\n"
              "GRANT ALL PRIVILEGES ON `shop\\_db``x`.* TO 'vessora'@'127.0.0.1';\n"
              "CREATE DATABASE IF NOT EXISTS vessora_internal;\n"
              "CREATE TABLE IF NOT EXISTS vessora_internal.setup_identity (name VARCHAR(80) "
              "PRIMARY KEY);\n"
              "INSERT IGNORE INTO vessora_internal.setup_identity VALUES ('studio');\n"
              "GRANT SELECT ON vessora_internal.setup_identity TO 'vessora'@'127.0.0.1';");
    EXPECT_EQ(StackEngineTesting::phpMyAdminStatement("ABC"),
              "CREATE USER IF NOT EXISTS 'vessora_admin'@'127.0.0.1' IDENTIFIED BY 'ABC';\n"
              "ALTER USER 'vessora_admin'@'127.0.0.1' IDENTIFIED BY 'ABC';\n"
              "GRANT ALL PRIVILEGES ON *.* TO 'vessora_admin'@'127.0.0.1' WITH GRANT OPTION;");
}

} // namespace
} // namespace vessora
