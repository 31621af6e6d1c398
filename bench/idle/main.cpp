// The idle poll: the helper's registration status read the old way (a
// "systemctl show" process per read) against the D-Bus read the monitor
// makes now, as CPU per read (this process and its children) and processes
// started; then, given the program, its whole CPU over an idle minute with
// no environment running (a HOME of its own under /tmp, so no real data root
// is touched). Run it with DISPLAY set (Xvfb) or QT_QPA_PLATFORM=offscreen.
// usage: idle-bench [PROGRAM [SECONDS]]
//
// idle-bench --window N [SECONDS]: the model, the real engine and the main
// window in this process, on Debian's servers behind the Homebrew stand-in,
// with N environments running: this process's CPU per idle minute (servers
// excluded, reaped children included) and the processes the poll reaped.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/App/SystemdBusServiceManager.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"
#include "bench/BenchFigures.hpp"
#include "bench/BenchStage.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using vessora::bench::loadAverage;

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processes started on this machine so far (the "processes" line of /proc/stat).
long processesStarted() {
    std::ifstream file("/proc/stat");
    std::string key;
    long value = 0;
    while (file >> key) {
        if (key == "processes") {
            file >> value;
            return value;
        }
        file.ignore(1 << 16, '\n');
    }
    return 0;
}

void measureReads(const char* name, const std::function<void()>& read, int reads) {
    const double before = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    const long started = processesStarted();
    const auto wall = std::chrono::steady_clock::now();
    for (int index = 0; index < reads; ++index)
        read();
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count();
    const double cpu = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - before;
    std::printf("%-16s %8.3f ms CPU per read  %8.3f ms wall per read  %.2f processes "
                "started on the machine per read (others' included)\n",
                name, cpu * 1000 / reads, elapsed / reads,
                double(processesStarted() - started) / reads);
}

// utime + stime + cutime + cstime of a process, in seconds.
double processCpu(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;)
        values.push_back(value);
    if (values.size() < 15)
        return 0;
    // After the name: state is field 3, utime 14 ... cstime 17.
    double ticks = 0;
    for (int field = 14; field <= 17; ++field)
        ticks += std::stod(values[field - 3]);
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

void measureIdleProgram(const std::string& program, int seconds) {
    char pattern[] = "/tmp/idle-bench-XXXXXX";
    const std::filesystem::path home = ::mkdtemp(pattern);
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        if (std::string(*entry).rfind("HOME=", 0) != 0)
            variables.emplace_back(*entry);
    variables.push_back("HOME=" + home.string());
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string argument0 = program;
    char* argv[] = {argument0.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        std::cerr << "Could not start " << program << ".\n";
        return;
    }
    // Past the start and the first load.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double before = processCpu(child);
    const long started = processesStarted();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = processCpu(child) - before;
    const long others = processesStarted() - started;
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::remove_all(home);
    std::printf("idle program, 0 environments: %.1f ms CPU per minute (its reaped children "
                "included) over %d s; %ld processes started on the machine meanwhile\n",
                used * 1000 * 60 / seconds, seconds, others);
}

// Runs the event loop for `milliseconds` with nothing else to do, as the
// program's own loop would (a polling wait would add its own CPU).
void idleFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

int measureWindow(int environments, int seconds) {
    using namespace vessora;
    namespace fs = std::filesystem;
    bench::BenchStage stage("vessora-idle-bench");
    AppModel::Options options;
    options.build = BuildInfo::release("1.0.0", "1");
    options.environment = [](const std::string&) { return std::nullopt; };
    options.openEngine = [&](const fs::path&) {
        return std::make_shared<StackEngineAdapter>(stage.engineOptions());
    };
    options.defaults = UserDefaults::inMemory();
    AppModel model(options);
    if (!model.hasEngine()) {
        std::cerr << model.error().value_or("no engine") << "\n";
        return 1;
    }
    std::vector<std::string> ids;
    for (int index = 0; index < environments; ++index) {
        StackProfile profile = model.engine()->create(
            "Idle " + std::to_string(index), "php@8.2", "mariadb@10.11", false, "nginx", false,
            std::nullopt, "idle" + std::to_string(index), std::nullopt, false, false);
        bench::giveFreePorts(profile);
        model.engine()->update(profile);
        model.engine()->start(profile.id);
        ids.push_back(profile.id);
    }
    AppPreferences preferences(UserDefaults::inMemory());
    AppUpdates::Options updatesOptions;
    updatesOptions.build = BuildInfo::developmentBuild();
    updatesOptions.defaults = UserDefaults::inMemory();
    AppUpdates updates(updatesOptions);
    MainWindow window(model, preferences, updates);
    window.show();
    model.startMonitor();
    // Past the first load and the package query.
    idleFor(5000);
    const double before = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    rusage childrenBefore{};
    ::getrusage(RUSAGE_CHILDREN, &childrenBefore);
    const long started = processesStarted();
    idleFor(seconds * 1000);
    const double used = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - before;
    const double childCpu =
        cpuSeconds(RUSAGE_CHILDREN) -
        (childrenBefore.ru_utime.tv_sec + childrenBefore.ru_stime.tv_sec +
         (childrenBefore.ru_utime.tv_usec + childrenBefore.ru_stime.tv_usec) / 1e6);
    const long others = processesStarted() - started;
    int running = 0;
    for (const auto& [id, status] : model.statuses())
        running += status.running ? 1 : 0;
    std::printf("window idle, %d environments (%d running at the end): %.1f ms CPU per minute "
                "over %d s, of it %.1f ms in reaped children; %ld processes started on the "
                "machine meanwhile (others' included)\n",
                environments, running, used * 1000 * 60 / seconds, seconds,
                childCpu * 1000 * 60 / seconds, others);
    model.stopMonitor();
    model.engine()->stopAll();
    fs::remove_all(StackEngine::socketDirectoryFor(model.engine()->root()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc > 2 && std::string(argv[1]) == "--window") {
        std::cout << "load average before: " << loadAverage() << "\n";
        const int result =
            measureWindow(std::atoi(argv[2]), argc > 3 ? std::max(5, std::atoi(argv[3])) : 60);
        std::cout << "load average after: " << loadAverage() << "\n";
        return result;
    }
    std::cout << "load average before: " << loadAverage() << "\n";
    vessora::SystemdServiceManager command;
    vessora::SystemdBusServiceManager bus;
    measureReads(
        "systemctl show", [&] { command.status(); }, 50);
    measureReads(
        "D-Bus", [&] { bus.status(); }, 50);
    if (argc > 1)
        measureIdleProgram(argv[1], argc > 2 ? std::max(5, std::atoi(argv[2])) : 60);
    std::cout << "load average after: " << loadAverage() << "\n";
    return 0;
}
