#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/DescriptorWait.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Storage/UserTrash.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/ExpiredIdentity.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vessora;
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string busyText = "Another Vessora action is still in progress.";

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> idsOf(const std::vector<StackProfile>& profiles) {
    std::vector<std::string> ids;
    for (const auto& profile : profiles)
        ids.push_back(profile.id);
    return ids;
}

class StackEngineTests : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        fs::create_directory(trash());
    }
    void TearDown() override {
        for (const auto& socketFolder : socketFolders)
            fs::remove_all(socketFolder);
        UserDefaults::setStandard(nullptr);
    }

    fs::path root() const { return folder.path() / "data"; }
    fs::path trash() const { return folder.path() / "trash"; }

    std::unique_ptr<StackEngine> open(std::optional<fs::path> at = std::nullopt) {
        auto options = StackEngineTesting::quickOptions(at.value_or(root()), brew.brew(), helper);
        options.trashHandler = [this](const fs::path& item) {
            fs::rename(item, trash() / item.filename());
        };
        options.readinessPause = std::chrono::milliseconds(1);
        auto engine = std::make_unique<StackEngine>(options);
        socketFolders.push_back(engine->socketDirectory());
        return engine;
    }

    StackProfile create(StackEngine& engine, const std::string& name,
                        std::optional<std::string> hostname = std::nullopt, bool https = false,
                        std::optional<std::string> documentRoot = std::nullopt) {
        return engine.create(name, "php@8.4", "mariadb@11.4", false, "nginx", https, documentRoot,
                             "app", hostname, false, false);
    }

    // A process that stays up until a signal ends it.
    std::shared_ptr<ManagedProcess> sleeper(const std::string& service) const {
        return std::make_shared<ManagedProcess>(
            service, "/bin/sleep", std::vector<std::string>{"60"}, folder.path() / "process.log");
    }

    TemporaryFolder folder{"vessora-engine"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::vector<fs::path> socketFolders;
};

// Construction, lock and records file

TEST_F(StackEngineTests, FreshRootGetsBuiltInsLockAndPrivateSocketFolder) {
    auto engine = open();
    EXPECT_EQ(engine->root(), fs::canonical(root()));
    EXPECT_EQ(modeOf(root()), 0700);
    EXPECT_TRUE(fs::exists(root() / "engine.lock"));
    EXPECT_EQ(modeOf(root() / "profiles.json"), 0600);
    EXPECT_THAT(idsOf(engine->allProfiles()), ElementsAre("studio", "legacy"));

    const std::string records = PrivateFile::read(root() / "profiles.json");
    const auto json = nlohmann::json::parse(records);
    ASSERT_TRUE(json.is_array());
    EXPECT_EQ(json.size(), 2u);

    const fs::path sockets = engine->socketDirectory();
    EXPECT_EQ(sockets, StackEngine::socketDirectoryFor(engine->root()));
    EXPECT_THAT(sockets.filename().string(),
                ::testing::MatchesRegex("vessora-" + std::to_string(::getuid()) + "-[0-9a-f]{16}"));
    EXPECT_EQ(modeOf(sockets), 0700);
    EXPECT_NE(StackEngine::socketDirectoryFor(engine->root() / "other"), sockets);
}

// What a killed run leaves behind: its servers, the import's staging folder
// and client option files. The next engine on the root ends and removes
// them; an ordinary end removes the engine's own socket folder.

TEST_F(StackEngineTests, KilledRunsServersAreEndedAtConstructionReusedPidsAreNot) {
    open().reset();
    const StackPaths studio(fs::canonical(root()), StackProfile::defaults().at(0));
    const StackPaths legacy(fs::canonical(root()), StackProfile::defaults().at(1));
    // Launched and recorded by a run that is gone now.
    auto left = std::make_shared<ManagedProcess>(
        "MariaDB", "/bin/sleep", std::vector<std::string>{"60"}, folder.path() / "left.log",
        std::map<std::string, std::string>{}, studio.serverRecords());
    auto stranger = std::make_shared<ManagedProcess>(
        "PHP", "/bin/sleep", std::vector<std::string>{"60"}, folder.path() / "other.log",
        std::map<std::string, std::string>{}, legacy.serverRecords());
    // The stranger's record names its pid with another start time: a pid
    // reused since the record was written.
    const fs::path strangerFile =
        legacy.serverRecords() / (std::to_string(stranger->pid()) + ".json");
    auto record = nlohmann::json::parse(PrivateFile::read(strangerFile));
    record["startTime"] = record["startTime"].get<std::int64_t>() + 7;
    PrivateFile::write(strangerFile, record.dump());

    auto engine = open();
    EXPECT_TRUE(left->waitForExit(std::chrono::seconds(5)));
    EXPECT_EQ(left->terminationStatus(), SIGTERM);
    EXPECT_TRUE(stranger->isRunning());
    EXPECT_TRUE(fs::is_empty(studio.serverRecords()));
    EXPECT_TRUE(fs::is_empty(legacy.serverRecords()));
    stranger->signal(SIGKILL);
    EXPECT_TRUE(stranger->waitForExit(std::chrono::seconds(5)));
}

TEST_F(StackEngineTests, KilledImportsStagingAndOptionFilesAreRemovedAtConstruction) {
    open().reset();
    const fs::path resolved = fs::canonical(root());
    const StackPaths studio(resolved, StackProfile::defaults().at(0));
    const fs::path staged =
        StackPaths::migrationStaging(resolved) / "0D3F5A52-1C4B-4E0B-9C55-3E7F4E0C2A11";
    PrivateFile::createDirectories(staged);
    PrivateFile::write(staged / "import.sql", "INSERT INTO customers VALUES ('private');\n");
    PrivateFile::createDirectories(studio.config());
    PrivateFile::write(studio.migrationClientOptions(), "[client]\npassword=\"secret\"\n");
    PrivateFile::write(studio.databasePassword(), "kept");

    auto engine = open();
    EXPECT_FALSE(fs::exists(StackPaths::migrationStaging(resolved)));
    EXPECT_FALSE(fs::exists(studio.migrationClientOptions()));
    EXPECT_EQ(PrivateFile::read(studio.databasePassword()), "kept");
}

TEST_F(StackEngineTests, EndOfRunRemovesOnlyItsOwnIdleSocketFolder) {
    auto first = open();
    auto second = open(folder.path() / "other");
    const fs::path firstSockets = first->socketDirectory();
    const fs::path secondSockets = second->socketDirectory();
    first.reset();
    EXPECT_FALSE(fs::exists(firstSockets));
    EXPECT_TRUE(fs::is_directory(secondSockets));

    // A server still held at the end keeps its socket where it is.
    auto process = sleeper("MariaDB");
    StackEngineTesting::addProcess(*second, "studio", process);
    second.reset();
    EXPECT_TRUE(fs::is_directory(secondSockets));
    process->signal(SIGKILL);
    process->waitForExit(std::chrono::seconds(5));

    // The same root again gets its folder back.
    EXPECT_TRUE(fs::is_directory(open()->socketDirectory()));
}

TEST_F(StackEngineTests, ExistingRecordsAreKeptExactlyEvenWhenEmptyOrInvalid) {
    fs::create_directories(root());
    PrivateFile::write(root() / "profiles.json", "[]");
    EXPECT_TRUE(open()->allProfiles().empty());
    EXPECT_EQ(PrivateFile::read(root() / "profiles.json"), "[]");

    for (const std::string& broken :
         {std::string("{not json"), std::string("{}"), std::string("[{\"id\": \"studio\"}]"),
          std::string(R"([{"id":"bad id","name":"A","php":"php@8.4","mariaDB":"mariadb@11.4",
                         "httpPort":8080,"phpPort":9080,"databasePort":13300}])")}) {
        PrivateFile::write(root() / "profiles.json", broken);
        EXPECT_NE(thrownMessage([&] { open(); }), "") << broken;
        EXPECT_EQ(PrivateFile::read(root() / "profiles.json"), broken);
    }
    // The lock went with each failed engine.
    PrivateFile::write(root() / "profiles.json", "[]");
    EXPECT_NO_THROW(open());
}

