// The engine's database operations without a server: the busy flag, the
// running test, the application account's credentials and stored password.
// The same operations on a real MariaDB: DatabaseAdministrationIntegrationTests.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string busyText = "Another Vessora action is still in progress.";
const std::string notRunning = "Start the environment to manage its active MariaDB instance.";
const std::string passwordRule =
    "Use a nonempty database password of up to 256 UTF-8 bytes, without control characters.";

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class StackEngineAdministrationTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        engine = std::make_unique<StackEngine>(
            StackEngineTesting::quickOptions(folder.path() / "data", brew.brew(), helper));
        profile = engine->create("Shop", "php@8.4", "mariadb@11.4", false, "nginx", false,
                                 std::nullopt, "shop_db", std::nullopt, false, false);
    }
    void TearDown() override {
        StackEngineTesting::stopProcesses(*engine, profile.id);
        fs::remove_all(engine->socketDirectory());
        UserDefaults::setStandard(nullptr);
    }

    std::shared_ptr<ManagedProcess> track(const std::string& service,
                                          const std::string& program = "/bin/sleep") {
        auto process = std::make_shared<ManagedProcess>(
            service, program, std::vector<std::string>{"60"}, folder.path() / "process.log");
        StackEngineTesting::addProcess(*engine, profile.id, process);
        return process;
    }

    fs::path passwordFile() const {
        return StackPaths(engine->root(), profile).config() / "database-password";
    }

    // Every database operation of the engine with harmless arguments.
    std::vector<std::pair<std::string, std::function<void()>>> operations(const std::string& id) {
        return {
            {"snapshot", [=, this] { engine->databaseAdminSnapshot(id); }},
            {"createDatabase", [=, this] { engine->createDatabase(id, "blog", true); }},
            {"createDatabaseUser",
             [=, this] {
                 engine->createDatabaseUser(id, "shop", "pw", "shop_db", DatabaseAccess::readOnly);
             }},
            {"setDatabaseAccess",
             [=, this] { engine->setDatabaseAccess(id, "shop", "127.0.0.1", {}); }},
            {"changeDatabaseUserPassword",
             [=, this] { engine->changeDatabaseUserPassword(id, "shop", "127.0.0.1", "pw"); }},
            {"deleteDatabaseUser",
             [=, this] { engine->deleteDatabaseUser(id, "shop", "127.0.0.1"); }},
        };
    }

    TemporaryFolder folder{"vessora-admin"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
    StackProfile profile;
};

