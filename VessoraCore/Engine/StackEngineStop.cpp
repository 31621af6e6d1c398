// Stop and stop-all, and the escalating stop of one environment's server
// processes that every road down shares.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <csignal>
#include <signal.h>
#include <thread>

namespace vessora {

namespace {

// Checks, pausing between checks at most `pauses` times; true once it ended.
// A pause ends the moment the process does.
bool waitForExit(const ManagedProcess& process, int pauses, std::chrono::milliseconds pause) {
    for (int index = 0; index < pauses; ++index)
        if (process.waitForExit(pause))
            return true;
    return !process.isRunning();
}

// A master that died on its own (crash, kill) can leave its workers behind,
// still holding its listening socket. The group keeps the leader's number
// reserved while any member lives, so the group can still be reached; once
// it is empty the kill finds nobody (ESRCH) and nothing is sent.
void endOrphanedWorkers(const ManagedProcess& process, std::chrono::milliseconds pause) {
    const pid_t group = process.pid();
    if (group <= 0 || ::kill(-group, 0) != 0)
        return;
    ::kill(-group, SIGKILL);
    for (int index = 0; index < 20 && ::kill(-group, 0) == 0; ++index)
        std::this_thread::sleep_for(pause);
}

} // namespace

void StackEngine::stopProcesses(const std::string& id) {
    const ProcessList list = launched(id);
    // Web server first, MariaDB last; the table lock is not held while waiting.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        ManagedProcess& process = **it;
        if (!process.isRunning()) {
            endOrphanedWorkers(process, stopPauses_.kill);
            continue;
        }
        const bool term = process.service() == "MariaDB" || process.service() == "Apache";
        // ManagedProcess signals only its unreaped child, and reaches the
        // whole process group, so no worker outlives its master.
        process.signal(term ? SIGTERM : SIGQUIT);
        if (waitForExit(process, 100, stopPauses_.first))
            continue;
        process.terminate();
        if (waitForExit(process, 20, stopPauses_.second))
            continue;
        process.signal(SIGKILL);
        waitForExit(process, 20, stopPauses_.kill);
    }
    std::lock_guard lock(mutex_);
    const auto entry = processes_.find(id);
    if (entry == processes_.end())
        return;
    std::erase_if(entry->second, [](const auto& process) { return !process->isRunning(); });
    if (entry->second.empty())
        processes_.erase(entry);
}

void StackEngine::stop(const std::string& id) {
    BusyGuard guard(busy_);
    find(id);
    // The router lets go of the environment before its servers go down.
    syncRouter(id);
    stopProcesses(id);
    if (hasProcesses(id))
        throw VessoraError(L10n::text("A service could not be stopped."));
    {
        std::lock_guard lock(mutex_);
        failures_.erase(id);
    }
    sendHostRequest();
}

void StackEngine::stopAll() {
    BusyGuard guard(busy_);
    router_->stop();
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : processes_)
            ids.push_back(entry.first);
    }
    for (const std::string& id : ids)
        stopProcesses(id);
    sendHostRequest();
    std::lock_guard lock(mutex_);
    if (!processes_.empty())
        throw VessoraError(L10n::text("Some services could not be stopped."));
}

} // namespace vessora
