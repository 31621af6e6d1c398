// The start run against stand-in programs: shell scripts in fake kegs that
// answer version questions, record what they are given and otherwise sleep
// like servers. No server answers HTTP, so every full run ends in the
// health check's failure and shows the way back down as well.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <future>
#include <sstream>

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

TEST_F(StackEngineStartTests, StepsRunInTheirOrder) {
    // Every stand-in notes what it was asked to do in one shared file. A
    // launched server writes its line only once it runs, so the web server
    // also notes whether PHP-FPM's log existed then, and the SQL client
    // whether MariaDB's did: the engine creates each right before it
    // launches that server.
    const std::string note = " >> " + (folder.path() / "steps").string();
    const std::string fpmLog = (paths().logs() / "php-process.log").string();
    const std::string mariaDBLog = (paths().logs() / "mariadb-process.log").string();
    script(php / "sbin/php-fpm", "if [ \"$1\" = -t ]; then echo fpm-test" + note +
                                     "; exit 0; fi\necho fpm" + note + "\nexec sleep 60");
    script(web / "bin/nginx", "if [ \"$1\" = -t ]; then echo nginx-test" + note +
                                  "; exit 0; fi\nif [ -e " + fpmLog + " ]; then echo nginx" + note +
                                  "; else echo nginx-before-php-fpm" + note +
                                  "; fi\nexec sleep 60");
    script(db / "bin/mariadbd", "if [ \"$2\" = --version ]; then echo 11.4.2; exit 0; fi\necho "
                                "mariadbd" +
                                    note + "\nexec sleep 60");
    script(db / "bin/mariadb-install-db", "echo install" + note);
    script(db / "bin/mariadb", "input=$(cat)\n[ -e " + mariaDBLog +
                                   " ] || echo sql-before-mariadbd" + note +
                                   "\ncase \"$input\" in\n"
                                   "*'CREATE DATABASE'*vessora_admin*) echo sql-setup" +
                                   note + "; echo sql-phpmyadmin" + note +
                                   ";;\n"
                                   "*'CREATE DATABASE'*|*vessora_admin*) echo sql-split" +
                                   note +
                                   ";;\n"
                                   "*) echo sql-query" +
                                   note + ";;\nesac\necho 1");

    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "HTTP/PHP/SQL health check failed. See " + profile.id + "/logs.");
    std::vector<std::string> steps;
    std::istringstream lines(readOr(folder.path() / "steps"));
    for (std::string line; std::getline(lines, line);)
        steps.push_back(line);
    const auto at = [&](const std::string& step) {
        const auto found = std::find(steps.begin(), steps.end(), step);
        EXPECT_NE(found, steps.end()) << step;
        return found - steps.begin();
    };
    EXPECT_LT(at("fpm-test"), at("install"));
    EXPECT_LT(at("nginx-test"), at("install"));
    EXPECT_LT(at("install"), at("mariadbd"));
    EXPECT_LT(at("install"), at("sql-query"));
    EXPECT_LT(at("sql-query"), at("sql-setup"));
    EXPECT_LT(at("sql-setup"), at("sql-phpmyadmin"));
    EXPECT_LT(at("sql-phpmyadmin"), at("fpm"));
    EXPECT_LT(at("sql-phpmyadmin"), at("nginx")) << "the web server comes last";
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "mariadbd"), 1);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "sql-split"), 0)
        << "both set-up texts go to one client run, the accounts' first";
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "sql-before-mariadbd"), 0)
        << "MariaDB is launched before the client asks it anything";
    EXPECT_EQ(steps.size(), 9u) << ::testing::PrintToString(steps);
}

