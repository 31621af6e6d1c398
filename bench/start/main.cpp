// Start of one environment (php@8.2, mariadb@10.11, nginx) on Debian's
// servers behind the Homebrew stand-in, against the lower bound: the same
// three servers started by hand from the same generated files, with the same
// event-driven waits as the engine (MariaDB's socket, then the health page).
// Prints:
//   1. the first start (data-directory initialisation included),
//   2. the warm start, the hand start with event-driven waits and the hand
//      start with fixed 0.25 s pauses (how the engine waited before), each
//      the median of several rounds, and the ratio warm start / lower bound,
//   3. statuses() over 20 environments (mean of many polls), which must
//      start no process,
//   4. the load average before and after, since the figures depend on it.
// Run as an unprivileged user: MariaDB and PHP-FPM refuse root.
#include "VessoraCore/Engine/ReadinessWait.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "bench/BenchFigures.hpp"
#include "bench/BenchStage.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>

using namespace vessora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using bench::loadAverage;
using bench::median;
using bench::secondsSince;

long httpStatus(const std::string& url) {
    try {
        return LoopbackHTTP::get(url, 2).status;
    } catch (const std::exception&) {
        return 0;
    }
}

void stopByHand(std::vector<std::unique_ptr<ManagedProcess>>& servers) {
    for (auto it = servers.rbegin(); it != servers.rend(); ++it) {
        (*it)->signal((*it)->service() == "MariaDB" ? SIGTERM : SIGQUIT);
        if (!(*it)->waitForExit(std::chrono::seconds(10))) {
            (*it)->signal(SIGKILL);
            (*it)->waitForExit(std::chrono::seconds(1));
        }
    }
    servers.clear();
}

std::vector<int> exitDescriptors(const std::vector<std::unique_ptr<ManagedProcess>>& servers) {
    std::vector<int> descriptors;
    for (const auto& server : servers)
        descriptors.push_back(server->exitDescriptor());
    return descriptors;
}

void requireRunning(const std::vector<std::unique_ptr<ManagedProcess>>& servers) {
    for (const auto& server : servers)
        if (!server->isRunning())
            throw std::runtime_error(server->service() + " exited");
}

// MariaDB, PHP-FPM and nginx from the files the engine generated, with the
// engine's attempt counts and pause; `eventDriven` false sleeps the whole
// pause after every failed attempt. Returns the seconds until the health
// page answers.
double startByHand(const StackEngine& engine, const StackProfile& profile, const fs::path& prefixes,
                   bool eventDriven) {
    const std::chrono::milliseconds pause(250);
    const StackPaths paths(engine.root(), profile);
    const fs::path db = prefixes / "opt" / "mariadb@10.11";
    const fs::path socket = engine.socketDirectory() / (profile.id + ".sock");
    const std::string user = ::getpwuid(::geteuid())->pw_name;
    const std::map<std::string, std::string> fpmEnvironment{
        {"PHP_INI_SCAN_DIR", (paths.config() / "ini.d").string()}};
    const ReadinessWait::Wake never{[] { return false; }, nullptr, {}};
    std::vector<std::unique_ptr<ManagedProcess>> servers;
    const Clock::time_point start = Clock::now();
    servers.push_back(std::make_unique<ManagedProcess>(
        "MariaDB", db / "bin/mariadbd",
        std::vector<std::string>{"--defaults-file=" + paths.databaseConfig().string()},
        paths.logs() / "bench-mariadb.log"));
    ReadinessWait database(120, pause, eventDriven ? ReadinessWait::fileAppears(socket) : never,
                           exitDescriptors(servers));
    bool ready = database.run([&] { requireRunning(servers); },
                              [&] {
                                  const CommandResult result = Command::run(
                                      db / "bin/mariadb",
                                      {"--no-defaults", "--protocol=socket",
                                       "--socket=" + socket.string(), "--user=" + user,
                                       "--connect-timeout=2", "--batch", "--skip-column-names"},
                                      {.timeout = 10, .input = "SELECT 1"});
                                  return result.status == 0 && result.output == "1\n";
                              });
    if (ready) {
        servers.push_back(std::make_unique<ManagedProcess>(
            "PHP", prefixes / "opt" / "php@8.2" / "sbin/php-fpm",
            std::vector<std::string>{"-F", "-c", paths.phpConfig().string(), "-y",
                                     paths.fpmConfig().string()},
            paths.logs() / "bench-php.log", fpmEnvironment));
        servers.push_back(std::make_unique<ManagedProcess>(
            "nginx", prefixes / "opt" / "nginx" / "bin/nginx",
            std::vector<std::string>{"-p", paths.directory().string() + "/", "-c",
                                     paths.nginxConfig().string()},
            paths.logs() / "bench-nginx.log"));
        ReadinessWait health(
            80, pause,
            eventDriven ? ReadinessWait::portsAccept({profile.httpPort, profile.phpPort}) : never,
            exitDescriptors(servers));
        ready = health.run(
            [&] { requireRunning(servers); },
            [&] { return httpStatus(profile.backendURL() + "/__vessora_health.php") == 200; });
    }
    const double seconds = secondsSince(start);
    stopByHand(servers);
    if (!ready)
        throw std::runtime_error("the servers started by hand did not answer");
    return seconds;
}

