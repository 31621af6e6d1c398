// Upgrades made outside the application, on Debian's servers behind the
// Homebrew stand-in: a killed run's MariaDB whose program file was replaced
// by rename is still stopped by the next run, and a formula upgraded in a
// terminal (old keg kept or removed) is what the very next start launches.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "VessoraCore/Process/ServerRecord.hpp"
#include "tests/Support/Becomes.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RelaunchedEngineTest.hpp"
#include "tests/Support/ServerChecks.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What an upgrade does to a program file: the new file is written beside it
// and renamed over it, so a running server keeps the old, now nameless one.
void replaceByRename(const fs::path& program) {
    const fs::path next = program.parent_path() / ("." + program.filename().string() + ".new");
    fs::copy_file(program, next);
    fs::rename(next, program);
}

class StackEngineUpgradeIntegrationTests : public RelaunchedEngineTest {
protected:
    void TearDown() override {
        if (!standIn)
            return;
        if (run && run->isRunning()) {
            run->signal(SIGKILL);
            run->waitForExit(10s);
        }
        sweep();
        // A server the sweep failed to take for its own is still ended.
        for (const ServerRecord& left : escaped)
            if (const auto info = ProcessInfo::stat(left.pid);
                info && info->startTime == left.startTime && info->state != 'Z')
                ::kill(-left.pid, SIGKILL);
    }

    // An environment on ports of its own, made by the open engine.
    StackProfile created() {
        StackProfile profile =
            engine->create("Shop", "php@8.2", "mariadb@10.11", false, "nginx", false, std::nullopt,
                           "shop_db", std::nullopt, false, false);
        const auto ports = freePorts(3);
        profile.httpPort = ports[0];
        profile.phpPort = ports[1];
        profile.databasePort = ports[2];
        engine->update(profile);
        return profile;
    }

    StackPaths paths(const StackProfile& profile) const { return StackPaths(root(), profile); }
    fs::path keg(const std::string& formula) const {
        return fs::canonical(standIn->root() / "opt" / formula);
    }

    std::vector<ServerRecord> records(const StackProfile& profile) const {
        std::vector<ServerRecord> found;
        std::error_code error;
        for (fs::directory_iterator item(paths(profile).serverRecords(), error), end;
             !error && item != end; item.increment(error))
            if (item->path().extension() == ".json")
                found.push_back(
                    ServerRecord::fromJSON(JsonFields::parse(PrivateFile::read(item->path()))));
        return found;
    }
    std::optional<ServerRecord> record(const StackProfile& profile, const std::string& service) {
        for (const ServerRecord& found : records(profile))
            if (found.service == service)
                return found;
        return std::nullopt;
    }

    std::size_t prefixQueries(const std::string& formula) const {
        std::size_t count = 0;
        for (const auto& call : standIn->calls())
            if (call["args"] ==
                nlohmann::json({"--prefix", "--installed", "homebrew/core/" + formula}))
                ++count;
        return count;
    }

    void startsAndAnswers(const StackProfile& profile) {
        ASSERT_EQ(thrownMessage([&] { engine->start(profile.id); }), "");
        EXPECT_EQ(
            StackEngineTesting::sql(*engine, profile, keg("mariadb@10.11"), "SELECT 7;", false),
            "7\n");
        EXPECT_EQ(fetch(profile.backendURL() + "/__vessora_health.php").status, 200);
    }

    std::unique_ptr<ManagedProcess> run;
    // The servers a killed run left.
    std::vector<ServerRecord> escaped;
};

