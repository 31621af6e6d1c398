// A run killed with SIGKILL on real servers: the engine runs in a program of
// its own (EngineRunProgram) that is killed while environments run, in the
// middle of a start, of a stop and of an import's load, each at a point the
// test holds it at. The next engine on the same data root must leave no
// process of the killed run, free every port it held, leave no staging folder
// or option file, and start the environment with its data.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Process/ChildProcess.hpp"
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

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Processes whose command line names the given text, not zombies.
std::vector<pid_t> processesNaming(const std::string& text) {
    std::vector<pid_t> found;
    for (const auto& item : fs::directory_iterator("/proc")) {
        std::ifstream file(item.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(file)), {});
        const std::string name = item.path().filename().string();
        if (line.find(text) == std::string::npos ||
            name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto info = ProcessInfo::stat(std::stoi(name));
        if (info && info->state != 'Z')
            found.push_back(std::stoi(name));
    }
    return found;
}

// The run to kill: EngineRunProgram with its steps, its output appended to
// `log`; killed as SIGKILL ends the application (the program alone, not
// what it launched) and reaped when the test ends early.
class KilledRun {
public:
    KilledRun(fs::path log, const std::vector<std::string>& arguments) : log_(std::move(log)) {
        const UniqueFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        const UniqueFd output(
            ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        pid_ = ChildProcess::launch(VESSORA_ENGINE_RUN_PROGRAM, arguments,
                                    ChildProcess::environment({}), input.get(), output.get());
    }
    KilledRun(const KilledRun&) = delete;
    KilledRun& operator=(const KilledRun&) = delete;
    ~KilledRun() { kill(); }

    bool exited() {
        return pid_ <= 0 || ::waitpid(pid_, nullptr, WNOHANG) == pid_ ? (pid_ = -1, true) : false;
    }
    void kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // What the run wrote, for the failure messages.
    std::string output() const {
        std::ifstream file(log_);
        return "engine run: " + std::string((std::istreambuf_iterator<char>(file)), {});
    }

private:
    fs::path log_;
    pid_t pid_ = -1;
};

class StackEngineKilledRunIntegrationTests : public RelaunchedEngineTest {
protected:
    void SetUp() override {
        RelaunchedEngineTest::SetUp();
        if (IsSkipped())
            return;
        state = standIn->state();
    }
    void TearDown() override {
        if (!standIn)
            return;
        standIn->setState(state);
        sweep();
    }

    // The program's arguments for a run of these steps on this data root
    // with the test's ports, its options first.
    std::vector<std::string> steps(const std::vector<std::string>& list,
                                   const std::vector<std::string>& options = {}) const {
        std::string own;
        for (const std::int64_t port : ownPorts)
            own += (own.empty() ? "" : ",") + std::to_string(port);
        std::vector<std::string> arguments = options;
        for (const std::string& item :
             {std::string("--ports"), own, root().string(), standIn->brew().string(),
              std::to_string(routerPorts.http), std::to_string(routerPorts.https)})
            arguments.push_back(item);
        arguments.insert(arguments.end(), list.begin(), list.end());
        return arguments;
    }
    fs::path runLog() const { return work.path() / "engine-run.log"; }