TEST_F(StackEngineTests, SecondEngineOnTheSameRootIsRefused) {
    auto first = open();
    const std::string refused = "Another Vessora instance is already using this data directory.";
    EXPECT_EQ(thrownMessage([&] { open(); }), refused);

    // The same folder reached through a link resolves to the same root.
    fs::create_directory_symlink(root(), folder.path() / "link");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "link/"); }), refused);
    EXPECT_EQ(first->allProfiles().size(), 2u);

    // The lock file open anywhere else in this process also counts: opening
    // and closing it again would drop the lock this process holds.
    first.reset();
    UniqueFd other(::open((root() / "engine.lock").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(thrownMessage([&] { open(); }), refused);
    other.reset();
    EXPECT_NO_THROW(open(folder.path() / "link"));

    // A link in place of the lock file is never followed.
    fs::rename(root() / "engine.lock", folder.path() / "elsewhere.lock");
    fs::create_symlink(folder.path() / "elsewhere.lock", root() / "engine.lock");
    EXPECT_EQ(thrownMessage([&] { open(); }), "Could not lock the Vessora data directory.");
}

TEST_F(StackEngineTests, LockDescriptorIsNotInherited) {
    auto engine = open();
    // A child that execs must not keep the lock: after exec the lock file's
    // descriptor is gone, so the child cannot see it among its own.
    const fs::path lock = fs::canonical(root() / "engine.lock");
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == lock) {
            const int fd = std::stoi(entry.path().filename().string());
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
}

TEST_F(StackEngineTests, AKilledRunsRootOpensAtOnceWhateverKeptACopyOfItsLockDescriptor) {
    const std::string refused = "Another Vessora instance is already using this data directory.";
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    UniqueFd reader(pipeEnds[0]);
    UniqueFd writer(pipeEnds[1]);
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        try {
            auto engine = open();
            // A child that shares every descriptor of the run, as one the
            // kill catches between its launch and its exec does.
            const pid_t holder = ::fork();
            if (holder == 0)
                for (;;)
                    ::pause();
            const std::string text = std::to_string(holder) + "\n";
            if (::write(writer.get(), text.data(), text.size()) < 0)
                ::_exit(4);
            for (;;)
                ::pause();
        } catch (...) {
            ::_exit(3);
        }
    }
    writer.reset();
    const auto killRun = [&] {
        ::kill(run, SIGKILL);
        ::waitpid(run, nullptr, 0);
    };
    ASSERT_TRUE(DescriptorWait::readable({reader.get()}, std::chrono::seconds(20))[0]);
    char buffer[32] = {};
    const ssize_t got = ::read(reader.get(), buffer, sizeof buffer - 1);
    const pid_t holder = got > 1 ? static_cast<pid_t>(std::atoi(buffer)) : -1;
    if (holder <= 0)
        killRun();
    ASSERT_GT(holder, 0) << "the run could not open its engine";

    // While the run lives, its lock keeps every other engine out.
    EXPECT_EQ(thrownMessage([&] { open(); }), refused);
    killRun();
    // The copy still refers to the lock file after the run is gone.
    const fs::path lock = fs::canonical(root() / "engine.lock");
    bool copyHeld = false;
    std::error_code error;
    for (fs::directory_iterator item("/proc/" + std::to_string(holder) + "/fd", error), end;
         !error && item != end; item.increment(error))
        copyHeld = copyHeld || fs::read_symlink(item->path(), error) == lock;
    EXPECT_TRUE(copyHeld);
    EXPECT_EQ(thrownMessage([&] {
                  auto engine = open();
                  // And the relaunched engine keeps others out in turn.
                  const pid_t other = ::fork();
                  if (other == 0)
                      ::_exit(thrownMessage([&] { open(); }) == refused ? 0 : 1);
                  int status = -1;
                  ::waitpid(other, &status, 0);
                  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
              }),
              "");
    ::kill(holder, SIGKILL);
}

TEST_F(StackEngineTests, UnquotablePathsAreRefusedBeforeAnythingIsCreated) {
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da\nta"); }),
              "The data path must not contain a newline.");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da\rta"); }),
              "The data path must not contain a newline.");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da$ta"); }),
              "The data path must not contain a dollar sign.");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da;ta"); }),
              "The data path must not contain a semicolon.");
    EXPECT_FALSE(fs::exists(folder.path() / "da;ta"));
    // A link whose target has a dollar sign is caught after resolving.
    fs::create_directory(folder.path() / "pri$ce");
    fs::create_directory_symlink(folder.path() / "pri$ce", folder.path() / "plain");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "plain"); }),
              "The data path must not contain a dollar sign.");
    EXPECT_FALSE(fs::exists(folder.path() / "da$ta"));
    UserDefaults::standard()->set("Vessora.language", "de");
    EXPECT_EQ(thrownMessage([&] { open(folder.path() / "da$ta"); }),
              "Der Datenpfad darf kein Dollarzeichen enthalten.");
    EXPECT_TRUE(fs::is_empty(folder.path() / "pri$ce"));
}

TEST_F(StackEngineTests, UnsafeSocketFolderIsRefusedAndLeftAlone) {
    fs::create_directories(root());
    const fs::path sockets = StackEngine::socketDirectoryFor(fs::canonical(root()));
    socketFolders.push_back(sockets);
    fs::create_directory(sockets);
    ::chmod(sockets.c_str(), 0755);
    const std::string unsafe = "Unsafe socket directory: " + sockets.string();
    EXPECT_EQ(thrownMessage([&] { open(); }), unsafe);
    EXPECT_EQ(modeOf(sockets), 0755);

    // A link to a suitable folder is refused too: the link itself is judged.
    fs::remove(sockets);
    fs::create_directory(folder.path() / "target", folder.path());
    ::chmod((folder.path() / "target").c_str(), 0700);
    fs::create_directory_symlink(folder.path() / "target", sockets);
    EXPECT_EQ(thrownMessage([&] { open(); }), unsafe);
    EXPECT_TRUE(fs::is_symlink(sockets));

    // The failed engines released the lock.
    fs::remove(sockets);
    EXPECT_NO_THROW(open());
}

TEST_F(StackEngineTests, InterruptedDeletionIsFinishedOrUndoneAtConstruction) {
    std::vector<StackProfile> profiles;
    {
        auto engine = open();
        create(*engine, "Finished");
        create(*engine, "Undone");
        profiles = engine->allProfiles();
    }
    // Crash a deletion in a child process at a chosen step, then reopen.
    const auto crashAt = [&](const StackProfile& profile, JournalStep step) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            EnvironmentFiles files(fs::canonical(root()), [](const fs::path&) {});
            files.observeSteps([step](JournalStep reached) {
                if (reached == step)
                    ::_exit(0);
            });
            try {
                files.remove(profile, profiles);
            } catch (...) {
            }
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(WEXITSTATUS(status), 0);
    };
    const StackProfile finished = profiles[2];
    const StackProfile undone = profiles[3];
    crashAt(finished, JournalStep::recordsWritten);
    auto afterFirst = nlohmann::json::parse(PrivateFile::read(root() / "profiles.json"));
    ASSERT_EQ(afterFirst.size(), 3u);

    auto engine = open();
    EXPECT_THAT(idsOf(engine->allProfiles()), ElementsAre("studio", "legacy", undone.id));
    EXPECT_TRUE(fs::is_directory(trash() / finished.id / "public")); // handed to the trash
    EXPECT_FALSE(fs::exists(root() / finished.id));
    engine.reset();

    profiles = {profiles[0], profiles[1], undone};
    crashAt(undone, JournalStep::folderMoved);
    EXPECT_FALSE(fs::exists(root() / undone.id));
    engine = open();
    EXPECT_THAT(idsOf(engine->allProfiles()), ElementsAre("studio", "legacy", undone.id));
    EXPECT_TRUE(fs::is_directory(root() / undone.id / "public"));
}

// Create, update, delete

TEST_F(StackEngineTests, CreateStoresATrimmedRecordWithItsFolders) {
    auto engine = open();
    const StackProfile profile = create(*engine, "  Shop \n", std::string("  Shop.TEST "));
    EXPECT_THAT(profile.id, ::testing::MatchesRegex("env-[0-9a-f-]{36}"));
    EXPECT_EQ(profile.name, "Shop");
    EXPECT_EQ(profile.hostname, std::optional<std::string>("shop.test"));
    EXPECT_FALSE(profile.httpsPort);
    EXPECT_EQ(profile.projectSubdirectory, std::nullopt);
    EXPECT_EQ(engine->allProfiles().back(), profile);

    const fs::path home = root() / profile.id;
    for (const char* name : {"public", "config", "logs"})
        EXPECT_EQ(modeOf(home / name), 0700) << name;
    EXPECT_EQ(PrivateFile::read(home / "public/index.php"), Configuration::welcomePage());
    EXPECT_EQ(modeOf(home / "public/index.php"), 0600);
    const auto stored = nlohmann::json::parse(PrivateFile::read(root() / "profiles.json"));
    EXPECT_EQ(StackProfile::fromJSON(stored.back()), profile);

    // Ports are new; a blank hostname is none; local addresses off: no request.
    const StackProfile second = create(*engine, "Second", std::string("   "));
    EXPECT_EQ(second.hostname, std::nullopt);
    EXPECT_NE(second.httpPort, profile.httpPort);
    EXPECT_TRUE(helper->requests().empty());
    EXPECT_EQ(thrownMessage([&] { create(*engine, "shop"); }),
              "An environment named “shop” already exists.");
}

