// Whole starts on real servers: Debian's MariaDB, PHP-FPM, nginx and Apache
// behind the Homebrew stand-in's prefixes, the real router and a fake helper.
// Covers the first and the second start, a dump import, failures that leave
// nothing running, supervision of killed servers, stop, stop-all and delete.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Process/ServerRecord.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealEngineTest.hpp"
#include "tests/Support/ServerChecks.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A listening socket that keeps a port taken for one test.
class Listener {
public:
    explicit Listener(std::int64_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const int reuse = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 1) == 0;
    }
    ~Listener() { ::close(fd_); }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

class StackEngineStartIntegrationTests : public RealEngineTest {
protected:
    StackProfile create(const std::string& name, const std::string& webserver, bool https,
                        bool phpMyAdmin, std::optional<std::string> documentRoot = std::nullopt,
                        const std::string& php = "php@8.2",
                        std::optional<std::string> hostname = std::nullopt) {
        const bool routed = hostname.has_value();
        StackProfile profile =
            engine->create(name, php, "mariadb@10.11", phpMyAdmin, webserver, https, documentRoot,
                           "shop_db", hostname, routed, false);
        // Tests run in parallel: the default port range would be shared.
        const auto ports = freePorts(4);
        profile.httpPort = ports[0];
        profile.phpPort = ports[1];
        profile.databasePort = ports[2];
        if (https)
            profile.httpsPort = ports[3];
        engine->update(profile);
        return profile;
    }

    StackPaths paths(const StackProfile& profile) const {
        return StackPaths(engine->root(), profile);
    }

    std::string sql(const StackProfile& profile, const std::string& statement) {
        return StackEngineTesting::sql(*engine, profile, standIn->root() / "opt" / "mariadb@10.11",
                                       statement, false);
    }

    StackStatus status(const std::string& id) { return engine->statuses().at(id); }

    // Starts and reports the logs when it fails.
    bool start(const StackProfile& profile) {
        const std::string error = thrownMessage([&] { engine->start(profile.id); });
        if (!error.empty()) {
            std::string logs;
            for (const auto& item : fs::directory_iterator(paths(profile).logs()))
                logs += "--- " + item.path().filename().string() + "\n" +
                        PrivateFile::read(item.path());
            ADD_FAILURE() << error << "\n" << logs;
            return false;
        }
        return true;
    }

    // Health page, HTTPS and phpMyAdmin, as the user would reach them.
    void expectServing(const StackProfile& profile) {
        const StackStatus running = status(profile.id);
        EXPECT_TRUE(running.running);
        EXPECT_EQ(running.description, "Running");
        ASSERT_EQ(running.processes.size(), 3u);
        EXPECT_EQ(running.processes.count("MariaDB"), 1u);
        EXPECT_EQ(running.processes.count("PHP"), 1u);
        EXPECT_EQ(running.processes.count(profile.webserver == "httpd" ? "Apache" : "nginx"), 1u);

        const LoopbackHTTP::Answer health = fetch(profile.backendURL() + "/__vessora_health.php");
        ASSERT_EQ(health.status, 200) << health.body;
        const auto json = nlohmann::json::parse(health.body, nullptr, false);
        ASSERT_TRUE(json.is_object()) << health.body;
        EXPECT_EQ(json.value("identity", ""), profile.id);
        EXPECT_THAT(json.value("php", ""), StartsWith("8.2."));
        EXPECT_THAT(json.value("mariadb", ""), StartsWith("10.11."));
        const std::string probe = PrivateFile::read(paths(profile).config() / "probe.php");
        const std::string token = json.value("token", "");
        EXPECT_EQ(token.size(), 36u);
        EXPECT_THAT(probe, HasSubstr(token));

        if (const auto https = profile.backendHTTPSURL()) {
            const auto secure = nlohmann::json::parse(
                LocalHTTPS::get(*https + "/__vessora_health.php", paths(profile)));
            EXPECT_EQ(secure.value("token", ""), token);
            if (profile.phpMyAdminEnabled) {
                EXPECT_THAT(LocalHTTPS::get(*https + "/phpmyadmin/", paths(profile)),
                            HasSubstr("pmahomme"));
            }
        }
    }

