// What every benchmark reports beside its own figures: elapsed time,
// medians and the machine's load, which the figures depend on.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace vessora::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The 1, 5 and 15 minute load averages, or "unknown".
inline std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(file >> one >> five >> fifteen))
        return "unknown";
    return one + " " + five + " " + fifteen;
}

} // namespace vessora::bench