TEST_F(StackEngineTests, CreateWithCustomFolderOrHttps) {
    auto engine = open();
    fs::create_directory(folder.path() / "site");
    const StackProfile custom =
        create(*engine, "Custom", std::nullopt, false, (folder.path() / "site").string());
    EXPECT_TRUE(fs::is_directory(root() / custom.id / "public"));
    EXPECT_FALSE(fs::exists(root() / custom.id / "public/index.php"));

    const StackProfile secure = create(*engine, "Secure", std::string("secure.test"), true);
    ASSERT_TRUE(secure.httpsPort);
    EXPECT_GE(*secure.httpsPort, 8443);
    EXPECT_NO_THROW(engine->certificateInfo(secure.id));
    EXPECT_THROW(engine->certificateInfo(custom.id), std::exception);
    EXPECT_EQ(thrownMessage([&] { engine->certificateInfo("env-missing"); }),
              "Unknown environment.");
}

TEST_F(StackEngineTests, FailedCreateLeavesNoTrace) {
    auto engine = open();
    // The records file cannot be replaced: the new folder must go again.
    fs::remove(root() / "profiles.json");
    fs::create_directory(root() / "profiles.json");
    fs::create_directory(root() / "profiles.json" / "keep");
    EXPECT_NE(thrownMessage([&] { create(*engine, "Broken"); }), "");
    EXPECT_EQ(engine->allProfiles().size(), 2u);
    std::vector<std::string> folders;
    for (const auto& entry : fs::directory_iterator(root()))
        if (entry.path().filename().string().starts_with("env-"))
            folders.push_back(entry.path().filename());
    EXPECT_TRUE(folders.empty());
    // A refused web folder fails before anything is made, and busy was cleared.
    EXPECT_NE(
        thrownMessage([&] { create(*engine, "Nowhere", std::nullopt, false, "/no/such/dir"); }),
        "");
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

// A name whose grants could never be written is refused when it is chosen;
// a record that already holds one still loads and its start names why.
TEST_F(StackEngineTests, ANameTooLongForItsGrantsIsRefusedAndAStoredOneCannotStart) {
    const std::string grants = "This database name is too long for its access grants, which "
                               "count each underscore twice. Use at most 64 characters, "
                               "underscores counted twice.";
    const std::string name = "a_b_c_d_e_f_g_h_i_j_" + std::string(40, 'x');
    auto engine = open();
    EXPECT_EQ(thrownMessage([&] {
                  engine->create("Long", "php@8.4", "mariadb@11.4", false, "nginx", false,
                                 std::nullopt, name, std::nullopt, false, false);
              }),
              grants);
    EXPECT_EQ(engine->allProfiles().size(), 2u);

    StackProfile stored = create(*engine, "Stored");
    engine.reset();
    nlohmann::json records = nlohmann::json::parse(PrivateFile::read(root() / "profiles.json"));
    for (auto& record : records)
        if (record["id"] == stored.id)
            record["databaseName"] = name;
    PrivateFile::write(root() / "profiles.json", records.dump());
    engine = open();
    const auto profiles = engine->allProfiles();
    EXPECT_EQ(std::find_if(profiles.begin(), profiles.end(),
                           [&](const StackProfile& p) { return p.id == stored.id; })
                  ->databaseName,
              name);
    EXPECT_EQ(thrownMessage([&] { engine->start(stored.id); }), grants);
    EXPECT_EQ(engine->statuses().at(stored.id).description, grants);
}

TEST_F(StackEngineTests, UpdateRules) {
    auto engine = open();
    StackProfile profile = create(*engine, "Shop", std::string("shop.test"), true);
    const auto before = engine->certificateInfo(profile.id);

    StackProfile renamed = profile;
    renamed.databaseName = "other";
    EXPECT_EQ(thrownMessage([&] { engine->update(renamed); }),
              "The database name is fixed after creation. Import into a new environment to use "
              "another name.");

    renamed = profile;
    renamed.name = "  Shop two ";
    engine->update(renamed);
    EXPECT_EQ(engine->allProfiles().back().name, "Shop two");
    // Same hostname, HTTPS still on: the certificate stays.
    EXPECT_EQ(engine->certificateInfo(profile.id).fingerprint, before.fingerprint);

    renamed.hostname = " Store.TEST";
    engine->update(renamed);
    EXPECT_EQ(engine->allProfiles().back().hostname, std::optional<std::string>("store.test"));
    EXPECT_NE(engine->certificateInfo(profile.id).fingerprint, before.fingerprint);

    // An invalid list leaves memory and disk unchanged.
    const std::string records = PrivateFile::read(root() / "profiles.json");
    StackProfile clash = engine->allProfiles().back();
    clash.name = "Studio";
    EXPECT_EQ(thrownMessage([&] { engine->update(clash); }),
              "An environment named “Studio” already exists.");
    EXPECT_EQ(PrivateFile::read(root() / "profiles.json"), records);

    StackProfile unknown = profile;
    unknown.id = "env-00000000-0000-4000-8000-000000000000";
    EXPECT_EQ(thrownMessage([&] { engine->update(unknown); }), "Unknown environment.");

    StackEngineTesting::addProcess(*engine, profile.id, sleeper("MariaDB"));
    clash.name = "Only the name";
    EXPECT_EQ(thrownMessage([&] { engine->update(clash); }),
              "Stop the environment before changing its settings.");
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(profile.id); }),
              "Stop the environment before changing its settings.");
    StackEngineTesting::stopProcesses(*engine, profile.id);
}

// HTTPS off, then on again after the identity stopped fitting: the save
// makes a new one (the old kept beside it) that the start's check accepts.
class StackEngineHttpsSaveTests : public StackEngineTests {
protected:
    void SetUp() override {
        StackEngineTests::SetUp();
        engine = open();
        profile = create(*engine, "Shop", std::string("a.test"), true);
        // Every save with HTTPS on checks its port: one outside the bases
        // the engine allocates from, which servers of other tests may take.
        profile.httpsPort = freePorts(1).at(0);
        engine->update(profile);
    }

    StackPaths paths() const { return StackPaths(engine->root(), profile); }
    std::string save(const std::function<void(StackProfile&)>& change) {
        change(profile);
        return thrownMessage([&] { engine->update(profile); });
    }
    std::string startCheck() const {
        return thrownMessage([&] { LocalHTTPS::prepare(paths(), false); });
    }
    std::string fingerprint() const { return engine->certificateInfo(profile.id).fingerprint; }
    std::size_t backups() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(paths().tls()))
            count += entry.path().filename().string().starts_with("previous-") ? 1 : 0;
        return count;
    }

    std::unique_ptr<StackEngine> engine;
    StackProfile profile;
};

TEST_F(StackEngineHttpsSaveTests, HostnameChangedWhileHttpsWasOff) {
    const std::string before = fingerprint();
    EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = false; }), "");
    EXPECT_EQ(save([](StackProfile& p) { p.hostname = "b.test"; }), "");
    EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = true; }), "");
    EXPECT_EQ(startCheck(), "");
    EXPECT_NE(fingerprint(), before);
    EXPECT_EQ(backups(), 1u);
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(profile.id); }), "");
}

TEST_F(StackEngineHttpsSaveTests, ExpiredIdentity) {
    // Expired while HTTPS was off.
    EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = false; }), "");
    expireIdentity(paths(), folder.path());
    std::string before = fingerprint();
    EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = true; }), "");
    EXPECT_EQ(startCheck(), "");
    EXPECT_NE(fingerprint(), before);
    EXPECT_EQ(backups(), 1u);

    // Expired with HTTPS on: any save replaces it.
    expireIdentity(paths(), folder.path());
    before = fingerprint();
    EXPECT_EQ(save([](StackProfile& p) { p.name = "Shop two"; }), "");
    EXPECT_EQ(startCheck(), "");
    EXPECT_NE(fingerprint(), before);
    EXPECT_EQ(backups(), 2u);
}

TEST_F(StackEngineHttpsSaveTests, AValidIdentityIsKeptWhenHttpsIsTurnedBackOn) {
    const std::string before = fingerprint();
    EXPECT_EQ(save([](StackProfile& p) { p.name = "Shop two"; }), "");
    EXPECT_EQ(fingerprint(), before);
    EXPECT_EQ(backups(), 0u);

    for (int toggle = 0; toggle < 2; ++toggle) {
        EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = false; }), "");
        EXPECT_EQ(save([](StackProfile& p) { p.httpsEnabled = true; }), "");
        EXPECT_EQ(fingerprint(), before);
        EXPECT_EQ(backups(), 0u);
    }
}