    // Ended by process group and by port.
    void expectGone(const StackProfile& profile, const StackStatus& wasRunning) {
        for (const auto& [service, pid] : wasRunning.processes)
            EXPECT_FALSE(processGroupAlive(pid)) << service;
        for (const std::int64_t port : profile.listeningPorts())
            EXPECT_TRUE(PortCheck::isAvailable(port)) << port;
        EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    }
};

TEST_F(StackEngineStartIntegrationTests, NginxWithCustomFolderStartsTwiceKeepsDataAndStops) {
    const fs::path site = work.path() / "site";
    fs::create_directory(site);
    fs::permissions(site, fs::perms(0755));
    StackProfile profile =
        create("Shop", "nginx", true, true, site.string(), "php@8.2", "shop.test");
    const fs::path password = paths(profile).config() / "database-password";
    engine->configureLocalHosts(true);
    // The application's own page, connecting with the application password.
    PrivateFile::writeKeepingMode(
        site / "db.php",
        "<?php $db = new mysqli('127.0.0.1', 'vessora', file_get_contents('" + password.string() +
            "'), 'shop_db', " + std::to_string(profile.databasePort) +
            ");\n"
            "$db->query('CREATE TABLE IF NOT EXISTS notes (text VARCHAR(20))');\n"
            "if (isset($_GET['add'])) $db->query(\"INSERT INTO notes VALUES ('kept')\");\n"
            "echo $db->query('SELECT COUNT(*) FROM notes')->fetch_row()[0];\n");

    ASSERT_TRUE(start(profile));
    expectServing(profile);
    const fs::path marker = paths(profile).data() / ".vessora-initialized";
    EXPECT_EQ(PrivateFile::read(marker), "mariadb@10.11");
    EXPECT_EQ(fetch(profile.backendURL() + "/db.php?add=1").body, "1");
    VirtualHostRouter& router = StackEngineTesting::router(*engine);
    EXPECT_TRUE(router.isRunning());
    ASSERT_EQ(router.active().size(), 1u);
    EXPECT_EQ(helper->requests().back(), HostServiceRequest({"shop.test"}, false));

    const StackStatus first = status(profile.id);
    const std::size_t requests = helper->requests().size();
    engine->stop(profile.id);
    expectGone(profile, first);
    EXPECT_FALSE(router.isRunning());
    EXPECT_EQ(helper->requests().size(), requests + 1);
    EXPECT_EQ(status(profile.id).description, "Stopped");

    // The second start reuses the data directory: no second initialisation.
    const auto initLog = fs::file_size(paths(profile).logs() / "database-init.log");
    ASSERT_TRUE(start(profile));
    expectServing(profile);
    EXPECT_EQ(fs::file_size(paths(profile).logs() / "database-init.log"), initLog);
    EXPECT_EQ(fetch(profile.backendURL() + "/db.php").body, "1");
    EXPECT_EQ(PrivateFile::read(site / "db.php").empty(), false);

    const StackStatus second = status(profile.id);
    engine->stopAll();
    expectGone(profile, second);
}

