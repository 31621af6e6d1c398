// Window start: from exec to the first top-level window mapped on the X
// display in DISPLAY (run it under Xvfb), for the program against a bare Qt
// main window, the two interleaved round by round. Each program runs with a
// HOME of its own under /tmp, so no real data root is touched, and is ended
// with SIGTERM once its window is up.
// usage: window-bench PROGRAM ANCHOR [ROUNDS]
// Prints each side's median and range in milliseconds, the median of the
// round-by-round ratios and the load average before and after.
#include "bench/BenchFigures.hpp"

#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using vessora::bench::loadAverage;

using Clock = std::chrono::steady_clock;

// Milliseconds from exec to the first map of a top-level window, or none
// within 30 s.
std::optional<double> timeToMap(xcb_connection_t* connection, xcb_window_t root,
                                const std::string& program, const std::string& home) {
    // Events already queued belong to an earlier round.
    xcb_flush(connection);
    while (xcb_generic_event_t* stale = xcb_poll_for_event(connection))
        std::free(stale);
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        if (std::string(*entry).rfind("HOME=", 0) != 0)
            variables.emplace_back(*entry);
    variables.push_back("HOME=" + home);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string argument0 = program;
    char* argv[] = {argument0.data(), nullptr};
    const auto start = Clock::now();
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        return std::nullopt;
    std::optional<double> elapsed;
    const int descriptor = xcb_get_file_descriptor(connection);
    while (!elapsed && Clock::now() - start < std::chrono::seconds(30)) {
        pollfd wait{descriptor, POLLIN, 0};
        ::poll(&wait, 1, 100);
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !elapsed) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect)
                    elapsed =
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
            std::free(event);
        }
    }
    ::kill(child, SIGTERM);
    int status = 0;
    const auto stopBy = Clock::now() + std::chrono::seconds(10);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > stopBy) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        ::usleep(10000);
    }
    return elapsed;
}

void report(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-8s median %8.1f ms  range %.1f-%.1f ms  (%zu rounds)\n", name,
                values[values.size() / 2], values.front(), values.back(), values.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: window-bench PROGRAM ANCHOR [ROUNDS]\n";
        return 2;
    }
    const std::string program = argv[1], anchor = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::cerr << "No X display: run under Xvfb with DISPLAY set.\n";
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    char pattern[] = "/tmp/window-bench-XXXXXX";
    const std::filesystem::path home = ::mkdtemp(pattern);
    std::cout << "load average before: " << loadAverage() << "\n";
    std::vector<double> programTimes, anchorTimes, ratios;
    // One warm-up round of each, not counted.
    for (int round = -1; round < rounds; ++round) {
        const auto a = timeToMap(connection, root, program, home.string());
        const auto b = timeToMap(connection, root, anchor, home.string());
        if (!a || !b) {
            std::cerr << "A window did not come up within 30 s.\n";
            continue;
        }
        if (round < 0)
            continue;
        programTimes.push_back(*a);
        anchorTimes.push_back(*b);
        ratios.push_back(*a / *b);
    }
    std::filesystem::remove_all(home);
    xcb_disconnect(connection);
    if (ratios.empty())
        return 1;
    report("program", programTimes);
    report("anchor", anchorTimes);
    std::sort(ratios.begin(), ratios.end());
    std::printf("ratio    median %.2f  range %.2f-%.2f\n", ratios[ratios.size() / 2],
                ratios.front(), ratios.back());
    std::cout << "load average after: " << loadAverage() << "\n";
    return 0;
}