// The rule every save and renewal keeps, walked over a seeded random
// sequence: an identity that passes every check (complete, key matching,
// current, made for the record's names) is replaced only by a hostname
// change or a renewal; one that fails a check is replaced by the next save
// with HTTPS on. Each replacement keeps the replaced set in one new
// previous- folder, and nothing else adds one.
TEST_F(StackEngineHttpsSaveTests, AGoodIdentityIsReplacedOnlyByAHostnameChangeOrARenewal) {
    // An identity made for a name the walk never gives the record.
    StackProfile stranger = profile;
    stranger.hostname = "other.test";
    const StackPaths spare(folder.path() / "spare", stranger);
    LocalHTTPS::prepare(spare, false);

    struct Disk {
        bool present = true;
        bool failing = false; // expired or incomplete
        std::optional<std::string> madeFor;
        std::size_t backups = 0;
        bool passes(const std::optional<std::string>& hostname) const {
            return present && !failing && (!hostname || madeFor == hostname);
        }
    };
    Disk disk{true, false, profile.hostname, 0};

    struct Damage {
        std::string name;
        std::function<void()> apply;
        std::function<void(Disk&)> effect;
    };
    const auto fails = [](Disk& d) { d.failing = true; };
    const auto copyFromSpare = [&](const fs::path& from, const fs::path& to) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    };
    const std::vector<Damage> damages{
        {"expired", [&] { expireIdentity(paths(), folder.path()); }, fails},
        {"no DER file", [&] { fs::remove(paths().tlsImportCertificate()); }, fails},
        {"empty key", [&] { PrivateFile::write(paths().tlsPrivateKey(), ""); }, fails},
        {"empty certificate", [&] { PrivateFile::write(paths().tlsCertificate(), ""); }, fails},
        {"another identity's key",
         [&] { copyFromSpare(spare.tlsPrivateKey(), paths().tlsPrivateKey()); }, fails},
        {"made for other.test",
         [&] {
             copyFromSpare(spare.tlsPrivateKey(), paths().tlsPrivateKey());
             copyFromSpare(spare.tlsCertificate(), paths().tlsCertificate());
             copyFromSpare(spare.tlsImportCertificate(), paths().tlsImportCertificate());
         },
         [](Disk& d) { d.madeFor = "other.test"; }},
        {"no identity", [&] { fs::remove_all(paths().tlsIdentity()); },
         [](Disk& d) { d.present = false; }},
    };
    const std::vector<std::string> names{"a.test", "b.test", "c.test"};
    // A folder's files by name, each as a short digest of its bytes.
    const auto filesIn = [](const fs::path& at) {
        std::map<std::string, std::string> files;
        for (const auto& [name, content] : snapshotFolder(at))
            files[name] = Sha256::hex(content, 8);
        return files;
    };

    // mt19937 gives the same numbers everywhere; this seed's walk reaches
    // every case checked at the end.
    std::mt19937 random(1);
    std::set<std::string> damagesSeen;
    std::set<std::string> savesSeen;
    std::string walk;
    for (int step = 0; step < 64; ++step) {
        std::string trace = "step " + std::to_string(step) + ": ";
        if (disk.present && !disk.failing && random() % 5 < 2) {
            const Damage& damage = damages.at(random() % damages.size());
            damage.apply();
            damage.effect(disk);
            damagesSeen.insert(damage.name);
            trace += damage.name + ", then ";
        }
        const auto before = filesIn(paths().tlsIdentity());
        bool replaced = false;
        const unsigned action = random() % 7;
        if (action == 6) {
            const bool on = profile.httpsEnabled;
            const std::string kind = on ? "renewal" : "renewal with HTTPS off";
            trace += kind;
            savesSeen.insert(kind);
            const std::string message =
                thrownMessage([&] { engine->renewCertificate(profile.id); });
            EXPECT_EQ(message, on ? "" : "Enable local HTTPS and save the environment first.")
                << walk << trace;
            replaced = on;
        } else {
            const bool on = action < 3;
            const std::optional<std::string> stored = profile.hostname;
            std::optional<std::string> hostname = stored;
            if (action % 3 == 1) {
                do
                    hostname = names.at(random() % names.size());
                while (hostname == stored);
            } else if (action % 3 == 2) {
                hostname = std::nullopt;
            }
            const bool passed = disk.passes(hostname);
            trace += std::string(profile.httpsEnabled ? "on" : "off") + " -> " +
                     (on ? "on" : "off") + ", hostname " + stored.value_or("(none)") + " -> " +
                     hostname.value_or("(none)");
            if (on) {
                savesSeen.insert(std::string(profile.httpsEnabled ? "on" : "off") + " -> on, " +
                                 (hostname == stored ? "same name, " : "new name, ") +
                                 (passed ? "passing" : "failing"));
            }
            EXPECT_EQ(save([&](StackProfile& p) {
                          p.httpsEnabled = on;
                          p.hostname = hostname;
                      }),
                      "")
                << walk << trace;
            replaced = on && (hostname != stored || !passed);
        }
        walk += trace + (replaced ? " (replaced)\n" : " (kept)\n");

        if (replaced) {
            if (disk.present)
                ++disk.backups;
            disk = Disk{true, false, profile.hostname, disk.backups};
            // A new certificate, so a new fingerprint, that the start accepts.
            const auto after = filesIn(paths().tlsIdentity());
            EXPECT_NE(after.at("localhost.cer"),
                      before.contains("localhost.cer") ? before.at("localhost.cer") : "")
                << walk;
            EXPECT_NE(after.at("localhost.key"),
                      before.contains("localhost.key") ? before.at("localhost.key") : "")
                << walk;
            EXPECT_EQ(startCheck(), "") << walk;
        } else {
            EXPECT_EQ(filesIn(paths().tlsIdentity()), before) << walk;
        }
        // One more previous- folder per replaced identity, holding it whole;
        // no other folder beside the identity.
        std::size_t holdingBefore = 0;
        std::size_t others = 0;
        for (const auto& entry : fs::directory_iterator(paths().tls())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("previous-"))
                holdingBefore += filesIn(entry.path()) == before ? 1 : 0;
            else if (name != "identity")
                ++others;
        }
        EXPECT_EQ(backups(), disk.backups) << walk;
        EXPECT_EQ(others, 0u) << walk;
        if (replaced && !before.empty()) {
            EXPECT_GE(holdingBefore, 1u) << walk;
        }
        if (::testing::Test::HasFailure())
            break;
    }

    // The walk reached every kind of damage and every kind of save.
    EXPECT_EQ(damagesSeen.size(), damages.size()) << walk;
    for (const char* from : {"on", "off"})
        for (const char* name : {"same name", "new name"})
            for (const char* identity : {"passing", "failing"})
                EXPECT_TRUE(
                    savesSeen.contains(std::string(from) + " -> on, " + name + ", " + identity))
                    << from << " " << name << " " << identity << "\n"
                    << walk;
    EXPECT_TRUE(savesSeen.contains("renewal")) << walk;
    EXPECT_TRUE(savesSeen.contains("renewal with HTTPS off")) << walk;
}

TEST_F(StackEngineTests, DeleteStopsThenRemovesEverything) {
    auto engine = open();
    const StackProfile first = create(*engine, "First", std::string("first.test"));
    const StackProfile second = create(*engine, "Second");
    auto process = sleeper("MariaDB");
    StackEngineTesting::addProcess(*engine, first.id, process);
    StackEngineTesting::setFailure(*engine, first.id, "old failure");
    PrivateFile::write(engine->socketDirectory() / (first.id + ".sock"), "");
    engine->configureLocalHosts(true);

    engine->remove(first.id);
    EXPECT_FALSE(process->isRunning());
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, first.id));
    EXPECT_FALSE(StackEngineTesting::hasFailure(*engine, first.id));
    EXPECT_FALSE(fs::exists(engine->socketDirectory() / (first.id + ".sock")));
    EXPECT_FALSE(fs::exists(root() / first.id));
    EXPECT_TRUE(fs::is_directory(trash() / first.id / "public"));
    EXPECT_THAT(idsOf(engine->allProfiles()), ElementsAre("studio", "legacy", second.id));
    const auto stored = nlohmann::json::parse(PrivateFile::read(root() / "profiles.json"));
    EXPECT_EQ(stored.size(), 3u);
    // Switch-on, then the delete: the second request no longer names it.
    const auto requests = helper->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_THAT(requests[0].hostnames, ElementsAre("first.test"));
    EXPECT_TRUE(requests[1].hostnames.empty());

    EXPECT_EQ(thrownMessage([&] { engine->remove(first.id); }), "Unknown environment.");
    // Freed ports may be used again.
    const StackProfile third = create(*engine, "Third");
    EXPECT_EQ(third.httpPort, first.httpPort);
}