TEST_F(StackEngineStartIntegrationTests, ApacheImportsADumpWithAStatementOver16MiB) {
    // A source database to dump, on an nginx environment without extras.
    const StackProfile source = create("Source", "nginx", false, false);
    ASSERT_TRUE(start(source));
    sql(source, "CREATE TABLE shop_db.big (id INT PRIMARY KEY, b LONGTEXT);"
                "INSERT INTO shop_db.big VALUES (1, REPEAT('x', 17 * 1024 * 1024));");
    const fs::path dump = work.path() / "dump.sql";
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    const CommandResult dumped =
        Command::run("/usr/bin/mariadb-dump",
                     {"--no-defaults", "--protocol=socket",
                      "--socket=" + (engine->socketDirectory() / (source.id + ".sock")).string(),
                      "--user=" + std::string(user->pw_name), "--max-allowed-packet=64M",
                      "--result-file=" + dump.string(), "shop_db"},
                     {.timeout = 120});
    ASSERT_EQ(dumped.status, 0) << dumped.output;
    ASSERT_GT(fs::file_size(dump), 17u * 1024 * 1024);
    engine->stop(source.id);

    const StackProfile target = create("Target", "httpd", true, true);
    // A stored password that needs quoting in SQL and in the option file.
    PrivateFile::write(paths(target).config() / "database-password", R"(pa"ss\wo'rd)");

    // A dump whose third statement fails names the client's error and line.
    const fs::path broken = work.path() / "broken.sql";
    PrivateFile::write(broken, "CREATE TABLE t (a INT);\nINSERT INTO t VALUES (1);\nSELEC 2;\n");
    const std::string failed = thrownMessage(
        [&] { StackEngineTesting::startUnlocked(*engine, target.id, broken, /*migrating=*/true); });
    EXPECT_THAT(failed, StartsWith("SQL import failed (ERROR 1064 (42000) at line 3: You have an "
                                   "error in your SQL syntax"));
    EXPECT_THAT(failed, HasSubstr("). The new environment has been stopped."));
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, target.id));
    EXPECT_FALSE(fs::exists(paths(target).config() / ".migration-client.cnf"));

    const std::string error = thrownMessage(
        [&] { StackEngineTesting::startUnlocked(*engine, target.id, dump, /*migrating=*/true); });
    ASSERT_EQ(error, "") << PrivateFile::read(paths(target).logs() / "apache-process.log");
    expectServing(target);
    EXPECT_EQ(sql(target, "SELECT id, LENGTH(b) FROM shop_db.big;"), "1\t17825792\n");
    EXPECT_FALSE(fs::exists(paths(target).config() / ".migration-client.cnf"));
}

TEST_F(StackEngineStartIntegrationTests, FailuresLeaveNothingRunningAndKeepTheirText) {
    const fs::path site = work.path() / "site";
    fs::create_directory(site);
    const StackProfile profile = create("Shop", "nginx", false, false, site.string());

    {
        Listener taken(profile.phpPort);
        ASSERT_TRUE(taken.bound());
        const std::string error = thrownMessage([&] { engine->start(profile.id); });
        EXPECT_EQ(error, "Port " + std::to_string(profile.phpPort) +
                             " is already in use. Choose a different port.");
        EXPECT_EQ(status(profile.id).description, error);
        EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    }

    fs::remove(site);
    const std::string broken = thrownMessage([&] { engine->start(profile.id); });
    EXPECT_NE(broken, "");
    EXPECT_EQ(status(profile.id).description, broken);
    EXPECT_FALSE(fs::exists(paths(profile).config() / "php.ini"));

    // No such formula at all, then one whose keg holds another series.
    const StackProfile newer = create("Newer", "nginx", false, false, std::nullopt, "php@8.4");
    const std::string missing = thrownMessage([&] { engine->start(newer.id); });
    EXPECT_THAT(missing, HasSubstr("brew failed"));
    EXPECT_EQ(status(newer.id).description, missing);

    nlohmann::json changed = state;
    changed["formulae"]["php@8.4"] = changed["formulae"]["php@8.2"];
    changed["formulae"]["php@8.4"]["prefix"] = (standIn->root() / "opt" / "php@8.2").string();
    standIn->setState(changed);
    const std::string series = thrownMessage([&] { engine->start(newer.id); });
    EXPECT_THAT(series, HasSubstr("8.2"));
    EXPECT_EQ(status(newer.id).description, series);
    EXPECT_FALSE(fs::exists(paths(newer).config() / "php.ini"));
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, newer.id));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // A helper that refuses at the very end takes the running servers down.
    const StackProfile plain = create("Plain", "nginx", false, false);
    engine->configureLocalHosts(true);
    helper->fail("Ports 80 or 443 are unavailable.");
    EXPECT_EQ(thrownMessage([&] { engine->start(plain.id); }), "Ports 80 or 443 are unavailable.");
    EXPECT_EQ(status(plain.id).description, "Ports 80 or 443 are unavailable.");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, plain.id));
    for (const std::int64_t port : plain.listeningPorts())
        EXPECT_TRUE(PortCheck::isAvailable(port)) << port;
    helper->fail(std::nullopt);
}

