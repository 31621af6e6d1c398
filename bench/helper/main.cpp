// How long another user waits for the helper while one local user floods its
// socket, against the same requests to the idle helper. The helper program
// runs as systemd starts it: handed a socket listening with the socket unit's
// backlog. The victim is the installed program run as one user; each request
// is a fresh connection and a hosts request, timed from connect to reply.
//   1. idle,
//   2. beside one process of another user whose threads (12,000 by default)
//      connect and hang up in a loop; once as another program, once as the
//      client program,
//   3. beside 8 processes of other users reconnecting in a loop,
//   4. beside processes of one user (2,000 by default) running the client
//      program, each connecting, sending one valid request (two names in
//      turn) and hanging up at once; once plain, once padded to the size
//      limit. Each runs against a helper of its own, and besides the
//      victim's times it reports the helper's peak memory and how often the
//      hosts file was rewritten after the flood's processes were gone.
// Needs root (the users are switched to); every flood ends by itself.
// Arguments: the number of flood threads, the socket unit to take the
// backlog from (default: the source tree's; "-" for it), the floods to run
// (comma-separated of threads, client-threads, reconnect, hangups; default
// all), the number of hang-up processes.
#include "VessoraHelper/ServiceCoordinator.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "bench/BenchFigures.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/VessoraHelper/HelperFlood.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace vessora;
using namespace std::chrono_literals;

constexpr uid_t victimUser = 60101;
constexpr uid_t floodUser = 60102;

struct Figures {
    int asked = 0;
    // Applied, or refused because a flood's request owned the setup then.
    int answered = 0;
    int refusedAsOwned = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

// Unanswered requests count as taking forever.
double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

std::string shown(double milliseconds) {
    if (std::isinf(milliseconds))
        return "unanswered";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", milliseconds);
    return text;
}

// `count` timed requests of the victim, each within `bound`, for at most
// `phase` in all.
Figures victimRequests(const std::filesystem::path& program, const std::string& socket, int count,
                       std::chrono::milliseconds bound, std::chrono::seconds phase) {
    const std::string request = HostServiceRequest({"victim.test"}, false).toJSON();
    helperflood::ModeProcess victim(program, victimUser,
                                    helperflood::requestsMode(socket, count, bound, request),
                                    static_cast<int>(phase.count()) + 5);
    const auto end = helperflood::Clock::now() + phase;
    std::vector<double> times;
    Figures figures;
    while (figures.asked < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - helperflood::Clock::now());
        if (left <= 0ms)
            break;
        const auto answer = helperflood::timedAnswer(victim.line(static_cast<int>(left.count())));
        if (!answer)
            break;
        ++figures.asked;
        const bool owned =
            answer->answer == std::string("fail ") + ServiceCoordinator::ownedElsewhere;
        const bool ok = answer->answer == "ok" || owned;
        figures.answered += ok ? 1 : 0;
        figures.refusedAsOwned += owned ? 1 : 0;
        times.push_back(ok ? answer->milliseconds : INFINITY);
    }
    if (times.empty())
        times.push_back(INFINITY);
    figures.p50 = percentile(times, 0.50);
    figures.p99 = percentile(times, 0.99);
    figures.max = *std::max_element(times.begin(), times.end());
    return figures;
}

void report(const char* name, const Figures& figures, const Figures* idle) {
    std::printf("%-42s answered %3d of %3d; p50 %s, p99 %s, max %s", name, figures.answered,
                figures.asked, shown(figures.p50).c_str(), shown(figures.p99).c_str(),
                shown(figures.max).c_str());
    if (figures.refusedAsOwned > 0)
        std::printf(" (%d refused: setup owned)", figures.refusedAsOwned);
    if (idle)
        std::printf("; x idle: p50 %.1f, p99 %.1f, max %.1f", figures.p50 / idle->p50,
                    figures.p99 / idle->p99, figures.max / idle->max);
    std::printf("\n");
    std::fflush(stdout);
}

// What the helper did beside a hang-up flood.
struct HangUpFigures {
    Figures victim;
    long idleKiB = 0;
    long peakKiB = 0;
    long rewritesDuring = 0;
    // Up to the answer of a request sent once the processes were gone,
    // which the queue runs after every request of theirs it took.
    long rewritesAfter = 0;
    bool drained = false;
    double secondsUntilDrained = 0;
    // Ended when the helper's memory passed memoryLimitKiB.
    std::atomic<bool> cutShort{false};
};

