// The generated files, run by the real servers behind the Debian-backed
// Homebrew prefixes: the servers' own configuration tests, then MariaDB,
// PHP-FPM and each web server started on free loopback ports, serving a
// static file, PHP, the health page and phpMyAdmin's copy. The data root's
// name holds a space, both quotes, a backslash and glob characters, so every
// quoting form meets a real parser. The custom web folder's name also holds
// "$" and ";", which the data root may not: the servers only see it through
// the environment's own link.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/PhpMyAdminFiles.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/LongestHostname.hpp"
#include "tests/Support/RealServerTest.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string applicationPassword = R"(pa'ss\wo"rd)";
const std::string adminPassword = "0123456789ABCDEF0123456789ABCDEF";
const std::string token = "7F3A9C";

struct Response {
    long status = 0;
    std::string headers;
    std::string body;
    std::string location;
    std::string error;
};

Response fetch(const std::string& url) {
    Response response;
    try {
        auto answer = LoopbackHTTP::get(url, 15);
        response.status = answer.status;
        response.headers = std::move(answer.headers);
        response.body = std::move(answer.body);
        response.location = std::move(answer.redirect);
    } catch (const std::exception& error) {
        response.error = error.what();
    }
    return response;
}

std::string readText(const fs::path& file) {
    try {
        return PrivateFile::read(file);
    } catch (const std::exception&) {
        return "";
    }
}

std::string loginName() {
    passwd* entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "";
}