    // Debian's nginx behind a keg of its own that the test can hold for an
    // environment's web server (never the router's): while "hold-launch"
    // exists a launch waits before it runs nginx, after
    // writing "launch-held"; while "hold-stop" exists nginx runs as its
    // child and the stop's SIGQUIT leaves the keg's process waiting, after
    // writing "stop-held". Each wait ends with a kill of the group.
    fs::path heldNginx() {
        const fs::path keg = work.path() / "nginx-keg";
        const fs::path gate = work.path() / "gate";
        fs::create_directories(keg / "bin");
        fs::create_directories(gate);
        std::string script = R"(#!/bin/sh
[ "$1" = -t ] && exec 'NGINX' "$@"
# The router's nginx is never held.
case "$2" in */.router/) exec 'NGINX' "$@" ;; esac
gate='GATE'
# Bounded; a kill of the group ends it long before.
hold() { i=0; while [ $i -lt 30000 ] && "$@"; do sleep 0.01; i=$((i + 1)); done; }
if [ -e "$gate/hold-launch" ]; then
    : > "$gate/launch-held"
    hold [ -e "$gate/hold-launch" ]
fi
if [ -e "$gate/hold-stop" ]; then
    trap ': > "$gate/stop-held"' QUIT
    'NGINX' "$@" &
    wait $!
    [ -e "$gate/stop-held" ] && hold true
    exit 1
fi
exec 'NGINX' "$@"
)";
        for (const auto& [name, value] :
             {std::pair{"NGINX", (standIn->root() / "opt/nginx/bin/nginx").string()},
              std::pair{"GATE", gate.string()}})
            for (std::size_t at = script.find(name); at != std::string::npos;
                 at = script.find(name, at + value.size()))
                script.replace(at, std::string_view(name).size(), value);
        PrivateFile::writeWithMode(keg / "bin/nginx", script, 0755);
        nlohmann::json changed = state;
        changed["formulae"]["nginx"]["prefix"] = keg.string();
        standIn->setState(changed);
        return gate;
    }
    StackPaths paths(const StackProfile& profile) const { return StackPaths(root(), profile); }
    fs::path dbPrefix() const { return standIn->root() / "opt" / "mariadb@10.11"; }
    std::string sql(const StackProfile& profile, const std::string& statement) {
        return StackEngineTesting::sql(*engine, profile, dbPrefix(), statement, false);
    }

    // A routed environment with a row in its database, stopped again.
    StackProfile prepared() {
        engine = open();
        StackProfile profile =
            engine->create("Shop", "php@8.2", "mariadb@10.11", false, "nginx", false, std::nullopt,
                           "shop_db", "shop.test", true, false);
        const auto ports = freePorts(3);
        profile.httpPort = ports[0];
        profile.phpPort = ports[1];
        profile.databasePort = ports[2];
        engine->update(profile);
        engine->start(profile.id);
        sql(profile, "CREATE TABLE shop_db.notes (text VARCHAR(20)); INSERT INTO shop_db.notes "
                     "VALUES ('kept');");
        engine->stopAll();
        engine.reset();
        return profile;
    }

    // The records the killed run left, read as they are on disk.
    std::vector<ServerRecord> records(const StackProfile& profile) const {
        std::vector<ServerRecord> found;
        for (const fs::path& folder :
             {paths(profile).serverRecords(), root() / ".router" / "servers"}) {
            std::error_code error;
            for (fs::directory_iterator item(folder, error), end; !error && item != end;
                 item.increment(error))
                if (item->path().extension() == ".json")
                    found.push_back(
                        ServerRecord::fromJSON(JsonFields::parse(PrivateFile::read(item->path()))));
        }
        return found;
    }
    std::size_t alive(const std::vector<ServerRecord>& found) const {
        return std::count_if(found.begin(), found.end(),
                             [](const ServerRecord& record) { return record.isAlive(); });
    }
    std::vector<std::int64_t> ports(const StackProfile& profile) const {
        std::vector<std::int64_t> all = profile.listeningPorts();
        all.push_back(routerPorts.http);
        all.push_back(routerPorts.https);
        return all;
    }

    // What every kill must end with; reports the relaunch's time to every
    // port free.
    void relaunchLeavesNothing(const char* point, const StackProfile& profile,
                               const std::vector<ServerRecord>& left) {
        const auto started = Clock::now();
        // At once: whatever the kill caught in the middle of a launch holds
        // nothing that keeps this run out.
        ASSERT_EQ(thrownMessage([&] { engine = open(); }), "");
        ASSERT_TRUE(engine);
        EXPECT_TRUE(becomes(
            [&] {
                for (std::int64_t port : ports(profile))
                    if (!PortCheck::isAvailable(port))
                        return false;
                return true;
            },
            15000ms));
        report(point, Clock::now() - started, left.size());
        for (const ServerRecord& record : left) {
            EXPECT_FALSE(record.isAlive()) << record.service;
            EXPECT_TRUE(becomes([&] { return !processGroupAlive(record.pid); }, 5000ms))
                << record.service << " group " << record.pid;
        }
        EXPECT_TRUE(fs::is_empty(paths(profile).serverRecords()));
        EXPECT_TRUE(records(profile).empty());
        EXPECT_FALSE(fs::exists(root() / ".migration-staging"));
        EXPECT_FALSE(fs::exists(paths(profile).migrationClientOptions()));
    }

    void startsWithItsData(const StackProfile& profile) {
        const std::string error = thrownMessage([&] { engine->start(profile.id); });
        ASSERT_EQ(error, "");
        EXPECT_EQ(sql(profile, "SELECT text FROM shop_db.notes;"), "kept\n");
        EXPECT_EQ(fetch(profile.backendURL() + "/__vessora_health.php").status, 200);
    }

    // An import of a project served where it lies, with its dump.
    MigrationRequest importRequest(const fs::path& dump) const {
        const fs::path project = work.path() / "project";
        fs::create_directories(project / "public");
        fs::permissions(project, fs::perms(0755));
        fs::permissions(project / "public", fs::perms(0755));
        MigrationRequest request;
        request.name = "Imported";
        request.projectFolder = project;
        request.publicDirectory = "public";
        request.mode = ProjectImportMode::existing;
        request.databaseName = "shop_db";
        request.sqlFile = dump;
        request.php = "php@8.2";
        request.mariaDB = "mariadb@10.11";
        request.webserver = "nginx";
        return request;
    }
    // The request as the program reads it.
    static void writeRequest(const MigrationRequest& request, const fs::path& file) {
        const nlohmann::json json{{"name", request.name},
                                  {"projectFolder", request.projectFolder.string()},
                                  {"publicDirectory", request.publicDirectory},
                                  {"databaseName", request.databaseName},
                                  {"sqlFile", request.sqlFile.value_or("").string()},
                                  {"php", request.php},
                                  {"mariaDB", request.mariaDB},
                                  {"webserver", request.webserver}};
        PrivateFile::write(file, json.dump());
    }
    // The stored record of the import, once "profiles.json" holds it.
    std::optional<StackProfile> imported() const {
        for (const auto& item : JsonFields::parse(PrivateFile::read(root() / "profiles.json")))
            if (item.value("name", "") == "Imported")
                return StackProfile::fromJSON(item);
        return std::nullopt;
    }

    void report(const char* point, Clock::duration elapsed, std::size_t killed) {
        std::cout << "[kill] " << point << ": " << killed << " server records left by the kill, "
                  << "every port free "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()
                  << " ms after the relaunch began\n";
    }

    // The stand-in's state before the test.
    nlohmann::json state;
};

