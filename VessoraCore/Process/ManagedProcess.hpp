// A long-running server launched for the engine or the router.
//
// The constructor starts the program at once: standard input /dev/null,
// standard output and error appended to `log` (created with mode 0600 when
// missing; its folder must exist), the shared child environment plus
// `environment`, and a process group of its own, so a signal sent through
// signal() also reaches the workers it starts.
//
// The object never stops its process, not even when destroyed: stopping is
// the owner's job (signals, waits). The destructor only closes the log
// handle. isRunning() reaps the process once it has exited and keeps its
// status; after that signal() refuses, because the pid may belong to some
// other program by then. An owner that drops a process that still runs
// leaves its reaping to nobody, so owners stop before they drop.
//
// With a record folder, the process is recorded there (ServerRecord) as
// soon as it runs, so a later run can end it if this one is killed; the
// record goes when the object goes after its process has ended.
#pragma once

#include "VessoraCore/Foundation/UniqueFd.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vessora {

class ManagedProcess {
public:
    // Throws the platform's error when the log cannot be opened (nothing is
    // started then) or the program cannot be launched (the log stays).
    ManagedProcess(std::string service, const std::filesystem::path& executable,
                   const std::vector<std::string>& arguments, const std::filesystem::path& log,
                   const std::map<std::string, std::string>& environment = {},
                   const std::optional<std::filesystem::path>& recordFolder = std::nullopt);
    ~ManagedProcess();
    ManagedProcess(const ManagedProcess&) = delete;
    ManagedProcess& operator=(const ManagedProcess&) = delete;

    const std::string& service() const { return service_; }
    pid_t pid() const { return pid_; }

    // Non-blocking; reaps the process when it has exited.
    bool isRunning() const;

    // The exit code, or the signal number for a process a signal ended;
    // 0 while it still runs.
    int terminationStatus() const;

    // Waits until the process has ended or `limit` has passed, waking the
    // moment it ends; true once it has ended.
    bool waitForExit(std::chrono::steady_clock::duration limit) const;

    // Readable once the process has ended (a process file descriptor), for
    // callers that wait on it together with other events; -1 when the
    // system offers none.
    int exitDescriptor() const { return exit_.get(); }

    // Sends the signal to the process group; false (nothing sent) once the
    // process has been reaped or when the system refuses.
    bool signal(int signalNumber);
    bool terminate();

private:
    bool reapIfExited() const; // with mutex_ held
    void recordIn(const std::filesystem::path& folder, const std::filesystem::path& executable);

    std::string service_;
    UniqueFd output_;
    pid_t pid_ = -1;
    UniqueFd exit_;
    mutable std::mutex mutex_;
    mutable std::optional<int> status_;
    std::optional<std::filesystem::path> record_;
};

} // namespace vessora