// A server the test launched; stopped (SIGTERM, then SIGKILL) when dropped.
class Server {
public:
    Server(std::string service, const fs::path& program, const std::vector<std::string>& arguments,
           const fs::path& log, const std::map<std::string, std::string>& environment = {})
        : log_(log), process_(std::make_unique<ManagedProcess>(service, program, arguments, log,
                                                               environment)) {}
    ~Server() {
        process_->terminate();
        for (int i = 0; i < 100 && process_->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (process_->isRunning()) {
            process_->signal(SIGKILL);
            for (int i = 0; i < 20 && process_->isRunning(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool running() const { return process_->isRunning(); }
    std::string log() const { return readText(log_); }

private:
    fs::path log_;
    std::unique_ptr<ManagedProcess> process_;
};

class ConfigurationIntegrationTest : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        root = folder.path() / R"(data "root" it's \ [x] *)";
        fs::create_directory(root);
        auto ports = freePorts(4);
        profile.id = "studio";
        profile.name = R"(Bob's "shop")";
        profile.php = "php@8.2";
        profile.mariaDB = "mariadb@10.11";
        profile.databasePort = ports[0];
        profile.databaseName = "shop_db";
        useWebPorts(ports[1], ports[2], ports[3]);
    }

    void useWebPorts(std::int64_t http, std::int64_t php, std::int64_t https) {
        profile.httpPort = http;
        profile.phpPort = php;
        profile.httpsPort = https;
    }

    static fs::path prefix(const std::string& formula) { return standIn->root() / "opt" / formula; }
    StackPaths paths() const { return StackPaths(root, profile); }
    fs::path socket() const { return sockets.path() / (profile.id + ".sock"); }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(profile.httpPort); }

    // What the engine's preparation of a start writes, in its order.
    void prepare() {
        auto p = paths();
        auto env = p.directory();
        for (const char* sub : {"config", "config/ini.d", "logs", "public", "tools/health",
                                "tmp/client", "tmp/fastcgi", "tmp/sessions", "tmp/uploads",
                                "tmp/apache", "tmp/phpmyadmin/cache", "tmp/phpmyadmin/sessions"})
            PrivateFile::createDirectories(env / sub);
        PrivateFile::createDirectories(p.data());
        WebDirectory::prepareMount(p);
        PrivateFile::write(p.phpConfig(), Configuration::php(p));
        PrivateFile::write(p.fpmConfig(), Configuration::fpm(p));
        if (profile.webserver == "httpd")
            PrivateFile::write(p.apacheConfig(), Configuration::apache(p, prefix("httpd")));
        else
            PrivateFile::write(p.nginxConfig(), Configuration::nginx(p));
        PrivateFile::write(p.databaseConfig(),
                           Configuration::database(p, prefix("mariadb@10.11"), socket()));
        PrivateFile::write(p.config() / "probe.php",
                           Configuration::probe(p, applicationPassword, token));
        PrivateFile::write(p.healthScript(), Configuration::health(p));
        if (!profile.documentRoot && !profile.projectSubdirectory)
            Configuration::ensureWelcomePage(p.managedWeb() / "index.php");
        if (profile.httpsEnabled)
            LocalHTTPS::prepare(p, false);
        if (profile.phpMyAdminEnabled) {
            PhpMyAdminFiles::prepare(p, prefix("phpmyadmin") / "share/phpmyadmin");
            PrivateFile::write(p.phpMyAdminConfig(), Configuration::phpMyAdmin(p, adminPassword));
        }
    }

    static CommandResult run(const fs::path& program, const std::vector<std::string>& arguments,
                             const CommandOptions& options = {.timeout = 60}) {
        return Command::run(program, arguments, options);
    }

    std::map<std::string, std::string> fpmEnvironment() const {
        return {{"PHP_INI_SCAN_DIR", (paths().config() / "ini.d").string()}};
    }

    CommandResult testFpm() const {
        auto p = paths();
        return run(prefix("php@8.2") / "sbin/php-fpm",
                   {"-t", "-c", p.phpConfig().string(), "-y", p.fpmConfig().string()},
                   {.timeout = 60, .environment = fpmEnvironment()});
    }

    CommandResult testWebServer() const {
        auto p = paths();
        if (profile.webserver == "httpd")
            return run(prefix("httpd") / "bin/httpd", {"-t", "-f", p.apacheConfig().string()});
        return run(prefix("nginx") / "bin/nginx",
                   {"-t", "-p", p.directory().string() + "/", "-c", p.nginxConfig().string()});
    }

    CommandResult sql(const std::string& statement) const {
        return run(prefix("mariadb@10.11") / "bin/mariadb",
                   {"--no-defaults", "--protocol=socket", "--socket=" + socket().string(),
                    "--user=" + loginName(), "--default-character-set=utf8mb4",
                    "--connect-timeout=2", "--batch", "--skip-column-names"},
                   {.timeout = 10, .input = statement});
    }

    // Initialises the data directory, starts MariaDB on the generated file
    // and waits until it answers (at most 30 s).
    std::unique_ptr<Server> startDatabase() {
        auto p = paths();
        auto init =
            run(prefix("mariadb@10.11") / "bin/mariadb-install-db",
                {"--no-defaults", "--basedir=" + prefix("mariadb@10.11").string(),
                 "--datadir=" + p.data().string(), "--auth-root-authentication-method=socket",
                 "--auth-root-socket-user=" + loginName(), "--skip-test-db"},
                {.timeout = 180, .environment = {{"TMPDIR", (p.directory() / "tmp").string()}}});
        EXPECT_EQ(init.status, 0) << init.output;
        auto server = std::make_unique<Server>(
            "MariaDB", prefix("mariadb@10.11") / "bin/mariadbd",
            std::vector<std::string>{"--defaults-file=" + p.databaseConfig().string()},
            p.logs() / "mariadb-process.log");
        for (int attempt = 0; attempt < 120 && server->running(); ++attempt) {
            auto answer = sql("SELECT 1");
            if (answer.status == 0 && answer.output == "1\n")
                return server;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        ADD_FAILURE() << "MariaDB did not answer:\n"
                      << server->log() << readText(p.logs() / "mariadb-error.log");
        return nullptr;
    }

    // The accounts and identity row the engine sets up at every start.
    void setUpAccounts() {
        std::string password;
        for (char c : applicationPassword)
            password += c == '\'' ? std::string("''") : std::string(1, c);
        auto result = sql("SET SESSION sql_mode='NO_BACKSLASH_ESCAPES';\n"
                          "CREATE DATABASE IF NOT EXISTS `shop_db` CHARACTER SET utf8mb4;\n"
                          "CREATE USER IF NOT EXISTS 'vessora'@'127.0.0.1' IDENTIFIED BY '" +
                          password +
                          "';\n"
                          "GRANT ALL PRIVILEGES ON `shop\\_db`.* TO 'vessora'@'127.0.0.1';\n"
                          "CREATE DATABASE IF NOT EXISTS vessora_internal;\n"
                          "CREATE TABLE IF NOT EXISTS vessora_internal.setup_identity "
                          "(name VARCHAR(80) PRIMARY KEY);\n"
                          "INSERT IGNORE INTO vessora_internal.setup_identity VALUES ('" +
                          profile.id +
                          "');\n"
                          "GRANT SELECT ON vessora_internal.setup_identity TO "
                          "'vessora'@'127.0.0.1';\n"
                          "CREATE USER IF NOT EXISTS 'vessora_admin'@'127.0.0.1' IDENTIFIED BY '" +
                          adminPassword +
                          "';\n"
                          "GRANT ALL PRIVILEGES ON *.* TO 'vessora_admin'@'127.0.0.1' WITH "
                          "GRANT OPTION;");
        ASSERT_EQ(result.status, 0) << result.output;
    }

    // PHP-FPM and the web server as the engine launches them; waits until
    // the site answers (at most 20 s).
    std::vector<std::unique_ptr<Server>> startSite() {
        auto p = paths();
        std::vector<std::unique_ptr<Server>> servers;
        servers.push_back(
            std::make_unique<Server>("PHP", prefix("php@8.2") / "sbin/php-fpm",
                                     std::vector<std::string>{"-F", "-c", p.phpConfig().string(),
                                                              "-y", p.fpmConfig().string()},
                                     p.logs() / "php-process.log", fpmEnvironment()));
        if (profile.webserver == "httpd")
            servers.push_back(std::make_unique<Server>(
                "Apache", prefix("httpd") / "bin/httpd",
                std::vector<std::string>{"-DFOREGROUND", "-f", p.apacheConfig().string()},
                p.logs() / "apache-process.log"));
        else
            servers.push_back(std::make_unique<Server>(
                "nginx", prefix("nginx") / "bin/nginx",
                std::vector<std::string>{"-p", p.directory().string() + "/", "-c",
                                         p.nginxConfig().string()},
                p.logs() / "nginx-process.log"));
        for (int attempt = 0; attempt < 80; ++attempt) {
            for (const auto& server : servers)
                if (!server->running()) {
                    ADD_FAILURE() << "a server exited:\n" << server->log();
                    return servers;
                }
            auto health = fetch(base() + "/__vessora_health.php");
            if (health.status == 200)
                return servers;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        ADD_FAILURE() << "the site did not answer:\n" << servers[0]->log() << servers[1]->log();
        return servers;
    }

    // The served folder: a custom folder, a project subfolder or the managed
    // one; either way it gets a static file and a PHP page.
    void fillWebFolder() {
        auto web = paths().web();
        fs::create_directories(web);
        PrivateFile::writeKeepingMode(web / "static.txt", "plain text\n");
        PrivateFile::writeKeepingMode(
            web / "page.php", "<?php echo 'php ', PHP_VERSION, ' ', $_SERVER['SERVER_PORT'];");
        PrivateFile::writeKeepingMode(web / ".secret", "hidden");
    }

    void expectHealth(const std::string& body) {
        auto json = nlohmann::json::parse(body, nullptr, false);
        ASSERT_TRUE(json.is_object()) << body;
        EXPECT_EQ(json["token"], token);
        EXPECT_EQ(json["identity"], profile.id) << "the application password reached MariaDB";
        EXPECT_EQ(json["database"], "shop_db");
        EXPECT_EQ(json["database_port"], profile.databasePort);
        EXPECT_TRUE(json["php"].is_string() && json["php"].get<std::string>().starts_with("8.2."));
        EXPECT_TRUE(json["mariadb"].is_string() &&
                    json["mariadb"].get<std::string>().starts_with("10.11."));
    }

    void expectSite() {
        auto plain = fetch(base() + "/static.txt");
        EXPECT_EQ(plain.status, 200) << plain.error;
        EXPECT_EQ(plain.body, "plain text\n");
        auto page = fetch(base() + "/page.php");
        EXPECT_EQ(page.status, 200) << page.error;
        EXPECT_THAT(page.body, StartsWith("php 8.2."));
        EXPECT_THAT(page.body, EndsWith(" " + std::to_string(profile.httpPort)));
        auto health = fetch(base() + "/__vessora_health.php");
        EXPECT_EQ(health.status, 200) << health.error;
        expectHealth(health.body);
        auto dotFile = fetch(base() + "/.secret");
        EXPECT_THAT(dotFile.status, ::testing::AnyOf(403, 404));
        EXPECT_THAT(dotFile.body, Not(HasSubstr("hidden")));
    }

    void expectPhpMyAdmin() {
        auto redirect = fetch(base() + "/phpmyadmin?lang=en");
        EXPECT_EQ(redirect.status, 302);
        EXPECT_THAT(redirect.location, HasSubstr("/phpmyadmin/"));
        auto link = fetch(base() + "/__vessora/studio/phpmyadmin/");
        EXPECT_EQ(link.status, 302);
        auto home = fetch(base() + "/phpmyadmin/");
        EXPECT_EQ(home.status, 200) << home.error;
        EXPECT_THAT(home.body, HasSubstr("phpMyAdmin"));
        EXPECT_THAT(home.body, HasSubstr("pmahomme"));
        // Logged in as the administrator, under the environment's label.
        EXPECT_THAT(home.body, HasSubstr("vessora_internal"));
        EXPECT_THAT(home.body, HasSubstr("Bob&#039;s &quot;shop&quot;"));
        for (const char* hidden :
             {"/phpmyadmin/libraries/classes/Version.php", "/phpmyadmin/config.inc.php",
              "/phpmyadmin/vendor/autoload.php", "/__vessora/other"})
            EXPECT_EQ(fetch(base() + hidden).status, 404) << hidden;
    }

    // One environment started three times, as after edits of its record:
    // with HTTPS and phpMyAdmin on its own web folder; on the managed folder
    // over HTTP; then with phpMyAdmin off.
    void serveThreeWays() {
        profile.httpsEnabled = true;
        profile.phpMyAdminEnabled = true;
        fillWebFolder();
        prepare();
        auto database = startDatabase();
        ASSERT_TRUE(database);
        setUpAccounts();
        {
            auto servers = startSite();
            expectSite();
            expectPhpMyAdmin();
            auto secure = LocalHTTPS::get(
                "https://127.0.0.1:" + std::to_string(*profile.httpsPort) + "/__vessora_health.php",
                paths());
            expectHealth(secure);
        }

        auto ports = freePorts(3);
        useWebPorts(ports[0], ports[1], ports[2]);
        profile.httpsEnabled = false;
        profile.documentRoot.reset();
        profile.projectSubdirectory.reset();
        fillWebFolder();
        prepare();
        {
            auto servers = startSite();
            expectSite();
            EXPECT_EQ(fetch(base() + "/").body, Configuration::welcomePage());
            expectPhpMyAdmin();
            auto home = fetch(base() + "/phpmyadmin/");
            EXPECT_THAT(home.headers,
                        HasSubstr("Set-Cookie: " + paths().phpMyAdminSessionCookieName() + "="));
            EXPECT_THAT(home.headers, Not(HasSubstr("Set-Cookie: phpMyAdmin=")));
        }

        ports = freePorts(3);
        useWebPorts(ports[0], ports[1], ports[2]);
        profile.phpMyAdminEnabled = false;
        prepare();
        auto servers = startSite();
        expectSite();
        PrivateFile::createDirectories(paths().managedWeb() / "phpmyadmin");
        PrivateFile::write(paths().managedWeb() / "phpmyadmin/index.html", "project file");
        EXPECT_EQ(fetch(base() + "/phpmyadmin/").status, 404) << "hidden while phpMyAdmin is off";
        EXPECT_EQ(fetch(base() + "/phpmyadmin").status, 404);
        EXPECT_EQ(fetch(base() + "/__vessora/studio/phpmyadmin").status, 404);
    }

    TemporaryFolder folder{"vessora-config"};
    TemporaryFolder sockets{"vcs"};
    fs::path root;
    StackProfile profile;
};

TEST_F(ConfigurationIntegrationTest, ServersAcceptEveryVariantAndMariaDBAnswers) {
    TemporaryFolder site{"vessora site [1] 'x' $HOME;"};
    struct Variant {
        std::string webserver;
        bool https, phpMyAdmin;
        std::optional<std::string> documentRoot, projectSubdirectory;
    };
    std::vector<Variant> variants{
        {"nginx", false, false, std::nullopt, std::nullopt},
        {"nginx", true, true, site.path().string(), std::nullopt},
        {"httpd", false, false, std::nullopt, "web sub"},
        {"httpd", true, true, site.path().string(), std::nullopt},
        {"nginx", true, false, std::nullopt, "web sub"},
        {"httpd", false, true, std::nullopt, std::nullopt},
    };
    fs::create_directories(paths().project() / "web sub");
    for (const auto& variant : variants) {
        profile.webserver = variant.webserver;
        profile.httpsEnabled = variant.https;
        profile.phpMyAdminEnabled = variant.phpMyAdmin;
        profile.documentRoot = variant.documentRoot;
        profile.projectSubdirectory = variant.projectSubdirectory;
        SCOPED_TRACE(variant.webserver + (variant.https ? " https" : "") +
                     (variant.phpMyAdmin ? " phpmyadmin" : ""));
        prepare();
        auto fpm = testFpm();
        EXPECT_EQ(fpm.status, 0) << fpm.output;
        auto web = testWebServer();
        EXPECT_EQ(web.status, 0) << web.output;
        EXPECT_THAT(web.output, Not(HasSubstr("warn"))) << web.output;
    }

    auto database = startDatabase();
    ASSERT_TRUE(database);
    auto settings = sql("SELECT @@port, @@bind_address, @@max_allowed_packet, @@max_connections");
    EXPECT_EQ(settings.output,
              std::to_string(profile.databasePort) + "\t127.0.0.1\t68157440\t30\n");
}

// The environment's own server names carry the hostname too; the longest
// one the rules allow passes both web servers' tests.
TEST_F(ConfigurationIntegrationTest, ALongestHostnamePassesBothWebServersTests) {
    profile.hostname = longestHostname();
    ASSERT_EQ(profile.hostname->size(), 253u);
    profile.virtualHost = true;
    profile.httpsEnabled = true;
    for (const char* webserver : {"nginx", "httpd"}) {
        SCOPED_TRACE(webserver);
        profile.webserver = webserver;
        prepare();
        auto web = testWebServer();
        EXPECT_EQ(web.status, 0) << web.output;
        EXPECT_THAT(web.output, Not(HasSubstr("warn"))) << web.output;
    }
}

TEST_F(ConfigurationIntegrationTest, NginxServesSiteHealthAndPhpMyAdmin) {
    TemporaryFolder site{"vessora site [1] 'x' $HOME;"};
    profile.webserver = "nginx";
    profile.documentRoot = site.path().string();
    serveThreeWays();
}

TEST_F(ConfigurationIntegrationTest, ApacheServesSiteHealthAndPhpMyAdmin) {
    profile.webserver = "httpd";
    profile.projectSubdirectory = "web sub";
    serveThreeWays();
}

} // namespace
} // namespace vessora
