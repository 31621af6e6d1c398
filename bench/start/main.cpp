// Start of one environment (php@8.2, mariadb@10.11, nginx) on Debian's
// servers behind the Homebrew stand-in, against the lower bound: the same
// three servers started by hand from the same generated files, waiting only
// for MariaDB's socket and the health page. Prints:
//   1. the first start (data-directory initialisation included),
//   2. the warm start (median of several), the hand start (median) and
//      their ratio,
//   3. statuses() over 20 environments (mean of many polls), which must
//      start no process.
// Run as an unprivileged user: MariaDB and PHP-FPM refuse root.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Process/Command.hpp"
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
#include <thread>

using namespace vessora;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
        for (int i = 0; i < 200 && (*it)->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if ((*it)->isRunning())
            (*it)->signal(SIGKILL);
        for (int i = 0; i < 20 && (*it)->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    servers.clear();
}

// MariaDB, PHP-FPM and nginx from the files the engine generated, polled
// at the same 0.25 s pace as the engine's waits; returns the seconds until
// the health page answers.
double startByHand(const StackEngine& engine, const StackProfile& profile,
                   const fs::path& prefixes) {
    const StackPaths paths(engine.root(), profile);
    const fs::path db = prefixes / "opt" / "mariadb@10.11";
    const std::string user = ::getpwuid(::geteuid())->pw_name;
    const std::map<std::string, std::string> fpmEnvironment{
        {"PHP_INI_SCAN_DIR", (paths.config() / "ini.d").string()}};
    std::vector<std::unique_ptr<ManagedProcess>> servers;
    const Clock::time_point start = Clock::now();
    servers.push_back(std::make_unique<ManagedProcess>(
        "MariaDB", db / "bin/mariadbd",
        std::vector<std::string>{"--defaults-file=" + paths.databaseConfig().string()},
        paths.logs() / "bench-mariadb.log"));
    bool ready = false;
    for (int attempt = 0; attempt < 120 && !ready; ++attempt) {
        const CommandResult result = Command::run(
            db / "bin/mariadb",
            {"--no-defaults", "--protocol=socket",
             "--socket=" + (engine.socketDirectory() / (profile.id + ".sock")).string(),
             "--user=" + user, "--connect-timeout=2", "--batch", "--skip-column-names"},
            {.timeout = 10, .input = "SELECT 1"});
        ready = result.status == 0 && result.output == "1\n";
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
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
    ready = false;
    for (int attempt = 0; attempt < 80 && !ready; ++attempt) {
        ready = httpStatus(profile.backendURL() + "/__vessora_health.php") == 200;
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const double seconds = secondsSince(start);
    stopByHand(servers);
    if (!ready)
        throw std::runtime_error("the servers started by hand did not answer");
    return seconds;
}

int run() {
    UserDefaults::setStandard(UserDefaults::inMemory());
    BrewStandIn brew(fs::path(VESSORA_SOURCE_DIR) / "tools");
    brew.buildDebianPrefixes();
    TemporaryFolder work("vessora-start-bench");
    // No built-in environments: the poll figure is for exactly 20.
    PrivateFile::createDirectories(work.path() / "data");
    PrivateFile::write(work.path() / "data" / "profiles.json", "[]");
    StackEngine::Options options;
    options.root = work.path() / "data";
    options.brew = brew.brew();
    options.hostClient = std::make_shared<FakeHostService>();
    const auto routerPorts = freePorts(2);
    options.routerPorts = {routerPorts[0], routerPorts[1]};
    StackEngine engine(options);
    StackProfile profile = engine.create("Bench", "php@8.2", "mariadb@10.11", false, "nginx", false,
                                         std::nullopt, "bench", std::nullopt, false, false);
    // Away from the default range, where other runs may have servers.
    const auto ports = freePorts(3);
    profile.httpPort = ports[0];
    profile.phpPort = ports[1];
    profile.databasePort = ports[2];
    engine.update(profile);

    Clock::time_point start = Clock::now();
    engine.start(profile.id);
    const double first = secondsSince(start);
    engine.stop(profile.id);

    const int rounds = 5;
    std::vector<double> warm, byHand;
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        engine.start(profile.id);
        warm.push_back(secondsSince(start));
        engine.stop(profile.id);
        byHand.push_back(startByHand(engine, profile, brew.root()));
    }

    std::printf("first start (initialises the data directory): %.3f s\n", first);
    std::printf("warm start, median of %d:                      %.3f s\n", rounds, median(warm));
    std::printf("same three servers by hand, median of %d:      %.3f s\n", rounds, median(byHand));
    std::printf("ratio warm start / by hand:                    %.2f\n",
                median(warm) / median(byHand));

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