TEST_F(StackEngineUpgradeIntegrationTests,
       KilledRunsServersAreStoppedAfterAnUpgradeReplacedTheirPrograms) {
    // Homebrew's kegs hold their own programs, which an upgrade replaces.
    const fs::path mariadbd = keg("mariadb@10.11") / "bin" / "mariadbd";
    const fs::path debian = fs::canonical(mariadbd);
    fs::remove(mariadbd);
    fs::copy_file(debian, mariadbd);

    engine = open();
    const StackProfile profile = created();
    engine.reset();
    const fs::path ready = work.path() / "ready";
    const fs::path log = work.path() / "run.log";
    run = std::make_unique<ManagedProcess>(
        "run", VESSORA_ENGINE_RUN_PROGRAM,
        std::vector<std::string>{
            root().string(), standIn->brew().string(), std::to_string(routerPorts.http),
            std::to_string(routerPorts.https), "start", profile.id, "mark", ready.string()},
        log);
    ASSERT_TRUE(becomes([&] { return fs::exists(ready) || !run->isRunning(); }, 120000ms));
    ASSERT_TRUE(fs::exists(ready)) << PrivateFile::read(log);
    run->signal(SIGKILL);
    ASSERT_TRUE(run->waitForExit(10s));

    // MariaDB, PHP-FPM and nginx outlive the kill.
    escaped = records(profile);
    ASSERT_EQ(escaped.size(), 3u);
    const auto database = record(profile, "MariaDB");
    ASSERT_TRUE(database);
    ASSERT_EQ(database->program, mariadbd.string());
    for (const ServerRecord& left : escaped)
        ASSERT_TRUE(left.isAlive()) << left.service;
    replaceByRename(mariadbd);
    const fs::path exe = "/proc/" + std::to_string(database->pid) + "/exe";
    ASSERT_EQ(fs::read_symlink(exe).string(), mariadbd.string() + " (deleted)");
    EXPECT_FALSE(PortCheck::isAvailable(profile.databasePort));
    // And brew upgrade removed the keg of PHP-FPM's wrapper.
    const fs::path php = keg("php@8.2");
    standIn->upgrade("php@8.2", php.filename().string() + "_1", false);
    ASSERT_FALSE(fs::exists(php));

    ASSERT_EQ(thrownMessage([&] { engine = open(); }), "");
    for (const ServerRecord& left : escaped) {
        EXPECT_FALSE(left.isAlive()) << left.service;
        EXPECT_TRUE(becomes([&] { return !processGroupAlive(left.pid); }, 5000ms)) << left.service;
    }
    EXPECT_TRUE(records(profile).empty());
    for (const std::int64_t port : profile.listeningPorts())
        EXPECT_TRUE(becomes([&] { return PortCheck::isAvailable(port); }, 15000ms)) << port;
    startsAndAnswers(profile);
}

TEST_F(StackEngineUpgradeIntegrationTests, AnUpgradeMadeOutsideIsWhatTheNextStartLaunches) {
    engine = open();
    const StackProfile profile = created();
    const auto phpProgram = [&] {
        const auto found = record(profile, "PHP");
        return found ? found->program : std::string("no PHP record");
    };
    const fs::path first = keg("php@8.2");
    startsAndAnswers(profile);
    EXPECT_EQ(phpProgram(), (first / "sbin" / "php-fpm").string());
    engine->stop(profile.id);

    // Kept: the warm start runs no brew at all.
    const std::size_t asked = prefixQueries("php@8.2");
    startsAndAnswers(profile);
    EXPECT_EQ(prefixQueries("php@8.2"), asked);
    engine->stop(profile.id);

    // Upgraded in a terminal with the old keg removed: no failed start first.
    const std::string version = first.filename().string();
    const fs::path second = standIn->upgrade("php@8.2", version + "_1", false);
    ASSERT_FALSE(fs::exists(first));
    startsAndAnswers(profile);
    EXPECT_EQ(phpProgram(), (second / "sbin" / "php-fpm").string());
    EXPECT_EQ(prefixQueries("php@8.2"), asked + 1);
    engine->stop(profile.id);

    // Upgraded again, the old keg kept: the new one is launched.
    const fs::path third = standIn->upgrade("php@8.2", version + "_2", true);
    ASSERT_TRUE(fs::exists(second));
    startsAndAnswers(profile);
    EXPECT_EQ(phpProgram(), (third / "sbin" / "php-fpm").string());
    EXPECT_EQ(prefixQueries("php@8.2"), asked + 2);
    EXPECT_EQ(engine->statuses().at(profile.id).description, "Running");
}

} // namespace
} // namespace vessora
