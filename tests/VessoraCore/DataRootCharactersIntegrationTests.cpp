// Which characters a data root may hold, judged by the real servers: the
// engine either refuses the root before anything is written, or every file a
// start writes there is read back right by PHP, PHP-FPM, nginx, Apache,
// MariaDB and the router's nginx, and PHP keeps its sessions where the
// configuration says.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class DataRootCharactersTest : public RealServerTest {
protected:
    static fs::path prefix(const std::string& formula) { return standIn->root() / "opt" / formula; }

    static CommandResult run(const fs::path& program, const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment = {}) {
        return Command::run(program, arguments, {.timeout = 60, .environment = environment});
    }

    std::unique_ptr<StackEngine> open(const fs::path& root) {
        auto options = StackEngineTesting::quickOptions(root, standIn->brew(), helper);
        return std::make_unique<StackEngine>(options);
    }

    // PHP with the generated settings, as PHP-FPM loads them: the three
    // paths read back, and a session kept in the environment's own folder.
    void expectPhp(const StackPaths& paths) {
        const fs::path env = paths.directory();
        const CommandResult php =
            run(prefix("php@8.2") / "bin/php",
                {"-c", paths.phpConfig().string(), "-r",
                 "session_start(); $_SESSION['kept'] = 1; $id = session_id(); "
                 "session_write_close(); echo ini_get('error_log'), \"\\n\", "
                 "ini_get('session.save_path'), \"\\n\", ini_get('upload_tmp_dir'), "
                 "\"\\n\", $id;"},
                {{"PHP_INI_SCAN_DIR", (paths.config() / "ini.d").string()}});
        EXPECT_EQ(php.status, 0) << php.output;
        const std::string read = (env / "logs/php-error.log").string() + "\n" +
                                 (env / "tmp/sessions").string() + "\n" +
                                 (env / "tmp/uploads").string() + "\n";
        ASSERT_EQ(php.output.substr(0, read.size()), read) << php.output;
        const std::string session = php.output.substr(read.size());
        EXPECT_FALSE(session.empty()) << php.output;
        EXPECT_TRUE(fs::exists(env / "tmp/sessions" / ("sess_" + session))) << php.output;
    }

    void expectFpm(const StackPaths& paths) {
        const CommandResult fpm =
            run(prefix("php@8.2") / "sbin/php-fpm",
                {"-tt", "-c", paths.phpConfig().string(), "-y", paths.fpmConfig().string()},
                {{"PHP_INI_SCAN_DIR", (paths.config() / "ini.d").string()}});
        EXPECT_EQ(fpm.status, 0) << fpm.output;
        EXPECT_THAT(fpm.output,
                    HasSubstr("pid = " + (paths.directory() / "php-fpm.pid").string() + "\n"));
    }

    void expectMariaDB(const StackPaths& paths) {
        const CommandResult options =
            run(prefix("mariadb@10.11") / "bin/my_print_defaults",
                {"--defaults-file=" + paths.databaseConfig().string(), "mariadbd"});
        EXPECT_EQ(options.status, 0) << options.output;
        EXPECT_THAT(options.output, HasSubstr("--datadir=" + paths.data().string() + "\n"));
        EXPECT_THAT(options.output,
                    HasSubstr("--log-error=" +
                              (paths.directory() / "logs/mariadb-error.log").string() + "\n"));
    }

    void expectNginx(const StackPaths& paths) {
        const CommandResult nginx =
            run(prefix("nginx") / "bin/nginx",
                {"-t", "-p", paths.directory().string() + "/", "-c", paths.nginxConfig().string()});
        EXPECT_EQ(nginx.status, 0) << nginx.output;
        EXPECT_THAT(nginx.output, Not(HasSubstr("warn"))) << nginx.output;
    }

    void expectApache(const StackPaths& paths) {
        const CommandResult httpd =
            run(prefix("httpd") / "bin/httpd",
                {"-t", "-D", "DUMP_RUN_CFG", "-f", paths.apacheConfig().string()});
        EXPECT_EQ(httpd.status, 0) << httpd.output;
        EXPECT_THAT(httpd.output,
                    HasSubstr("ServerRoot: \"" + paths.directory().string() + "\"\n"));
    }

    void expectRouter(const fs::path& root, const StackProfile& profile) {
        const fs::path router = root / ".router";
        PrivateFile::createDirectories(router);
        PrivateFile::write(router / "candidate.conf",
                           VirtualHostRouter::configuration(root, {profile}, "G"));
        const CommandResult nginx =
            run(prefix("nginx") / "bin/nginx",
                {"-t", "-p", router.string() + "/", "-c", (router / "candidate.conf").string()});
        EXPECT_EQ(nginx.status, 0) << nginx.output;
    }

    TemporaryFolder folder{"vessora-roots"};
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
};

TEST_F(DataRootCharactersTest, EveryRootTheEngineTakesIsReadRightByEveryServer) {
    const std::string dollar = "The data path must not contain a dollar sign.";
    const std::string semicolon = "The data path must not contain a semicolon.";
    struct Case {
        std::string character;
        std::optional<std::string> refusal;
    };
    const std::vector<Case> cases{
        {"$", dollar}, {"${HOME}", dollar}, {";", semicolon}, {" ", {}}, {"\"", {}}, {"'", {}},
        {"\\", {}},    {"[", {}},           {"]", {}},        {"*", {}}, {"?", {}},  {"#", {}},
        {"{", {}},     {"}", {}},           {"%", {}},        {"&", {}}, {"(", {}},  {"|", {}},
        {"!", {}},     {"`", {}},           {"~", {}},        {"=", {}}, {",", {}},  {"@", {}},
        {"\t", {}},    {"ü", {}},           {"日本", {}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE("character \"" + item.character + "\"");
        const fs::path root = folder.path() / ("data " + item.character + "x");
        // What the engine takes goes to the servers, whatever was expected.
        std::unique_ptr<StackEngine> engine;
        const std::string refused = thrownMessage([&] { engine = open(root); });
        EXPECT_EQ(refused, item.refusal.value_or(""));
        if (!engine) {
            EXPECT_FALSE(fs::exists(root)) << "nothing is written";
            continue;
        }
        StackProfile profile =
            engine->create("Site", "php@8.2", "mariadb@10.11", false, "nginx", true, std::nullopt,
                           "shop_db", std::string("site.test"), true, false);
        StackPaths paths(engine->root(), profile);
        StackEngineTesting::prepare(*engine, paths, prefix("mariadb@10.11"), prefix("nginx"),
                                    "TOKEN");
        expectPhp(paths);
        expectFpm(paths);
        expectMariaDB(paths);
        expectNginx(paths);
        expectRouter(engine->root(), profile);
        // Under a "?" the start refuses Apache before writing anything.
        if (item.character != "?") {
            // Written as the start writes it; saving the record would check
            // its ports, which servers of other tests may hold by now.
            profile.webserver = "httpd";
            paths = StackPaths(engine->root(), profile);
            StackEngineTesting::prepare(*engine, paths, prefix("mariadb@10.11"), prefix("httpd"),
                                        "TOKEN");
            expectApache(paths);
        }
    }

    UserDefaults::standard()->set("Vessora.language", "de");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da;ta"); }),
              "Der Datenpfad darf kein Semikolon enthalten.");
}

} // namespace
} // namespace vessora