TEST_F(StackEngineAdministrationTests, EveryOperationIsRefusedWhileAnotherRuns) {
    helper->hold();
    auto waiting = std::async(std::launch::async, [&] { engine->configureLocalHosts(true); });
    ASSERT_TRUE(helper->waitUntilHeld());

    for (const auto& [name, call] : operations(profile.id))
        EXPECT_EQ(thrownMessage(call), busyText) << name;
    EXPECT_EQ(thrownMessage([&] { engine->executeSQL(profile.id, "SELECT 1"); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->databaseCredentials(profile.id); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword(profile.id, "new"); }), busyText);
    // The refusals neither cleared the running operation's flag nor wrote.
    EXPECT_TRUE(StackEngineTesting::busy(*engine));
    EXPECT_FALSE(fs::exists(passwordFile()));

    helper->release();
    waiting.get();
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

TEST_F(StackEngineAdministrationTests, AdministrationNeedsAllThreeServersAlive) {
    const auto expectRefused = [&](const std::string& situation) {
        for (const auto& [name, call] : operations(profile.id))
            EXPECT_EQ(thrownMessage(call), notRunning) << situation << ": " << name;
        EXPECT_EQ(thrownMessage([&] { engine->executeSQL(profile.id, "SELECT 1"); }),
                  "The environment is not fully running.")
            << situation;
        EXPECT_FALSE(StackEngineTesting::busy(*engine)) << situation;
    };
    expectRefused("stopped");
    track("MariaDB");
    track("PHP");
    expectRefused("two servers");

    // A web server that has exited while MariaDB still runs.
    const auto web = track("nginx", "/bin/false");
    for (int attempt = 0; attempt < 500 && web->isRunning(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(web->isRunning());
    ASSERT_EQ(StackEngineTesting::processCount(*engine, profile.id), 3u);
    expectRefused("web server exited");

    for (const auto& [name, call] : operations("env-unknown"))
        EXPECT_EQ(thrownMessage(call), "Unknown environment.") << name;
    EXPECT_EQ(thrownMessage([&] { engine->executeSQL("env-unknown", "SELECT 1"); }),
              "Unknown environment.");
}

TEST_F(StackEngineAdministrationTests, RunningServersGetAsFarAsTheMariaDBPrefix) {
    track("MariaDB");
    track("PHP");
    track("nginx");
    // The stand-in knows no "mariadb@11.4": Homebrew's error passes through.
    for (const auto& [name, call] : operations(profile.id))
        EXPECT_THAT(thrownMessage(call), ::testing::HasSubstr("brew failed")) << name;
    EXPECT_THAT(thrownMessage([&] { engine->executeSQL(profile.id, "SELECT 1"); }),
                ::testing::HasSubstr("brew failed"));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

TEST_F(StackEngineAdministrationTests, CredentialsOfANeverStartedEnvironment) {
    fs::remove_all(passwordFile().parent_path());
    const DatabaseCredentials credentials = engine->databaseCredentials(profile.id);
    EXPECT_EQ(credentials.host, "127.0.0.1");
    EXPECT_EQ(credentials.user, "vessora");
    EXPECT_EQ(credentials.database, "shop_db");
    EXPECT_EQ(credentials.port, profile.databasePort);
    EXPECT_EQ(credentials.password.size(), 32u);
    EXPECT_EQ(PrivateFile::read(passwordFile()), credentials.password);
    EXPECT_EQ(modeOf(passwordFile()), 0600u);
    EXPECT_EQ(modeOf(passwordFile().parent_path()), 0700u);
    // Stable, and served while the environment runs.
    track("MariaDB");
    EXPECT_EQ(engine->databaseCredentials(profile.id), credentials);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    PrivateFile::write(passwordFile(), "bad\tpassword");
    EXPECT_EQ(thrownMessage([&] { engine->databaseCredentials(profile.id); }), passwordRule);
    EXPECT_EQ(thrownMessage([&] { engine->databaseCredentials("env-unknown"); }),
              "Unknown environment.");
}

TEST_F(StackEngineAdministrationTests, StoredPasswordChangesOnlyWhileStopped) {
    PrivateFile::write(passwordFile(), "old");
    track("MariaDB");
    EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword(profile.id, "new"); }),
              "Stop the environment before changing its settings.");
    EXPECT_EQ(PrivateFile::read(passwordFile()), "old");
    StackEngineTesting::stopProcesses(*engine, profile.id);

    for (const std::string& bad : {std::string(), std::string(257, 'x'), std::string("a\nb"),
                                   std::string("zero\xE2\x80\x8Bwidth")}) {
        EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword(profile.id, bad); }),
                  passwordRule);
        EXPECT_EQ(PrivateFile::read(passwordFile()), "old");
    }
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // Stored exactly as typed, spaces and quotes included.
    const std::string typed = R"( it's "new" \ )";
    fs::remove_all(passwordFile().parent_path());
    engine->setDatabasePassword(profile.id, typed);
    EXPECT_EQ(PrivateFile::read(passwordFile()), typed);
    EXPECT_EQ(modeOf(passwordFile()), 0600u);
    EXPECT_EQ(modeOf(passwordFile().parent_path()), 0700u);
    EXPECT_EQ(engine->databaseCredentials(profile.id).password, typed);
    EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword("env-unknown", "x"); }),
              "Unknown environment.");
}

} // namespace
} // namespace vessora