TEST_F(StackEngineTests, AFolderLeftInTheDeletionJournalIsNotWrittenUntilTheNextLaunch) {
    auto engine = open();
    const StackProfile profile = create(*engine, "Kept", std::string("kept.test"), true);
    // What a delete leaves when its undo could not move the folder back: the
    // record still listed, the folder in the journal.
    const fs::path entry = root() / ".pending-deletions" / profile.id;
    fs::create_directory(entry.parent_path());
    fs::rename(root() / profile.id, entry);
    const FolderSnapshot preserved = snapshotFolder(entry);
    const std::string records = PrivateFile::read(root() / "profiles.json");

    const std::string pending = "A previous deletion is still pending. Restart Vessora.";
    StackProfile renamed = profile;
    renamed.name = "Renamed";
    EXPECT_EQ(thrownMessage([&] { engine->start(profile.id); }), pending);
    EXPECT_EQ(thrownMessage([&] { engine->update(renamed); }), pending);
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(profile.id); }), pending);
    EXPECT_EQ(thrownMessage([&] { engine->setDatabasePassword(profile.id, "secret"); }), pending);
    EXPECT_EQ(thrownMessage([&] { engine->databaseCredentials(profile.id); }), pending);
    EXPECT_EQ(thrownMessage([&] { engine->remove(profile.id); }), pending);
    // No new, empty folder beside the preserved one.
    EXPECT_FALSE(fs::exists(fs::symlink_status(root() / profile.id)));
    EXPECT_EQ(snapshotFolder(entry), preserved);
    EXPECT_EQ(PrivateFile::read(root() / "profiles.json"), records);
    EXPECT_EQ(engine->allProfiles().back(), profile);
    EXPECT_FALSE(StackEngineTesting::busy(*engine));

    // The next launch moves it back; then it is the user's to change again.
    engine.reset();
    engine = open();
    EXPECT_EQ(snapshotFolder(root() / profile.id), preserved);
    engine->update(renamed);
    EXPECT_EQ(engine->allProfiles().back().name, "Renamed");
}

TEST_F(StackEngineTests, ADeletionTheTrashCannotTakeStopsTheLaunchNamingTheFolderToMoveOut) {
    if (!onDifferentFileSystems("/dev/shm", folder.path()))
        GTEST_SKIP() << "no second file system for the data root";
    // The user's data folder is a link to another file system than the one
    // their Trash is on; deleted folders go to that Trash, as by default.
    const TemporaryFolder other("vessora-engine", "/dev/shm");
    const fs::path data = other.path() / "data";
    const fs::path dataHome = folder.path() / "data-home";
    fs::create_directories(data);
    fs::create_directories(dataHome);
    fs::create_directory_symlink(data, dataHome / "Vessora");
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> savedHome =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    struct Restore {
        std::optional<std::string> home;
        ~Restore() {
            home ? ::setenv("XDG_DATA_HOME", home->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
        }
    } restore{savedHome};
    auto options =
        StackEngineTesting::quickOptions(StackEngine::defaultRoot(), brew.brew(), helper);
    auto engine = std::make_unique<StackEngine>(options);
    socketFolders.push_back(engine->socketDirectory());
    const StackProfile profile = create(*engine, "Elsewhere");
    // Named where the folder really is.
    const fs::path entry = fs::canonical(data) / ".pending-deletions" / profile.id;

    // A delete there is refused and undone.
    const FolderSnapshot before = snapshotFolder(data / profile.id);
    EXPECT_EQ(thrownMessage([&] { engine->remove(profile.id); }),
              "The environment was not deleted: Could not move " + entry.string() +
                  " to the Trash because it is on another file system.");
    FolderSnapshot back = snapshotFolder(data / profile.id);
    back.erase("vessora-environment.json");
    EXPECT_EQ(back, before);
    engine.reset();

    // A run killed right after the records change left the folder in the
    // journal: every launch names it and says how to get out.
    EnvironmentFiles(data).persist(StackProfile::defaults(), data / "profiles.json");
    fs::rename(data / profile.id, entry);
    const FolderSnapshot preserved = snapshotFolder(entry);
    const std::string refused =
        "Deletion and recovery failed: Could not move " + entry.string() +
        " to the Trash because it is on another file system. Move the folder " + entry.string() +
        " out of “.pending-deletions” or remove it, then restart Vessora.";
    EXPECT_EQ(thrownMessage([&] { StackEngine refusedEngine(options); }), refused);
    EXPECT_EQ(thrownMessage([&] { StackEngine refusedEngine(options); }), refused);
    EXPECT_EQ(snapshotFolder(entry), preserved);
    EXPECT_TRUE(snapshotFolder(dataHome / "Trash/files").empty());

    // Doing what it says opens the data folder, without the environment.
    fs::rename(entry, other.path() / "kept");
    engine = std::make_unique<StackEngine>(options);
    EXPECT_THAT(idsOf(engine->allProfiles()), ElementsAre("studio", "legacy"));
    EXPECT_EQ(snapshotFolder(other.path() / "kept"), preserved);
}

TEST_F(StackEngineTests, HelperFailureAfterAChangeKeepsTheChange) {
    auto engine = open();
    engine->configureLocalHosts(true);
    helper->fail("Could not lock the hosts file.");
    EXPECT_EQ(thrownMessage([&] { create(*engine, "Kept", std::string("kept.test")); }),
              "Could not lock the hosts file.");
    ASSERT_EQ(engine->allProfiles().size(), 3u);
    const StackProfile kept = engine->allProfiles().back();
    EXPECT_EQ(kept.hostname, std::optional<std::string>("kept.test"));
    StackEngineTesting::setFailure(*engine, kept.id, "old");
    EXPECT_EQ(thrownMessage([&] { engine->remove(kept.id); }), "Could not lock the hosts file.");
    EXPECT_EQ(engine->allProfiles().size(), 2u);
    // The helper error skipped the last steps of the delete.
    EXPECT_TRUE(StackEngineTesting::hasFailure(*engine, kept.id));
}

// Local addresses and certificates

TEST_F(StackEngineTests, LocalAddressSwitch) {
    auto engine = open();
    EXPECT_FALSE(engine->localHostConnected());
    engine->configureLocalHosts(true);
    ASSERT_EQ(helper->requests().size(), 1u);
    EXPECT_EQ(helper->requests()[0], HostServiceRequest({}, false));
    EXPECT_TRUE(engine->localHostConnected());
    helper->setConnected(false);
    EXPECT_FALSE(engine->localHostConnected());

    StackProfile named = create(*engine, "Named", std::string("named.test"));
    EXPECT_THAT(helper->requests().back().hostnames, ElementsAre("named.test"));
    EXPECT_FALSE(helper->requests().back().standardPorts);
    named.hostname = "renamed.test";
    engine->update(named);
    EXPECT_THAT(helper->requests().back().hostnames, ElementsAre("renamed.test"));
    EXPECT_EQ(helper->requests().size(), 3u);

    // Switching off is refused while a named environment holds processes.
    StackEngineTesting::addProcess(*engine, named.id, sleeper("MariaDB"));
    const auto sent = helper->requests().size();
    EXPECT_EQ(thrownMessage([&] { engine->configureLocalHosts(false); }),
              "Stop environments with hostnames before removing local host setup.");
    EXPECT_EQ(helper->requests().size(), sent);
    StackEngineTesting::stopProcesses(*engine, named.id);

    // A failed switch-off keeps local addresses on and the connection.
    helper->fail("Could not connect to local host setup.");
    EXPECT_NE(thrownMessage([&] { engine->configureLocalHosts(false); }), "");
    EXPECT_TRUE(StackEngineTesting::localHostsEnabled(*engine));
    EXPECT_EQ(helper->closed(), 0);

    helper->fail(std::nullopt);
    engine->configureLocalHosts(false);
    EXPECT_EQ(helper->requests().back(), HostServiceRequest({}, false));
    EXPECT_EQ(helper->closed(), 1);
    EXPECT_FALSE(StackEngineTesting::localHostsEnabled(*engine));
    helper->setConnected(true);
    EXPECT_FALSE(engine->localHostConnected());

    // A failed switch-on leaves local addresses off.
    helper->fail("Ports 80 or 443 are unavailable.");
    EXPECT_NE(thrownMessage([&] { engine->configureLocalHosts(true); }), "");
    EXPECT_FALSE(StackEngineTesting::localHostsEnabled(*engine));
}

TEST_F(StackEngineTests, HostRequestAndRouterSetFollowTheProcessTable) {
    auto engine = open();
    const StackProfile routed =
        engine->create("Routed", "php@8.4", "mariadb@11.4", false, "nginx", false, std::nullopt,
                       "app", std::string("routed.test"), true, true);
    // Three processes of a standard-ports environment, but no router yet.
    for (const char* service : {"MariaDB", "PHP", "nginx"})
        StackEngineTesting::addProcess(*engine, routed.id, sleeper(service));
    EXPECT_FALSE(StackEngineTesting::hostRequest(*engine).standardPorts);
    EXPECT_THAT(StackEngineTesting::hostRequest(*engine).hostnames, ElementsAre("routed.test"));

    // Excluding the only routed environment leaves an empty set: the router
    // is stopped and nginx is never looked up.
    StackEngineTesting::syncRouter(*engine, routed.id);
    EXPECT_FALSE(StackEngineTesting::router(*engine).isRunning());
    EXPECT_TRUE(brew.calls().empty());
    // With it, the nginx prefix is asked for (the stand-in knows none here).
    EXPECT_NE(thrownMessage([&] { StackEngineTesting::syncRouter(*engine, std::nullopt); }), "");
    ASSERT_FALSE(brew.calls().empty());
    EXPECT_EQ(brew.calls().back()["args"].back(), "homebrew/core/nginx");
    StackEngineTesting::stopProcesses(*engine, routed.id);
}

TEST_F(StackEngineTests, RenewCertificate) {
    auto engine = open();
    const StackProfile plain = create(*engine, "Plain");
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(plain.id); }),
              "Enable local HTTPS and save the environment first.");
    const StackProfile secure = create(*engine, "Secure", std::nullopt, true);
    const auto before = engine->certificateInfo(secure.id);
    engine->renewCertificate(secure.id);
    EXPECT_NE(engine->certificateInfo(secure.id).fingerprint, before.fingerprint);
}

