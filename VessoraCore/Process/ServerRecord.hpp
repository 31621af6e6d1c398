// What identifies a launched server after the run that launched it is gone:
// the boot it ran in, its pid, its start time (clock ticks after boot, which
// a later process with the same pid cannot share) and the program launched.
//
// A record is kept as "<pid>.json" in a folder of records while its server
// may run, so the next engine on the same data root can end a server that a
// killed run left behind. isAlive() is true only for the very process the
// record names: a reused pid, another user's process or a finished one is
// never taken for it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace vessora {

struct ServerRecord {
    std::string service;
    pid_t pid = -1;
    std::uint64_t startTime = 0;
    std::string bootID;
    // The executable launched, with symbolic links resolved.
    std::string program;
    // Whether that file was a script when it was launched; read then, since
    // an upgrade may have replaced or removed it by the time a later run
    // looks. A record without it (an older one) reads the file.
    bool script = false;

    // Throws std::invalid_argument naming the fault.
    void validate() const;
    nlohmann::json toJSON() const;
    // Throws JsonDecodingError or std::invalid_argument.
    static ServerRecord fromJSON(const nlohmann::json& value);

    // The record of a live process of ours; nothing when the system shows
    // no such process.
    static std::optional<ServerRecord> of(pid_t pid, std::string service,
                                          const std::filesystem::path& program);

    // The same boot, the same start time, still at the head of its own
    // process group and not a zombie, and running the recorded program, or
    // the file that was there before an upgrade replaced it. A program that
    // was a script replaced itself with the one it wraps, so for a script
    // the other checks decide alone.
    bool isAlive() const;

    // The file name of the record in its folder.
    std::string fileName() const { return std::to_string(pid) + ".json"; }
};

namespace ProcessInfo {

// The running kernel's boot id; empty when the system offers none.
std::string bootID();

// Fields of /proc/PID/stat that identify a process.
struct Stat {
    char state = '?';
    pid_t group = -1;
    std::uint64_t startTime = 0;
};
std::optional<Stat> stat(pid_t pid);

} // namespace ProcessInfo

} // namespace vessora
