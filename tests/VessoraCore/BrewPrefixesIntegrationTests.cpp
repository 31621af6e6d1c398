// The Debian-backed Homebrew prefixes, run for real: every formula's
// programs start through the prefix, and the Homebrew client reports what
// Debian installed at Debian's versions.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Packages/Homebrew.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

using namespace vessora;
using ::testing::HasSubstr;

namespace {

// The upstream part of a Debian package version: "1:10.11.19-0+deb12u1" -> "10.11.19".
std::string debianVersion(const std::string& package) {
    auto result = Command::run("/usr/bin/dpkg-query", {"-W", "-f=${Version}", package});
    if (result.status != 0)
        return "(" + package + " not installed)";
    std::smatch match;
    std::regex upstream("^(?:[0-9]+:)?([0-9]+[.][0-9]+[.][0-9]+)");
    return std::regex_search(result.output, match, upstream) ? match[1].str() : result.output;
}

class BrewPrefixesIntegrationTests : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        brew = Homebrew(standIn->brew());
    }

    static CommandResult run(const std::filesystem::path& program,
                             const std::vector<std::string>& arguments,
                             std::map<std::string, std::string> environment = {}) {
        return Command::run(program, arguments, {.timeout = 60, .environment = environment});
    }

    Homebrew brew;
    TemporaryFolder work{"vessora-prefixes"};
};

TEST_F(BrewPrefixesIntegrationTests, InstallationsReportDebiansVersions) {
    auto status = brew.installations();
    std::map<std::string, std::string> expected{{"php@8.2", debianVersion("php8.2-cli")},
                                                {"mariadb@10.11", debianVersion("mariadb-server")},
                                                {"nginx", debianVersion("nginx")},
                                                {"httpd", debianVersion("apache2")}};
    for (const auto& [id, version] : expected) {
        auto package = std::find_if(status.packages.begin(), status.packages.end(),
                                    [&](const BrewPackage& p) { return p.id == id; });
        ASSERT_NE(package, status.packages.end()) << id;
        EXPECT_EQ(package->installedVersion, version) << id;
        EXPECT_TRUE(status.installed.at(id)) << id;
    }
    EXPECT_TRUE(status.installed.at("phpmyadmin"));
    EXPECT_FALSE(status.installed.count("php@8.4")); // disabled: not offered
    EXPECT_EQ(standIn->state()["formulae"]["phpmyadmin"]["installed"][0],
              debianVersion("phpmyadmin"));
}

// What the machine cannot serve is disabled, as Homebrew marks a formula that
// can no longer be installed: the catalogue leaves it out, a record naming it
// shows the disabled placeholder, and an install refuses it before brew runs.
TEST_F(BrewPrefixesIntegrationTests, SeriesDebianDoesNotShipAreDisabledAndNeverOffered) {
    auto log = work.path() / "install.log";
    auto status = brew.installations();
    std::vector<std::string> offered;
    for (const auto& package : status.packages)
        offered.push_back(package.id);
    EXPECT_EQ(offered, (std::vector<std::string>{"mariadb@10.11", "php@8.2", "nginx", "httpd"}));
    // Series by the formula that carries them (the newest by the base name).
    const std::map<std::string, std::string> formulae{{"php@8.4", "php"},
                                                      {"php@8.3", "php@8.3"},
                                                      {"mariadb@11.8", "mariadb"},
                                                      {"mariadb@11.4", "mariadb@11.4"}};
    for (const auto& [id, formula] : formulae) {
        EXPECT_TRUE(standIn->state()["formulae"][formula]["disabled"].get<bool>()) << id;
        EXPECT_FALSE(status.installed.count(id) && status.installed.at(id)) << id;
        const auto before = standIn->calls().size();
        EXPECT_EQ(thrownMessage([&] { brew.install({id}, log); }), "Unsupported Homebrew formula.")
            << id;
        const auto calls = standIn->calls();
        for (auto call = calls.begin() + static_cast<std::ptrdiff_t>(before); call != calls.end();
             ++call)
            EXPECT_NE((*call)["args"][0], "install") << id;
    }
    EXPECT_EQ(BrewPackage::savedSelection("php@8.4", PackageFamily::php).title(), "8.4 · disabled");
    brew.install({"php@8.2", "mariadb@10.11"}, log); // already there: nothing to do
    EXPECT_EQ(brew.installations().installed, status.installed);
}