int run() {
    UserDefaults::setStandard(UserDefaults::inMemory());
    // No built-in environments: the poll figure is for exactly 20.
    bench::BenchStage stage("vessora-start-bench");
    BrewStandIn& brew = stage.brew();
    StackEngine engine(stage.engineOptions());
    StackProfile profile = engine.create("Bench", "php@8.2", "mariadb@10.11", false, "nginx", false,
                                         std::nullopt, "bench", std::nullopt, false, false);
    bench::giveFreePorts(profile);
    engine.update(profile);

    const std::string loadBefore = loadAverage();
    Clock::time_point start = Clock::now();
    engine.start(profile.id);
    const double first = secondsSince(start);
    engine.stop(profile.id);

    // Interleaved, so a change in the machine's load touches all three alike.
    const int rounds = 7;
    std::vector<double> warm, byHand, byHandFixed;
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        engine.start(profile.id);
        warm.push_back(secondsSince(start));
        engine.stop(profile.id);
        byHand.push_back(startByHand(engine, profile, brew.root(), true));
        byHandFixed.push_back(startByHand(engine, profile, brew.root(), false));
    }

    std::printf("first start (initialises the data directory):      %.3f s\n", first);
    std::printf("warm start, median of %d:                           %.3f s\n", rounds,
                median(warm));
    std::printf("by hand, event-driven waits (lower bound), median: %.3f s\n", median(byHand));
    std::printf("by hand, fixed 0.25 s pauses (former pace), median: %.3f s\n",
                median(byHandFixed));
    std::printf("ratio warm start / lower bound:                    %.2f (goal 1.30)\n",
                median(warm) / median(byHand));
    std::printf("warm starts (s):");
    for (const double value : warm)
        std::printf(" %.3f", value);
    std::printf("\nlower bound (s):");
    for (const double value : byHand)
        std::printf(" %.3f", value);
    std::printf("\n");

    for (int index = 1; index < 20; ++index)
        engine.create("Bench " + std::to_string(index), "php@8.2", "mariadb@10.11", false, "nginx",
                      false, std::nullopt, "bench", std::nullopt, false, false);
    const std::size_t brewCalls = brew.calls().size();
    const int polls = 1000;
    std::size_t reported = 0;
    start = Clock::now();
    for (int poll = 0; poll < polls; ++poll)
        reported += engine.statuses().size();
    const double pollSeconds = secondsSince(start) / polls;
    if (reported != 20u * polls || brew.calls().size() != brewCalls)
        throw std::runtime_error("statuses() reported the wrong set or ran a program");
    std::printf("statuses() over 20 environments, mean of %d:  %.1f us (no process started)\n",
                polls, pollSeconds * 1e6);
    std::printf("load average (1, 5, 15 min): before %s, after %s\n", loadBefore.c_str(),
                loadAverage().c_str());
    engine.stopAll();
    fs::remove_all(engine.socketDirectory());
    UserDefaults::setStandard(nullptr);
    return 0;
}

} // namespace

int main() {
    if (::geteuid() == 0) {
        std::printf("start-bench: run as an unprivileged user (MariaDB and PHP-FPM refuse root)\n");
        return 0;
    }
    try {
        return run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "start-bench: %s\n", error.what());
        return 1;
    }
}