TEST_F(StackEngineKilledRunIntegrationTests, KilledWhileRunningLeavesNothingBehind) {
    const StackProfile profile = prepared();
    const fs::path ready = work.path() / "ready";
    {
        KilledRun run(runLog(), steps({"local-hosts", "start", profile.id, "mark", ready}));
        ASSERT_TRUE(becomes([&] { return fs::exists(ready) || run.exited(); }, 300000ms));
        ASSERT_TRUE(fs::exists(ready)) << run.output();
        run.kill();
    }
    const auto left = records(profile);
    // MariaDB, PHP-FPM, nginx and the router's nginx outlive the kill itself.
    ASSERT_EQ(alive(left), 4u);
    EXPECT_FALSE(PortCheck::isAvailable(profile.databasePort));
    relaunchLeavesNothing("running", profile, left);
    ASSERT_TRUE(engine);
    startsWithItsData(profile);
}

TEST_F(StackEngineKilledRunIntegrationTests, KilledInTheMiddleOfAStartLeavesNothingBehind) {
    const fs::path gate = heldNginx();
    const StackProfile profile = prepared();
    PrivateFile::write(gate / "hold-launch", "");
    bool answered = true;
    {
        KilledRun run(runLog(), steps({"start", profile.id}));
        // MariaDB and PHP-FPM launched, the web server launched and recorded
        // but not yet running nginx.
        const auto held = [&] {
            const auto found = records(profile);
            return fs::exists(gate / "launch-held") &&
                   std::any_of(found.begin(), found.end(), [](const ServerRecord& record) {
                       return record.service == "nginx";
                   });
        };
        ASSERT_TRUE(becomes([&] { return held() || run.exited(); }, 300000ms));
        ASSERT_TRUE(held()) << run.output();
        answered = PortCheck::accepts(profile.httpPort);
        run.kill();
    }
    EXPECT_FALSE(answered);
    const auto left = records(profile);
    ASSERT_EQ(alive(left), 3u);
    relaunchLeavesNothing("middle of a start", profile, left);
    ASSERT_TRUE(engine);
    fs::remove(gate / "hold-launch");
    startsWithItsData(profile);
}

TEST_F(StackEngineKilledRunIntegrationTests, KilledInTheMiddleOfAStopLeavesNothingBehind) {
    const fs::path gate = heldNginx();
    const StackProfile profile = prepared();
    PrivateFile::write(gate / "hold-stop", "");
    const fs::path ready = work.path() / "ready";
    const fs::path go = work.path() / "go";
    {
        // Stops wait long enough for the kill to come while nginx is held.
        KilledRun run(runLog(),
                      steps({"start", profile.id, "mark", ready, "await", go, "stop", profile.id},
                            {"--stop-pause", "3000"}));
        ASSERT_TRUE(becomes([&] { return fs::exists(ready) || run.exited(); }, 300000ms));
        ASSERT_TRUE(fs::exists(ready)) << run.output();
        const auto running = records(profile);
        // The environment's three servers and the router routing it.
        ASSERT_EQ(alive(running), 4u);
        PrivateFile::write(go, "");
        // The router has gone, the web server is stopping, PHP-FPM and
        // MariaDB are untouched.
        ASSERT_TRUE(
            becomes([&] { return fs::exists(gate / "stop-held") || run.exited(); }, 300000ms));
        ASSERT_TRUE(fs::exists(gate / "stop-held")) << run.output();
        run.kill();
        for (const ServerRecord& record : running)
            EXPECT_EQ(record.isAlive(), record.service != "Router") << record.service;
    }
    const auto left = records(profile);
    ASSERT_EQ(alive(left), 3u);
    relaunchLeavesNothing("middle of a stop", profile, left);
    ASSERT_TRUE(engine);
    fs::remove(gate / "hold-stop");
    startsWithItsData(profile);
}