TEST_F(BrewPrefixesIntegrationTests, PhpAndPhpFpm) {
    auto php = brew.prefix("php@8.2");
    EXPECT_EQ(php.parent_path().parent_path(), standIn->root() / "Cellar");
    auto version = run(php / "bin/php", {"-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.output, HasSubstr("PHP " + debianVersion("php8.2-cli")));

    auto pool = work.path() / "php-fpm.conf";
    PrivateFile::write(pool, "[global]\n"
                             "pid = " +
                                 (work.path() / "php-fpm.pid").string() +
                                 "\n"
                                 "error_log = " +
                                 (work.path() / "php-fpm.log").string() +
                                 "\n"
                                 "[www]\n"
                                 "listen = 127.0.0.1:9\n"
                                 "pm = static\n"
                                 "pm.max_children = 1\n");
    auto scan = work.path() / "ini.d";
    std::filesystem::create_directory(scan);
    PrivateFile::write(scan / "vessora.ini", "memory_limit = 123M\n");
    std::map<std::string, std::string> environment{{"PHP_INI_SCAN_DIR", scan.string()}};
    auto test = run(php / "sbin/php-fpm", {"-t", "-y", pool.string()}, environment);
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_THAT(test.output, HasSubstr("test is successful"));

    // Debian's own conf.d (PDO, mysqli) still loads next to the caller's folder.
    auto modules = run(php / "sbin/php-fpm", {"-i"}, environment);
    EXPECT_THAT(modules.output, HasSubstr("pdo_mysql"));
    EXPECT_THAT(modules.output, HasSubstr("mysqli"));
    EXPECT_THAT(modules.output, HasSubstr("memory_limit => 123M"));
}

TEST_F(BrewPrefixesIntegrationTests, MariaDB) {
    auto mariadb = brew.prefix("mariadb@10.11");
    auto version = run(mariadb / "bin/mariadbd", {"--no-defaults", "--version"});
    EXPECT_EQ(version.status, 0);
    // The version is read as the first x.y.z of this output, which starts
    // with the program's own path.
    std::smatch first;
    ASSERT_TRUE(std::regex_search(version.output, first, std::regex("[0-9]+[.][0-9]+[.][0-9]+")));
    EXPECT_EQ(first.str(), debianVersion("mariadb-server"));
    for (const char* program :
         {"sbin/mariadbd", "bin/mariadb", "bin/mariadb-install-db", "bin/my_print_defaults",
          "bin/resolveip", "share/mysql/english/errmsg.sys"})
        EXPECT_TRUE(std::filesystem::exists(mariadb / program)) << program;
}

TEST_F(BrewPrefixesIntegrationTests, WebServers) {
    auto nginx = run(brew.prefix("nginx") / "bin/nginx", {"-v"});
    EXPECT_EQ(nginx.status, 0);
    EXPECT_THAT(nginx.output, HasSubstr("nginx/" + debianVersion("nginx")));

    auto httpd = brew.prefix("httpd");
    auto version = run(httpd / "bin/httpd", {"-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.output, HasSubstr("Apache/" + debianVersion("apache2")));

    // Loading the modules Debian compiles in is no error through the prefix.
    auto config = work.path() / "httpd.conf";
    auto module = [&](const std::string& name) {
        return "LoadModule " + name + "_module \"" +
               (httpd / "lib/httpd/modules" / ("mod_" + name + ".so")).string() + "\"\n";
    };
    PrivateFile::write(config, "ServerRoot \"" + work.path().string() + "\"\n" +
                                   module("mpm_event") + module("unixd") + module("authz_core") +
                                   module("log_config") + "ServerName 127.0.0.1\n" +
                                   "Listen 127.0.0.1:9\n" + "PidFile \"" +
                                   (work.path() / "httpd.pid").string() + "\"\n" +
                                   "DefaultRuntimeDir \"" + work.path().string() + "\"\n" +
                                   "ErrorLog \"" + (work.path() / "error.log").string() + "\"\n");
    auto test = run(httpd / "bin/httpd", {"-t", "-f", config.string()});
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_THAT(test.output, HasSubstr("Syntax OK"));
}

TEST_F(BrewPrefixesIntegrationTests, PhpMyAdminCopyReadsItsOwnConfiguration) {
    auto tree = brew.prefix("phpmyadmin") / "share/phpmyadmin";
    EXPECT_TRUE(std::filesystem::exists(tree / "index.php"));
    auto script = "define('PHPMYADMIN', true); define('ROOT_PATH', '" + tree.string() +
                  "/');"
                  "require '" +
                  (tree / "vendor/autoload.php").string() +
                  "';"
                  "$vendor = require '" +
                  (tree / "libraries/vendor_config.php").string() +
                  "';"
                  "echo class_exists('PhpMyAdmin\\\\Config') ? 'loaded ' : 'missing ';"
                  "echo $vendor['configFile'];";
    auto result = run(brew.prefix("php@8.2") / "bin/php", {"-r", script});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "loaded " + (tree / "config.inc.php").string());
}

} // namespace
