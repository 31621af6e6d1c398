// Ends the servers a killed run left behind, found through their records
// (ServerRecord) in the given folders. Only a record whose very process
// still runs is acted on; every process it names gets SIGTERM on its group
// at once (MariaDB shuts down cleanly on it), then up to `grace` to end,
// then SIGKILL and up to `kill` more. Records of ended, reused or unreadable
// processes are removed; the record of a survivor stays for the next run.
// Never throws.
#pragma once

#include <chrono>
#include <filesystem>
#include <vector>

namespace vessora::ServerSweep {

struct Limits {
    std::chrono::milliseconds grace{10000};
    std::chrono::milliseconds kill{2000};
};

// The number of processes signalled.
int stopRecorded(const std::vector<std::filesystem::path>& folders, Limits limits = {});

} // namespace vessora::ServerSweep