TEST_F(StackEngineStartIntegrationTests, AFailedConfigurationTestOnAWarmStartStopsTheRealDatabase) {
    const StackProfile profile = create("Warm", "nginx", false, false);
    // Debian's nginx behind a keg of its own. Once asked to, its test fails,
    // but only after the record of a server launched beside it is there; it
    // keeps a copy of what it saw.
    const fs::path keg = work.path() / "nginx-keg";
    const fs::path broken = work.path() / "broken";
    const fs::path seen = work.path() / "seen";
    const std::string records = paths(profile).serverRecords().string();
    fs::create_directories(keg / "bin");
    fs::create_directories(seen);
    PrivateFile::writeWithMode(
        keg / "bin/nginx",
        "#!/bin/sh\nif [ \"$1\" = -t ] && [ -e '" + broken.string() +
            "' ]; then\n  i=0\n  while set -- '" + records + "'/*.json; [ ! -e \"$1\" ] && " +
            "[ $i -lt 3000 ]; do sleep 0.01; i=$((i + 1)); done\n  cp '" + records + "'/*.json '" +
            seen.string() + "' 2>/dev/null\n  echo 'nginx: [emerg] broken'; exit 1\nfi\nexec '" +
            (standIn->root() / "opt/nginx/bin/nginx").string() + "' \"$@\"\n",
        0755);
    nlohmann::json changed = state;
    changed["formulae"]["nginx"]["prefix"] = keg.string();
    standIn->setState(changed);
    ASSERT_TRUE(start(profile));
    engine->stop(profile.id);
    ASSERT_TRUE(fs::is_empty(records));

    PrivateFile::write(broken, "");
    const std::string nginx = "nginx failed (1):\nnginx: [emerg] broken\n";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), nginx);
    EXPECT_EQ(status(profile.id).description, nginx);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    // MariaDB was launched for this start while the tests ran, and is gone
    // with its group, its record and its port.
    std::vector<ServerRecord> launched;
    for (const auto& item : fs::directory_iterator(seen))
        launched.push_back(ServerRecord::fromJSON(JsonFields::parse(PrivateFile::read(item))));
    ASSERT_EQ(launched.size(), 1u) << "MariaDB ran beside the tests";
    EXPECT_EQ(launched[0].service, "MariaDB");
    EXPECT_FALSE(launched[0].isAlive());
    EXPECT_FALSE(processGroupAlive(launched[0].pid));
    EXPECT_TRUE(fs::is_empty(records));
    for (const std::int64_t port : profile.listeningPorts())
        EXPECT_TRUE(PortCheck::isAvailable(port)) << port;

    // Mended, it starts again on the same data.
    fs::remove(broken);
    ASSERT_TRUE(start(profile));
    expectServing(profile);
}

TEST_F(StackEngineStartIntegrationTests, PhpMyAdminOverHTTPSKeepsACookieNamePerEnvironment) {
    // Both on 127.0.0.1, where browsers share cookies across ports.
    const StackProfile first = create("First", "nginx", true, true);
    const StackProfile second = create("Second", "httpd", true, true);
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(start(second));
    const auto cookieNames = [&](const StackProfile& profile) {
        const CommandResult answer =
            Command::run("/usr/bin/curl",
                         {"--silent", "--show-error", "--noproxy", "*", "--cacert",
                          paths(profile).tlsCertificate().string(), "--dump-header", "-",
                          "--output", "/dev/null", *profile.backendHTTPSURL() + "/phpmyadmin/"},
                         {.timeout = 30});
        EXPECT_EQ(answer.status, 0) << answer.output;
        std::set<std::string> names;
        std::istringstream lines(answer.output);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("Set-Cookie: ", 0) == 0)
                names.insert(line.substr(12, line.find('=') - 12));
        return names;
    };
    const std::set<std::string> firstNames = cookieNames(first);
    const std::set<std::string> secondNames = cookieNames(second);
    const std::string firstSession = paths(first).phpMyAdminSessionCookieName() + "_https";
    const std::string secondSession = paths(second).phpMyAdminSessionCookieName() + "_https";
    EXPECT_NE(firstSession, secondSession);
    EXPECT_EQ(firstNames.count(firstSession), 1u) << ::testing::PrintToString(firstNames);
    EXPECT_EQ(secondNames.count(secondSession), 1u) << ::testing::PrintToString(secondNames);
    for (const auto& names : {firstNames, secondNames}) {
        EXPECT_EQ(names.count("phpMyAdmin_https"), 0u);
        EXPECT_EQ(names.count("__Secure-phpMyAdmin_https"), 0u);
        EXPECT_EQ(names.count("phpMyAdmin"), 0u);
    }
}