// Installation through the Homebrew stand-in

TEST_F(StackEngineTests, InstallAsksBrewOnlyForWhatIsMissing) {
    brew.setState({{"formulae",
                    {{"php", BrewStandIn::formula("8.4.7", {"8.4.7"}, {"php@8.4"}, {"php@8.3"})},
                     {"php@8.3", BrewStandIn::formula("8.3.20")},
                     {"mariadb", BrewStandIn::formula("11.4.5", {"11.4.5"}, {"mariadb@11.4"}, {})},
                     {"nginx", BrewStandIn::formula("1.27.4", {"1.27.4"})},
                     {"httpd", BrewStandIn::formula("2.4.63")},
                     {"phpmyadmin", BrewStandIn::formula("5.2.2")}}}});
    auto engine = open();
    const StackProfile profile =
        engine->create("Shop", "php@8.3", "mariadb@11.4", false, "nginx", false, std::nullopt,
                       "app", std::nullopt, false, false);
    engine->install(profile.id);
    std::vector<std::vector<std::string>> installs;
    for (const auto& call : brew.calls())
        if (call["args"][0] == "install")
            installs.push_back(call["args"].get<std::vector<std::string>>());
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_THAT(installs[0], ElementsAre("install", "homebrew/core/php@8.3"));
    EXPECT_TRUE(fs::exists(root() / "logs/homebrew-install.log"));

    // Now everything is there: no further install runs.
    const auto calls = brew.calls().size();
    engine->install(profile.id);
    for (std::size_t index = calls; index < brew.calls().size(); ++index)
        EXPECT_NE(brew.calls()[index]["args"][0], "install");

    StackEngineTesting::addProcess(*engine, "studio", sleeper("MariaDB"));
    EXPECT_EQ(thrownMessage([&] { engine->install(profile.id); }),
              "Stop all environments before installing packages.");
    StackEngineTesting::stopProcesses(*engine, "studio");
    EXPECT_EQ(thrownMessage([&] { engine->install("nope"); }), "Unknown environment.");

    auto state = brew.state();
    state["knobs"]["install_fails"] = true;
    state["formulae"]["nginx"]["installed"] = nlohmann::json::array();
    brew.setState(state);
    EXPECT_THAT(thrownMessage([&] { engine->install(profile.id); }),
                HasSubstr("stand-in install failure"));
    // The install log is shared: a failure that writes nothing to it reports
    // nothing of the one before.
    state["knobs"]["install_fails"] = false;
    state["knobs"]["install_fails_silently"] = true;
    brew.setState(state);
    EXPECT_EQ(thrownMessage([&] { engine->install(profile.id); }), "brew failed (1):\n");
    EXPECT_THAT(PrivateFile::read(root() / "logs/homebrew-install.log"),
                HasSubstr("stand-in install failure"));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

TEST_F(StackEngineTests, InstallReportsBrewsRefusalAndMarksNothingInstalled) {
    auto unavailable = [](nlohmann::json formula) {
        formula["unavailable"] = "not available from Debian's packages on this machine.";
        return formula;
    };
    brew.setState(
        {{"formulae",
          {{"php", unavailable(BrewStandIn::formula("8.4.7", {}, {"php@8.4"}, {"php@8.2"}))},
           {"php@8.2", BrewStandIn::formula("8.2.28", {"8.2.28"})},
           {"mariadb", BrewStandIn::formula("11.8.2", {}, {"mariadb@11.8"}, {"mariadb@11.4"})},
           {"mariadb@11.4", unavailable(BrewStandIn::formula("11.4.5"))},
           {"nginx", BrewStandIn::formula("1.27.4", {"1.27.4"})},
           {"httpd", BrewStandIn::formula("2.4.63")},
           {"phpmyadmin", BrewStandIn::formula("5.2.2")}}}});
    auto engine = open();
    const StackProfile profile = create(*engine, "Shop"); // php@8.4, mariadb@11.4

    const std::string message = thrownMessage([&] { engine->install(profile.id); });
    EXPECT_THAT(message, HasSubstr("brew failed (1):"));
    EXPECT_THAT(message, HasSubstr("Error: php@8.4: not available from Debian's packages"));
    EXPECT_THAT(message, HasSubstr("Error: mariadb@11.4: not available from Debian's packages"));
    const InstallationStatus status = engine->installations();
    EXPECT_FALSE(status.installed.at("php@8.4"));
    EXPECT_FALSE(status.installed.at("mariadb@11.4"));
    EXPECT_FALSE(status.ready(profile));
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
}

// Concurrency

TEST_F(StackEngineTests, ReadsAreServedWhileAnOperationWaitsAndOthersAreRefused) {
    auto engine = open();
    const StackProfile secure = create(*engine, "Secure", std::nullopt, true);
    helper->hold();
    auto waiting = std::async(std::launch::async, [&] { engine->configureLocalHosts(true); });
    ASSERT_TRUE(helper->waitUntilHeld());

    // Always served, without waiting for the held operation.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->allProfiles().size(), 3u);
    EXPECT_NO_THROW(engine->certificateInfo(secure.id));
    EXPECT_FALSE(engine->localHostConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Every guarded operation is refused, and the running one stays busy.
    EXPECT_EQ(thrownMessage([&] { create(*engine, "Later"); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->update(secure); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->remove(secure.id); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->install(secure.id); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(secure.id); }), busyText);
    EXPECT_EQ(thrownMessage([&] { engine->configureLocalHosts(false); }), busyText);
    EXPECT_TRUE(StackEngineTesting::busy(*engine));

    helper->release();
    waiting.get();
    EXPECT_FALSE(StackEngineTesting::busy(*engine));
    EXPECT_TRUE(engine->localHostConnected());
    EXPECT_NO_THROW(create(*engine, "Later"));
}

// Preparation, passwords and SQL

TEST_F(StackEngineTests, PrepareWritesEveryFolderAndFilePrivately) {
    auto engine = open();
    StackProfile profile = engine->create("Admin", "php@8.4", "mariadb@11.4", true, "nginx", false,
                                          std::nullopt, "app", std::nullopt, false, false);
    const StackPaths paths(engine->root(), profile);
    const std::string password =
        StackEngineTesting::prepare(*engine, paths, "/opt/db", "/opt/web", "TOKEN");
    const fs::path home = paths.directory();
    for (const char* name :
         {"config", "config/ini.d", "logs", "public", "tools/health", "data/mariadb@11.4",
          "tmp/client", "tmp/fastcgi", "tmp/sessions", "tmp/uploads", "tmp/apache",
          "tmp/phpmyadmin/cache", "tmp/phpmyadmin/sessions"})
        EXPECT_EQ(modeOf(home / name), 0700) << name;
    EXPECT_THAT(password, ::testing::MatchesRegex("[0-9A-F]{32}"));
    EXPECT_EQ(PrivateFile::read(home / "config/database-password"), password);
    for (const fs::path& file :
         {paths.phpConfig(), paths.fpmConfig(), paths.nginxConfig(), paths.databaseConfig(),
          home / "config/probe.php", paths.healthScript(), home / "config/database-password"})
        EXPECT_EQ(modeOf(file), 0600) << file;
    EXPECT_FALSE(fs::exists(paths.apacheConfig()));
    EXPECT_THAT(PrivateFile::read(paths.databaseConfig()),
                HasSubstr(engine->socketDirectory().string() + "/" + profile.id + ".sock"));
    EXPECT_THAT(PrivateFile::read(home / "config/probe.php"), HasSubstr("TOKEN"));

    // Switching to httpd keeps the old nginx file; the password is reused;
    // a looser mode on an old file is not kept.
    ::chmod(paths.phpConfig().c_str(), 0644);
    const std::string nginx = PrivateFile::read(paths.nginxConfig());
    profile.webserver = "httpd";
    const StackPaths apache(engine->root(), profile);
    EXPECT_EQ(StackEngineTesting::prepare(*engine, apache, "/opt/db", "/opt/web", "T2"), password);
    EXPECT_EQ(modeOf(apache.apacheConfig()), 0600);
    EXPECT_EQ(modeOf(paths.phpConfig()), 0600);
    EXPECT_EQ(PrivateFile::read(paths.nginxConfig()), nginx);
}

TEST_F(StackEngineTests, PasswordFileRules) {
    auto engine = open();
    const StackPaths paths(engine->root(), engine->allProfiles()[0]);
    fs::create_directories(paths.config());
    const fs::path stored = paths.config() / "database-password";
    const std::string refusal =
        "Use a nonempty database password of up to 256 UTF-8 bytes, without control characters.";
    PrivateFile::write(stored, std::string(256, 'x'));
    EXPECT_EQ(StackEngineTesting::applicationPassword(*engine, paths), std::string(256, 'x'));
    for (const std::string& bad : {std::string(257, 'x'), std::string(), std::string("a\tb"),
                                   std::string("secret\n"), std::string("a\u200Bb")}) {
        PrivateFile::write(stored, bad);
        EXPECT_EQ(thrownMessage([&] { StackEngineTesting::applicationPassword(*engine, paths); }),
                  refusal);
        EXPECT_EQ(PrivateFile::read(stored), bad);
    }

    const fs::path admin = paths.config() / "phpmyadmin-password";
    const std::string generated = StackEngineTesting::localPassword(*engine, admin);
    EXPECT_THAT(generated, ::testing::MatchesRegex("[0-9A-F]{32}"));
    EXPECT_EQ(modeOf(admin), 0600);
    EXPECT_EQ(StackEngineTesting::localPassword(*engine, admin), generated);
    PrivateFile::write(admin, std::string(32, 'a'));
    EXPECT_EQ(StackEngineTesting::localPassword(*engine, admin), std::string(32, 'a'));
    PrivateFile::write(admin, std::string(32, 'a') + "\n");
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::localPassword(*engine, admin); }),
              "Invalid local database credentials.");
}