TEST_F(StackEngineStartTests, FailedHTTPSHealthCheckTakesTheEnvironmentDown) {
    profile.httpsEnabled = true;
    profile.httpsPort = freePorts(1)[0];
    engine->update(profile);
    // A web server whose plain health page is right while its HTTPS one
    // answers a token of some other start.
    const fs::path server = folder.path() / "server.py";
    PrivateFile::write(server,
                       "import http.server, json, re, ssl, threading\n"
                       "probe = open(" +
                           nlohmann::json((paths().config() / "probe.php").string()).dump() +
                           ").read()\n"
                           "token = re.search(r\"'token' => '([^']*)'\", probe).group(1)\n"
                           "def handler(answer):\n"
                           "    class Handler(http.server.BaseHTTPRequestHandler):\n"
                           "        def do_GET(self):\n"
                           "            body = json.dumps({'token': answer, 'identity': " +
                           nlohmann::json(profile.id).dump() +
                           ", 'php': '8.4.2', 'mariadb': '11.4.2-MariaDB'}).encode()\n"
                           "            self.send_response(200)\n"
                           "            self.send_header('Content-Length', str(len(body)))\n"
                           "            self.end_headers()\n"
                           "            self.wfile.write(body)\n"
                           "        def log_message(self, *args):\n"
                           "            pass\n"
                           "    return Handler\n"
                           "plain = http.server.HTTPServer(('127.0.0.1', " +
                           std::to_string(profile.httpPort) +
                           "), handler(token))\n"
                           "secure = http.server.HTTPServer(('127.0.0.1', " +
                           std::to_string(*profile.httpsPort) +
                           "), handler('stale'))\n"
                           "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
                           "context.load_cert_chain(" +
                           nlohmann::json(paths().tlsCertificate().string()).dump() + ", " +
                           nlohmann::json(paths().tlsPrivateKey().string()).dump() +
                           ")\n"
                           "secure.socket = context.wrap_socket(secure.socket, server_side=True)\n"
                           "threading.Thread(target=secure.serve_forever, daemon=True).start()\n"
                           "plain.serve_forever()\n");
    script(web / "bin/nginx",
           "[ \"$1\" = -t ] && exit 0\nexec /usr/bin/python3 " + server.string());
    auto options = StackEngineTesting::quickOptions(folder.path() / "data", brew.brew(), helper);
    // The plain health page needs a moment to come up; the pace is the Part's.
    engine.reset();
    engine = std::make_unique<StackEngine>(options);

    const std::string failed = "The local HTTPS health check failed. See the environment logs.";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), failed);
    EXPECT_EQ(description(), failed);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    for (const std::int64_t port : profile.listeningPorts())
        EXPECT_TRUE(PortCheck::isAvailable(port)) << port;
}

TEST_F(StackEngineStartTests, ApacheIsRefusedUnderADataPathWithAQuestionMark) {
    const fs::path httpd = keg("httpd");
    script(httpd / "bin/httpd",
           "echo httpd \"$@\" >> " + (folder.path() / "httpd").string() + "\nexec sleep 60");
    nlohmann::json state = brew.state();
    state["formulae"]["httpd"] = BrewStandIn::formula("1.0", {"1.0"});
    state["formulae"]["httpd"]["prefix"] = httpd.string();
    brew.setState(state);
    auto options = StackEngineTesting::quickOptions(folder.path() / "data?q", brew.brew(), helper);
    options.readinessPause = std::chrono::milliseconds(1);
    StackEngine questioned(options);
    StackProfile apache =
        questioned.create("Shop", "php@8.4", "mariadb@11.4", false, "httpd", false, std::nullopt,
                          "shop_db", std::nullopt, false, false);
    const auto ports = freePorts(3);
    apache.httpPort = ports[0];
    apache.phpPort = ports[1];
    apache.databasePort = ports[2];
    questioned.update(apache);

    const std::string refused = "Apache cannot serve PHP from a data path that contains a "
                                "question mark. Choose nginx for this environment.";
    EXPECT_EQ(thrownMessage([&] { questioned.start(apache.id); }), refused);
    EXPECT_EQ(questioned.statuses().at(apache.id).description, refused);
    EXPECT_FALSE(StackEngineTesting::hasEntry(questioned, apache.id));
    EXPECT_FALSE(fs::exists(folder.path() / "httpd")) << "nothing was started or tested";
    EXPECT_FALSE(fs::exists(StackPaths(questioned.root(), apache).apacheConfig()));
    EXPECT_FALSE(fs::exists(StackPaths(questioned.root(), apache).data()));

    // nginx serves such a path: its start goes past that check.
    apache.webserver = "nginx";
    questioned.update(apache);
    EXPECT_NE(thrownMessage([&] { questioned.start(apache.id); }), refused);
    EXPECT_TRUE(fs::exists(StackPaths(questioned.root(), apache).nginxConfig()));
    fs::remove_all(questioned.socketDirectory());
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

TEST_F(StackEngineStartTests, ChecksRunAgainOnlyForProgramsThatChanged) {
    const std::string health = "HTTP/PHP/SQL health check failed. See " + profile.id + "/logs.";
    const fs::path asked = folder.path() / "asked";
    script(php / "bin/php", "echo php >> " + asked.string() + "\nprintf 8.4.2");
    script(db / "bin/mariadbd",
           "if [ \"$2\" = --version ]; then echo mariadbd >> " + asked.string() + "; echo \"" +
               db.string() + "/bin/mariadbd  Ver 11.4.2-MariaDB\"; exit 0; fi\nexec sleep 60");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    EXPECT_EQ(readOr(asked).size(), std::string("php\nmariadbd\n").size()) << readOr(asked);

    // A program replaced between two starts is checked again, and its new
    // answer is the one judged.
    script(php / "bin/php", "echo php >> " + asked.string() + "\nprintf 8.3.7");
    EXPECT_THAT(thrownMessage([&] { engine->start(profile.id); }), HasSubstr("8.3.7"));
    EXPECT_EQ(readOr(asked).size(), std::string("php\nmariadbd\nphp\n").size()) << readOr(asked);

    // A failed start asks Homebrew again: a formula that now lives
    // elsewhere is found there.
    const fs::path moved = keg("php@8.4-moved");
    script(moved / "bin/php", "echo moved >> " + asked.string() + "\nprintf 8.4.9");
    script(moved / "sbin/php-fpm", "[ \"$1\" = -t ] && exit 0\nexec sleep 60");
    nlohmann::json state = brew.state();
    state["formulae"]["php@8.4"]["prefix"] = moved.string();
    brew.setState(state);
    const std::size_t prefixQueries = brewFormulaeAsked().size();
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    EXPECT_GE(brewFormulaeAsked().size(), prefixQueries + 3);
    EXPECT_THAT(readOr(asked), ::testing::EndsWith("moved\n"));
}

TEST_F(StackEngineStartTests, AFailedConfigurationTestStopsTheDatabaseAWarmStartLaunched) {
    const std::string health = "HTTP/PHP/SQL health check failed. See " + profile.id + "/logs.";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), health);
    ASSERT_TRUE(fs::exists(paths().data() / ".vessora-initialized"));

    // A server that never answers: a verdict judged only after the wait
    // would end in "MariaDB did not start" instead.
    const fs::path pid = folder.path() / "mariadbd.pid";
    script(db / "bin/mariadbd", "if [ \"$2\" = --version ]; then echo \"" + db.string() +
                                    "/bin/mariadbd  Ver 11.4.2-MariaDB\"; exit 0; fi\necho $$ > " +
                                    pid.string() + "\nexec sleep 60");
    script(db / "bin/mariadb", "exit 1");
    // The test fails once the launched server has written its pid (or after
    // 10 s), so a loaded machine cannot stop it before it says it ran.
    script(web / "bin/nginx", "[ \"$1\" = -t ] && { for i in $(seq 100); do [ -s " + pid.string() +
                                  " ] && break; sleep 0.1; done\n"
                                  "echo 'nginx: [emerg] broken'; exit 1; }\nexec sleep 60");
    const std::string nginx = "nginx failed (1):\nnginx: [emerg] broken\n";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), nginx);
    EXPECT_EQ(description(), nginx);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
    const std::string launched = readOr(pid);
    ASSERT_FALSE(launched.empty()) << "a warm start launches MariaDB beside the tests";
    EXPECT_NE(::kill(std::stoi(launched), 0), 0) << "MariaDB was stopped again";

    // PHP-FPM's verdict is still the first one judged.
    script(php / "sbin/php-fpm",
           "[ \"$1\" = -t ] && { echo 'fpm: broken'; exit 2; }\nexec sleep 60");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "php-fpm failed (2):\nfpm: broken\n");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
}