TEST_F(StackEngineStartIntegrationTests, KilledServersAreNoticedByTheNextPoll) {
    const StackProfile profile = create("Shop", "httpd", false, false);
    for (const std::string service : {"MariaDB", "PHP", "Apache"}) {
        ASSERT_TRUE(start(profile)) << service;
        const StackStatus running = status(profile.id);
        ASSERT_TRUE(running.running) << service;
        ASSERT_EQ(::kill(running.processes.at(service), SIGKILL), 0);
        // The kill lands at once, but the process may need a moment to die.
        StackStatus after;
        for (int attempt = 0; attempt < 100; ++attempt) {
            after = status(profile.id);
            if (!after.running)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_FALSE(after.running);
        EXPECT_EQ(after.description, "Process exited: " + service + " (9)");
        EXPECT_TRUE(after.processes.empty());
        expectGone(profile, running);
        EXPECT_EQ(status(profile.id).description, after.description);
    }
}

TEST_F(StackEngineStartIntegrationTests, DeletingARunningEnvironmentStopsItFirst) {
    const StackProfile profile = create("Shop", "nginx", false, false);
    ASSERT_TRUE(start(profile));
    const StackStatus running = status(profile.id);
    engine->remove(profile.id);
    expectGone(profile, running);
    EXPECT_TRUE(fs::exists(trash() / profile.id));
    EXPECT_FALSE(fs::exists(paths(profile).directory()));
    const fs::path journal = engine->root() / ".pending-deletions";
    EXPECT_TRUE(!fs::exists(journal) || fs::is_empty(journal));
    EXPECT_EQ(engine->statuses().count(profile.id), 0u);
}

TEST_F(StackEngineStartIntegrationTests, ADeleteOnAFullDiskKeepsTheEnvironmentWithItsData) {
    const StackProfile profile = create("Shop", "nginx", false, false);
    ASSERT_TRUE(start(profile));
    sql(profile, "CREATE TABLE shop_db.notes (text VARCHAR(20));"
                 "INSERT INTO shop_db.notes VALUES ('kept');");
    const StackStatus running = status(profile.id);
    const std::string records = PrivateFile::read(engine->root() / "profiles.json");

    // A full disk: every write fails, and the file it would replace stays.
    EnvironmentFiles& files = StackEngineTesting::environmentFiles(*engine);
    files.writeRecordsWith([](const fs::path& file, std::string_view) {
        throw fs::filesystem_error("Could not write file", file,
                                   std::error_code(ENOSPC, std::generic_category()));
    });
    const std::string error = thrownMessage([&] { engine->remove(profile.id); });
    files.writeRecordsWith(nullptr);
    EXPECT_THAT(error, StartsWith("The environment was not deleted: "));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
    expectGone(profile, running);
    EXPECT_EQ(PrivateFile::read(engine->root() / "profiles.json"), records);
    EXPECT_EQ(engine->allProfiles().back(), profile);
    EXPECT_TRUE(fs::is_empty(engine->root() / ".pending-deletions"));
    EXPECT_FALSE(fs::exists(trash() / profile.id));

    // It starts on its own data, not on a new, empty folder.
    const auto initLog = fs::file_size(paths(profile).logs() / "database-init.log");
    ASSERT_TRUE(start(profile));
    expectServing(profile);
    EXPECT_EQ(fs::file_size(paths(profile).logs() / "database-init.log"), initLog);
    EXPECT_EQ(sql(profile, "SELECT text FROM shop_db.notes;"), "kept\n");
}

} // namespace
} // namespace vessora