TEST_F(StackEngineTests, SqlRunsTheClientOverTheSocketWithTheTextOnStandardInput) {
    auto engine = open();
    const StackProfile profile = engine->allProfiles()[0];
    const fs::path prefix = folder.path() / "prefix";
    fs::create_directories(prefix / "bin");
    // A client that echoes its arguments and input, and fails on "FAIL".
    PrivateFile::writeWithMode(prefix / "bin/mariadb",
                               "#!/bin/sh\nfor a in \"$@\"; do echo \"arg:$a\"; done\n"
                               "input=$(cat)\necho \"in:$input\"\n"
                               "[ \"$input\" = FAIL ] && exit 3\nexit 0\n",
                               0700);
    const std::string output = StackEngineTesting::sql(*engine, profile, prefix, "SELECT 1", false);
    const std::string socket = (engine->socketDirectory() / "studio.sock").string();
    EXPECT_EQ(output, "arg:--no-defaults\narg:--protocol=socket\narg:--socket=" + socket +
                          "\narg:--user=" + StackEngineTesting::loginName() +
                          "\narg:--default-character-set=utf8mb4\narg:--connect-timeout=2\n"
                          "arg:--batch\narg:--skip-column-names\nin:SELECT 1\n");
    EXPECT_THAT(
        thrownMessage([&] { StackEngineTesting::sql(*engine, profile, prefix, "FAIL", false); }),
        ::testing::StartsWith("mariadb failed (3):\n"));
    EXPECT_EQ(
        thrownMessage([&] { StackEngineTesting::sql(*engine, profile, prefix, "FAIL", true); }),
        "Could not configure database credentials. The environment has been stopped.");
}

// The dump's client runs in sandbox and binary mode: either alone would
// still let some client command in a dump through. Its words go to the
// environment's import log, which the failure names by its first error line.
TEST_F(StackEngineTests, TheDumpClientRunsSandboxedInBinaryModeIntoTheImportLog) {
    auto engine = open();
    const StackProfile profile = engine->allProfiles()[0];
    const StackPaths paths(engine->root(), profile);
    const fs::path prefix = folder.path() / "prefix";
    fs::create_directories(prefix / "bin");
    const fs::path arguments = folder.path() / "import-arguments";
    // The SQL runner's calls answer the settings read; the import's call
    // records its arguments and fails as the server would.
    PrivateFile::writeWithMode(prefix / "bin/mariadb",
                               R"(#!/bin/sh
cat > /dev/null
if [ "$1" = --no-defaults ]; then printf '134217728\t1\n'; exit 0; fi
for a in "$@"; do echo "$a"; done > ")" +
                                   arguments.string() +
                                   R"("
echo "ERROR 1146 (42S02) at line 7: Table 'app.t' doesn't exist" >&2
exit 1
)",
                               0700);
    const fs::path dump = folder.path() / "dump.sql";
    PrivateFile::write(dump, "SELECT 1;\n");
    PrivateFile::createDirectories(paths.config());
    const std::string message = thrownMessage(
        [&] { StackEngineTesting::importDatabase(*engine, paths, prefix, dump, "secret"); });
    EXPECT_THAT(message, ::testing::StartsWith("SQL import failed (ERROR 1146 (42S02) at line 7: "
                                               "Table 'app.t' doesn't exist). "));
    const std::string given = PrivateFile::read(arguments);
    EXPECT_THAT(given, ::testing::HasSubstr("\n--sandbox\n"));
    EXPECT_THAT(given, ::testing::HasSubstr("\n--binary-mode\n"));
    EXPECT_THAT(PrivateFile::read(paths.importLog()), ::testing::HasSubstr("ERROR 1146"));
    EXPECT_FALSE(fs::exists(paths.migrationClientOptions()));
}

// Stopping processes

TEST_F(StackEngineTests, StopSignalsLastLaunchedFirstAndEscalates) {
    auto engine = open();
    const fs::path record = folder.path() / "signals.txt";
    // Each server notes the signal that reached it, then exits.
    const auto server = [&](const std::string& service) {
        const std::string script = "trap 'echo " + service + ":TERM >> " + record.string() +
                                   "; exit 0' TERM; trap 'echo " + service + ":QUIT >> " +
                                   record.string() + "; exit 0' QUIT; while :; do sleep 0.02; done";
        return std::make_shared<ManagedProcess>(service, "/bin/sh",
                                                std::vector<std::string>{"-c", script},
                                                folder.path() / "process.log");
    };
    for (const char* service : {"MariaDB", "PHP", "Apache"})
        StackEngineTesting::addProcess(*engine, "studio", server(service));
    for (const char* service : {"MariaDB", "PHP", "nginx"})
        StackEngineTesting::addProcess(*engine, "legacy", server(service));
    ::usleep(200000); // let the shells set their traps
    StackEngineTesting::stopProcesses(*engine, "studio");
    StackEngineTesting::stopProcesses(*engine, "legacy");
    const std::string lines = PrivateFile::read(record);
    EXPECT_EQ(lines, "Apache:TERM\nPHP:QUIT\nMariaDB:TERM\nnginx:QUIT\nPHP:QUIT\nMariaDB:TERM\n");
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, "studio"));
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, "legacy"));

    // A server that ignores both polite signals is killed with its workers;
    // one that already ended is skipped; an unknown id is no error.
    const fs::path workerFile = folder.path() / "worker.pid";
    auto stubborn = std::make_shared<ManagedProcess>(
        "nginx", "/bin/sh",
        std::vector<std::string>{"-c", "trap '' TERM QUIT; sleep 60 & echo $! > " +
                                           workerFile.string() + "; wait; wait"},
        folder.path() / "process.log");
    auto ended = std::make_shared<ManagedProcess>(
        "MariaDB", "/bin/true", std::vector<std::string>{}, folder.path() / "process.log");
    StackEngineTesting::addProcess(*engine, "studio", ended);
    StackEngineTesting::addProcess(*engine, "studio", stubborn);
    for (int attempt = 0; attempt < 100 && !fs::exists(workerFile); ++attempt)
        ::usleep(20000);
    ::usleep(100000);
    const pid_t worker = std::stoi(PrivateFile::read(workerFile));
    StackEngineTesting::stopProcesses(*engine, "studio");
    EXPECT_FALSE(stubborn->isRunning());
    EXPECT_EQ(stubborn->terminationStatus(), SIGKILL);
    EXPECT_EQ(ended->terminationStatus(), 0);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, "studio"));
    bool workerGone = false;
    for (int attempt = 0; attempt < 100 && !workerGone; ++attempt) {
        // Gone, or a zombie waiting for init to reap it.
        std::string stat;
        try {
            stat = PrivateFile::read("/proc/" + std::to_string(worker) + "/stat");
        } catch (const std::exception&) {
        }
        const auto state = stat.rfind(')');
        workerGone = stat.empty() || (state != std::string::npos && stat.size() > state + 2 &&
                                      stat[state + 2] == 'Z');
        if (!workerGone)
            ::usleep(20000);
    }
    EXPECT_TRUE(workerGone);
    EXPECT_NO_THROW(StackEngineTesting::stopProcesses(*engine, "nothing"));
}

