// The escalating stop of one environment's server processes.
#include "VessoraCore/Engine/StackEngine.hpp"

#include <csignal>
#include <thread>

namespace vessora {

namespace {

// Checks, pausing between checks at most `pauses` times; true once it ended.
bool waitForExit(const ManagedProcess& process, int pauses, std::chrono::milliseconds pause) {
    for (int index = 0; index < pauses; ++index) {
        if (!process.isRunning())
            return true;
        std::this_thread::sleep_for(pause);
    }
    return !process.isRunning();
}

} // namespace

void StackEngine::stopProcesses(const std::string& id) {
    ProcessList list;
    {
        std::lock_guard lock(mutex_);
        if (const auto entry = processes_.find(id); entry != processes_.end())
            list = entry->second;
    }
    // Web server first, MariaDB last; the table lock is not held while waiting.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        ManagedProcess& process = **it;
        if (!process.isRunning())
            continue;
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

} // namespace vessora