TEST_F(StackEngineKilledRunIntegrationTests, KilledInTheMiddleOfAnImportLeavesNothingBehind) {
    // The load reaches a statement that lasts until its server goes, so the
    // client is still loading when the kill comes.
    const fs::path dump = work.path() / "shop.sql";
    PrivateFile::write(dump, "CREATE TABLE products (id INT PRIMARY KEY, name VARCHAR(64));\n"
                             "INSERT INTO products VALUES (1, 'loaded');\n"
                             "SELECT SLEEP(300);\n"
                             "INSERT INTO products VALUES (2, 'never');\n");
    const fs::path request = work.path() / "request.json";
    const fs::path phases = work.path() / "phases.log";
    writeRequest(importRequest(dump), request);

    std::optional<StackProfile> created;
    const auto findCreated = [&] {
        created = imported();
        return created.has_value();
    };
    engine = open();
    engine.reset();
    std::string client;
    {
        KilledRun run(runLog(), steps({"migrate", request, phases}));
        ASSERT_TRUE(becomes(
            [&] {
                return (findCreated() && fs::exists(paths(*created).migrationClientOptions())) ||
                       run.exited();
            },
            300000ms));
        ASSERT_TRUE(created) << run.output();
        // The test's own ports, not those that other test runs here race for.
        for (const std::int64_t port : created->listeningPorts())
            EXPECT_THAT(ownPorts, ::testing::Contains(port));
        client = paths(*created).migrationClientOptions().string();
        ASSERT_TRUE(fs::exists(client)) << run.output();
        ASSERT_TRUE(fs::exists(root() / ".migration-staging"));
        // The tuning for the load comes first, then the client.
        ASSERT_TRUE(
            becomes([&] { return !processesNaming(client).empty() || run.exited(); }, 300000ms));
        ASSERT_FALSE(processesNaming(client).empty()) << run.output();
        run.kill();
    }
    // The client loading the dump outlives the kill too.
    EXPECT_FALSE(processesNaming(client).empty());
    const auto left = records(*created);
    ASSERT_EQ(alive(left), 1u);
    relaunchLeavesNothing("middle of an import's load", *created, left);
    ASSERT_TRUE(engine);
    EXPECT_TRUE(becomes([&] { return processesNaming(client).empty(); }, 10000ms));
    EXPECT_EQ(engine->statuses().at(created->id).description, "Migration incomplete");
}

TEST_F(StackEngineKilledRunIntegrationTests, KilledOnceAnImportIsStoredShowsItIncomplete) {
    const fs::path dump = work.path() / "shop.sql";
    PrivateFile::write(dump, "CREATE TABLE products (id INT PRIMARY KEY);\n");
    const fs::path request = work.path() / "request.json";
    const fs::path phases = work.path() / "phases.log";
    writeRequest(importRequest(dump), request);
    engine = open();
    engine.reset();
    {
        // The helper request right after the record is stored waits until
        // the kill comes.
        KilledRun run(runLog(), steps({"local-hosts", "hold-helper", "migrate", request, phases}));
        ASSERT_TRUE(becomes([&] { return imported().has_value() || run.exited(); }, 300000ms));
        run.kill();
        ASSERT_TRUE(imported()) << run.output();
    }
    const std::optional<StackProfile> created = imported();
    ASSERT_TRUE(created);
    // Killed before the import went on to its next phase.
    std::ifstream entered(phases);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(entered)), {}),
              rawValue(MigrationPhase::checking) + "\n");

    engine = open();
    EXPECT_EQ(engine->statuses().at(created->id).description, "Migration incomplete");
    EXPECT_EQ(thrownMessage([&] { engine->start(created->id); }),
              "This migration is incomplete. Review its report, then remove the new "
              "environment and retry.");
    const auto report = MigrationReport::fromJSON(
        JsonFields::parse(PrivateFile::read(paths(*created).migrationReport())));
    EXPECT_EQ(report.environmentID, created->id);
    EXPECT_FALSE(report.succeeded);
    EXPECT_EQ(report.sqlFileName, "shop.sql");
    EXPECT_FALSE(fs::exists(root() / ".migration-staging"));
    EXPECT_TRUE(records(*created).empty());
}

} // namespace
} // namespace vessora