constexpr long memoryLimitKiB = 1024 * 1024;

void reportHangUps(const char* name, const HangUpFigures& figures, const Figures& idle) {
    report(name, figures.victim, &idle);
    std::printf("%-42s helper VmRSS idle %ld KiB, peak %ld KiB; hosts rewritten %ld times during "
                "the flood, %ld after its processes were gone; the next request %s %.1f s\n",
                "", figures.idleKiB, figures.peakKiB, figures.rewritesDuring, figures.rewritesAfter,
                figures.drained ? "answered after" : "not answered after",
                figures.secondsUntilDrained);
    if (figures.cutShort)
        std::printf("%-42s the flood was ended early: the helper passed %ld KiB\n", "",
                    memoryLimitKiB);
    std::fflush(stdout);
}

void copyProgram(const std::filesystem::path& to) {
    std::filesystem::copy_file("/proc/self/exe", to);
    ::chmod(to.c_str(), 0755);
}

} // namespace

int main(int argc, char** argv) {
    helperflood::runModeIfAsked();
    if (::geteuid() != 0) {
        std::fprintf(stderr, "helper-bench: needs root\n");
        return 1;
    }
    const int threads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12000;
    const std::string chosen = argc > 3 ? argv[3] : "threads,client-threads,reconnect,hangups";
    const auto runs = [&chosen](const std::string& name) {
        std::istringstream names(chosen);
        std::string one;
        while (std::getline(names, one, ','))
            if (one == name)
                return true;
        return false;
    };
    const int hangUpProcesses = argc > 4 ? std::max(1, std::atoi(argv[4])) : 2000;

    TemporaryFolder work("vessora-helper-bench");
    const auto& root = work.path();
    ::chmod(root.c_str(), 0755);
    std::filesystem::create_directories(root / "etc");
    std::filesystem::create_directories(root / "bin");
    ::chmod((root / "bin").c_str(), 0755);
    std::ofstream(root / "etc" / "hosts") << "127.0.0.1\tlocalhost\n";
    // The installed program, for the victim; any other program, for floods.
    copyProgram(root / "bin" / "Vessora");
    copyProgram(root / "bin" / "flood");

    HelperSettings settings;
    settings.hosts.folder = root / "etc";
    settings.socketPath = root / "run" / "host-service.sock";
    settings.clientProgram = root / "bin" / "Vessora";
    settings.relayEndpoints = {};
    settings.signing = SigningInfo{"VSSRLNX001", true, std::nullopt};
    const std::string socket = settings.socketPath.string();
    const int backlog = argc > 2 && std::string(argv[2]) != "-" ? helperflood::unitBacklog(argv[2])
                                                                : helperflood::unitBacklog();
    std::optional<helperflood::ActivatedHelper> helper(std::in_place, settings, backlog);

    std::printf("helper-bench: socket backlog %d (socket unit), %d flood threads, %u hardware "
                "threads, load %s\n",
                backlog, threads, std::thread::hardware_concurrency(),
                bench::loadAverage().c_str());
    std::fflush(stdout);
    const auto victim = root / "bin" / "Vessora";
    victimRequests(victim, socket, 20, 5000ms, 30s); // warm-up
    const Figures idle = victimRequests(victim, socket, 200, 5000ms, 60s);
    report("idle helper:", idle, nullptr);

    // Threads of any other program are refused when examined; threads of
    // the client program itself are admitted up to their user's share and
    // hang up again, so their slots turn over.
    const auto threadFlood = [&](const std::filesystem::path& program) {
        helperflood::ModeProcess flood(program, floodUser,
                                       helperflood::threadsMode(socket, threads, 240), 250);
        const std::string started = flood.line(120000);
        if (started != "started") {
            std::fprintf(stderr, "helper-bench: the thread flood did not start: %s\n",
                         started.c_str());
            std::exit(1);
        }
        return victimRequests(victim, socket, 100, 20000ms, 150s);
    };
    bool met = true;
    const std::string flooders = std::to_string(threads) + "-thread flood";
    if (runs("threads")) {
        const Figures threaded = threadFlood(root / "bin" / "flood");
        report((flooders + ":").c_str(), threaded, &idle);
        met = met && threaded.answered == threaded.asked && threaded.p99 <= 1000;
    }
    if (runs("client-threads")) {
        const Figures clientThreads = threadFlood(victim);
        report((flooders + " of the client program:").c_str(), clientThreads, &idle);
        met = met && clientThreads.answered == clientThreads.asked && clientThreads.p99 <= 1000;
    }

    if (runs("reconnect")) {
        Figures reconnecting;
        std::vector<std::unique_ptr<helperflood::ModeProcess>> floods;
        for (uid_t i = 0; i < 8; ++i) {
            floods.push_back(std::make_unique<helperflood::ModeProcess>(
                root / "bin" / "flood", floodUser + 1 + i, helperflood::reconnectMode(socket, 90),
                100));
            if (floods.back()->line(30000) != "started") {
                std::fprintf(stderr, "helper-bench: a reconnect loop did not start\n");
                return 1;
            }
        }
        std::this_thread::sleep_for(300ms);
        reconnecting = victimRequests(victim, socket, 200, 5000ms, 60s);
        report("8 reconnect loops:", reconnecting, &idle);
        met = met && reconnecting.answered == reconnecting.asked && reconnecting.p99 <= 250;
    }

    // A fresh helper for each, so that what one flood left queued does not
    // count against the next.
    const auto hangUpFlood = [&](std::size_t size, HangUpFigures& figures) {
        helper.reset();
        helper.emplace(settings, backlog);
        victimRequests(victim, socket, 5, 5000ms, 30s); // it runs
        figures.idleKiB = helperflood::residentKiB(helper->pid()).value_or(0);
        helperflood::HostsRewrites rewrites(settings.hosts.folder);
        const std::vector<std::string> requests = {
            HostServiceRequest({"flood-a.test"}, false).toJSON(),
            HostServiceRequest({"flood-b.test"}, false).toJSON()};
        {
            helperflood::ModeProcess flood(
                victim, floodUser,
                helperflood::hangUpMode(socket, hangUpProcesses, 240, size, requests), 250);
            const std::string started = flood.line(120000);
            if (started != "started") {
                std::fprintf(stderr, "helper-bench: the hang-up flood did not start: %s\n",
                             started.c_str());
                std::exit(1);
            }
            // A helper whose memory has no bound would take the machine's.
            std::optional<helperflood::PeakResidentMemory> memory(
                std::in_place, helper->pid(), memoryLimitKiB, [&flood, &figures] {
                    figures.cutShort = true;
                    flood.terminate();
                });
            const auto start = helperflood::Clock::now();
            const long before = rewrites.count();
            figures.victim = victimRequests(victim, socket, 20, 5000ms, 10s);
            std::this_thread::sleep_until(start + 10s); // a flood of 10 s
            figures.rewritesDuring = rewrites.count() - before;
            flood.terminate();
            if (flood.line(120000) != "ended") {
                std::fprintf(stderr, "helper-bench: the hang-up flood did not end\n");
                std::exit(1);
            }
            const auto ended = helperflood::Clock::now();
            const std::optional<long> atEnd = rewrites.fence();
            // Refused when decoded: it touches no file.
            helperflood::ModeProcess after(victim, victimUser,
                                           helperflood::requestsMode(socket, 1, 60000ms, "{}"), 90);
            figures.drained = helperflood::timedAnswer(after.line(70000)).has_value();
            const std::optional<long> atAnswer = rewrites.fence();
            figures.rewritesAfter = atEnd && atAnswer ? *atAnswer - *atEnd : -1;
            figures.secondsUntilDrained = bench::secondsSince(ended);
            figures.peakKiB = memory->peakKiB();
        }
    };
    if (runs("hangups")) {
        const std::string name =
            std::to_string(hangUpProcesses) + " processes sending and hanging up";
        HangUpFigures plain;
        hangUpFlood(0, plain);
        reportHangUps((name + ":").c_str(), plain, idle);
        HangUpFigures padded;
        hangUpFlood(HostServiceWire::maxRequestSize, padded);
        reportHangUps((name + ", padded:").c_str(), padded, idle);
        for (const HangUpFigures* figures : {&plain, &padded})
            met = met && figures->victim.answered == figures->victim.asked &&
                  figures->victim.p99 <= 1000 && figures->drained && figures->rewritesAfter >= 0 &&
                  figures->rewritesAfter <= static_cast<long>(settings.maxConnectionsPerUser);
    }

    std::printf("targets (every request answered; p99 <= 1 s beside the thread and hang-up "
                "floods, <= 250 ms beside 8 reconnect loops; after a hang-up flood no more "
                "rewrites than the user's share): %s; load %s\n",
                met ? "met" : "NOT met", bench::loadAverage().c_str());
    return 0;
}