TEST_F(StackEngineTests, RequireAliveNamesTheFirstExitedServer) {
    auto engine = open();
    EXPECT_NO_THROW(StackEngineTesting::requireAlive(*engine, "studio"));
    auto alive = sleeper("MariaDB");
    auto dead = std::make_shared<ManagedProcess>(
        "PHP", "/bin/sh", std::vector<std::string>{"-c", "exit 7"}, folder.path() / "process.log");
    StackEngineTesting::addProcess(*engine, "studio", alive);
    StackEngineTesting::addProcess(*engine, "studio", dead);
    for (int attempt = 0; attempt < 200 && dead->isRunning(); ++attempt)
        ::usleep(10000);
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::requireAlive(*engine, "studio"); }),
              "PHP exited (7). See studio/logs.");
    StackEngineTesting::stopProcesses(*engine, "studio");
}

TEST_F(StackEngineTests, DatabaseWaitEndsOnAnswerExitOrExhaustion) {
    auto engine = open();
    const StackProfile profile = engine->allProfiles()[0];
    const fs::path prefix = folder.path() / "prefix";
    fs::create_directories(prefix / "bin");
    const fs::path answer = folder.path() / "answer";
    const fs::path calls = folder.path() / "calls";
    PrivateFile::writeWithMode(prefix / "bin/mariadb",
                               "#!/bin/sh\ncat >/dev/null\necho x >> " + calls.string() + "\ncat " +
                                   answer.string() + "\n",
                               0700);
    PrivateFile::write(answer, " 1\n");
    EXPECT_NO_THROW(StackEngineTesting::waitForDatabase(*engine, profile, prefix));

    PrivateFile::write(answer, "0\n");
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForDatabase(*engine, profile, prefix); }),
              "MariaDB did not start. See studio/logs/mariadb-error.log.");
    EXPECT_EQ(PrivateFile::read(calls).size(), 2u * 121);

    // A server that exited ends the wait before the client runs again.
    auto dead = std::make_shared<ManagedProcess>("MariaDB", "/bin/sh",
                                                 std::vector<std::string>{"-c", "exit 1"},
                                                 folder.path() / "process.log");
    StackEngineTesting::addProcess(*engine, "studio", dead);
    for (int attempt = 0; attempt < 200 && dead->isRunning(); ++attempt)
        ::usleep(10000);
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForDatabase(*engine, profile, prefix); }),
              "MariaDB exited (1). See studio/logs.");
    EXPECT_EQ(PrivateFile::read(calls).size(), 2u * 121);
    StackEngineTesting::stopProcesses(*engine, "studio");
}

TEST_F(StackEngineTests, HealthAndPhpMyAdminChecksReadTheEnvironmentsOwnServer) {
    auto engine = open();
    const fs::path site = folder.path() / "site";
    fs::create_directories(site / "phpmyadmin");
    StackProfile profile = engine->allProfiles()[0]; // php@8.4, mariadb@11.4
    // A small static server on a port of its own.
    auto server = [&] {
        const std::int64_t port = freePorts(1).front();
        profile.httpPort = port;
        auto process = std::make_shared<ManagedProcess>(
            "nginx", "/usr/bin/python3",
            std::vector<std::string>{"-m", "http.server", "--bind", "127.0.0.1",
                                     std::to_string(port), "--directory", site.string()},
            folder.path() / "server.log");
        for (int attempt = 0; attempt < 250 && PortCheck::isAvailable(port); ++attempt)
            ::usleep(20000);
        return process;
    }();
    StackEngineTesting::addProcess(*engine, "studio", server);

    const auto health = [&](const std::string& php, const std::string& mariadb) {
        PrivateFile::write(site / "__vessora_health.php", nlohmann::json{{"token", "T1"},
                                                                         {"identity", "studio"},
                                                                         {"php", php},
                                                                         {"mariadb", mariadb}}
                                                              .dump());
    };
    health("8.4.12", "11.4.8-MariaDB");
    EXPECT_NO_THROW(StackEngineTesting::waitForHTTP(*engine, profile, "T1"));
    const std::string failed = "HTTP/PHP/SQL health check failed. See studio/logs.";
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForHTTP(*engine, profile, "T2"); }),
              failed);
    health("8.40.1", "11.4.8-MariaDB");
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForHTTP(*engine, profile, "T1"); }),
              failed);
    health("8.4.12", "11.40");
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForHTTP(*engine, profile, "T1"); }),
              failed);

    PrivateFile::write(site / "phpmyadmin/index.html", "<title>phpMyAdmin</title> pmahomme");
    EXPECT_NO_THROW(StackEngineTesting::waitForPhpMyAdmin(*engine, profile));
    PrivateFile::write(site / "phpmyadmin/index.html", "<title>phpMyAdmin</title>");
    EXPECT_EQ(thrownMessage([&] { StackEngineTesting::waitForPhpMyAdmin(*engine, profile); }),
              "Could not start phpMyAdmin. See studio/logs.");
    StackEngineTesting::stopProcesses(*engine, "studio");
}

TEST_F(StackEngineTests, HealthWaitOutlastsAServerAnsweringBadGatewayForSeconds) {
    // The Part's pace: the port accepts at once, so every failed attempt is
    // followed by the whole 0.25 s pause and the 80 attempts outlast 3 s.
    auto options = StackEngineTesting::quickOptions(root(), brew.brew(), helper);
    StackEngine engine(options);
    socketFolders.push_back(engine.socketDirectory());
    StackProfile profile = engine.allProfiles()[0]; // php@8.4, mariadb@11.4
    const fs::path requests = folder.path() / "requests";
    const fs::path script = folder.path() / "gateway.py";
    PrivateFile::write(script, R"PY(import http.server, json, sys, time
ready = time.monotonic() + 3
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[2], "a") as log:
            log.write("x")
        if time.monotonic() < ready:
            self.send_response(502)
            self.end_headers()
            return
        body = json.dumps({"token": "T1", "identity": "studio", "php": "8.4.1",
                           "mariadb": "11.4.2-MariaDB"}).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
)PY");
    const std::int64_t port = freePorts(1).front();
    profile.httpPort = port;
    profile.phpPort = port; // both ports of the wake condition accept
    const auto server = std::make_shared<ManagedProcess>(
        "nginx", "/usr/bin/python3",
        std::vector<std::string>{script.string(), std::to_string(port), requests.string()},
        folder.path() / "gateway.log");
    for (int attempt = 0; attempt < 500 && !PortCheck::accepts(profile.httpPort); ++attempt)
        ::usleep(10000);
    ASSERT_TRUE(PortCheck::accepts(profile.httpPort));
    StackEngineTesting::addProcess(engine, "studio", server);

    EXPECT_NO_THROW(StackEngineTesting::waitForHTTP(engine, profile, "T1"));
    const std::size_t answered = PrivateFile::read(requests).size();
    EXPECT_GE(answered, 5u);
    EXPECT_LE(answered, 20u) << "no attempt without its pause";
    StackEngineTesting::stopProcesses(engine, "studio");
}

} // namespace