TEST_F(StackEngineStartTests, SetUpFailuresKeepTheTextsOfTheirOwnStatements) {
    // A client that fails at the first input line holding `word`, and
    // reports it as the real client does: the statement, then its line.
    const auto failAt = [&](const std::string& word) {
        script(db / "bin/mariadb",
               "input=$(cat)\ncase \"$input\" in *'CREATE DATABASE'*) ;; *) echo 1; exit 0;; "
               "esac\n"
               "line=$(printf '%s\\n' \"$input\" | grep -n '" +
                   word +
                   "' | head -n 1 | cut -d: -f1)\n"
                   "[ -n \"$line\" ] || exit 0\n"
                   "echo --------------; printf '%s\\n' \"$input\" | sed -n \"${line}p\"; "
                   "echo --------------; echo\n"
                   "echo \"ERROR 1105 (HY000) at line $line: refused\"; exit 1");
    };
    failAt("DROP USER");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }),
              "mariadb failed (1):\n--------------\nDROP USER IF EXISTS "
              "'vessora_admin'@'127.0.0.1';\n--------------\n\nERROR 1105 (HY000) at line 1: "
              "refused\n")
        << "as a run of the drop alone would have told it";
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));

    const std::string credentials =
        "Could not configure database credentials. The environment has been stopped.";
    for (const char* word : {"CREATE DATABASE", "GRANT SELECT"}) {
        failAt(word);
        EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), credentials) << word;
    }
    // With phpMyAdmin on, its account statements are secret as well.
    const fs::path copy = folder.path() / "kegs/phpmyadmin/share/phpmyadmin";
    PrivateFile::createDirectories(copy / "vendor");
    PrivateFile::write(copy / "index.php", "<?php");
    PrivateFile::write(copy / "vendor/autoload.php", "<?php");
    profile.phpMyAdminEnabled = true;
    engine->update(profile);
    failAt("vessora_admin");
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), credentials);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, profile.id));
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
