// The status poll, and the supervision it runs while the engine is idle:
// a lost helper connection, a dead router and a server that exited each
// stop what can no longer work and leave a failure text behind.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <exception>

namespace vessora {

namespace {

// Takes the busy flag only when no operation holds it; releases it at the end.
class BusyClaim {
public:
    explicit BusyClaim(std::atomic<bool>& busy) : busy_(busy) {
        bool expected = false;
        owned_ = busy_.compare_exchange_strong(expected, true);
    }
    ~BusyClaim() {
        if (owned_)
            busy_.store(false);
    }
    BusyClaim(const BusyClaim&) = delete;
    BusyClaim& operator=(const BusyClaim&) = delete;
    bool owned() const { return owned_; }

private:
    std::atomic<bool>& busy_;
    bool owned_ = false;
};

using Processes = std::vector<std::shared_ptr<ManagedProcess>>;

// The processes of a list that no longer run, in list order.
Processes exitedOf(const Processes& list) {
    Processes exited;
    for (const auto& process : list)
        if (!process->isRunning())
            exited.push_back(process);
    return exited;
}

} // namespace

void StackEngine::stopEach(const std::function<bool(const StackProfile&)>& affected,
                           const std::string& failure) {
    for (const StackProfile& profile : allProfiles()) {
        if (!affected(profile) || !hasProcesses(profile.id))
            continue;
        stopProcesses(profile.id);
        std::lock_guard lock(mutex_);
        failures_[profile.id] = failure;
    }
}

std::map<std::string, StackStatus> StackEngine::statuses() {
    // Each case is judged again once the flag is claimed: an operation that
    // held it until a moment ago may have changed what the first look saw.
    const auto lostHelper = [this] {
        const bool connected = hostClient_->isConnected();
        std::lock_guard lock(mutex_);
        return localHostsEnabled_ && !connected;
    };
    if (lostHelper()) {
        BusyClaim claim(busy_);
        if (claim.owned() && lostHelper()) {
            {
                std::lock_guard lock(mutex_);
                localHostsEnabled_ = false;
            }
            router_->stop();
            stopEach([](const StackProfile& profile) { return profile.hostname.has_value(); },
                     L10n::text("Local host setup disconnected. Reconnect it before starting "
                                "this environment."));
        }
    }

    // Router gone while an environment that routes through it has processes.
    const auto routerGone = [this] {
        if (router_->isRunning())
            return false;
        std::lock_guard lock(mutex_);
        for (const StackProfile& profile : profiles_)
            if (profile.virtualHost && processes_.count(profile.id) != 0)
                return true;
        return false;
    };
    if (routerGone()) {
        BusyClaim claim(busy_);
        if (claim.owned() && routerGone()) {
            router_->stop();
            stopEach([](const StackProfile& profile) { return profile.virtualHost; },
                     L10n::text("The local host router stopped. Start the environment again."));
            try {
                sendHostRequest();
            } catch (const std::exception&) {
                // The poll never fails; the next change sends it again.
            }
        }
    }

    std::map<std::string, StackStatus> result;
    for (const StackProfile& profile : allProfiles()) {
        const std::string& id = profile.id;
        ProcessList list = launched(id);
        if (!exitedOf(list).empty()) {
            if (exitSeen_)
                exitSeen_(id);
            BusyClaim claim(busy_);
            if (claim.owned()) {
                // A stop or a failed start may have ended these processes
                // and let go of the flag since the list was read: only what
                // the table holds now counts, so neither a clean stop nor a
                // start's own failure text turns into "Process exited:".
                list = launched(id);
                const ProcessList exited = exitedOf(list);
                if (!exited.empty()) {
                    std::string text = L10n::text("Process exited:") + " ";
                    for (std::size_t index = 0; index < exited.size(); ++index) {
                        if (index > 0)
                            text += ", ";
                        text += exited[index]->service() + " (" +
                                std::to_string(exited[index]->terminationStatus()) + ")";
                    }
                    takeDown(id, text);
                    result[id] = StackStatus{false, text, {}};
                    continue;
                }
            }
        }
        StackStatus status;
        if (list.empty()) {
            // Read after any supervision above, which may have recorded it.
            std::optional<std::string> failure;
            {
                std::lock_guard lock(mutex_);
                if (const auto entry = failures_.find(id); entry != failures_.end())
                    failure = entry->second;
            }
            if (failure)
                status.description = *failure;
            else if (importUnfinished(StackPaths(root_, profile).migrationReport()))
                status.description = L10n::text("Migration incomplete");
            else
                status.description = L10n::text("Stopped");
        } else {
            status.running = exitedOf(list).empty() && list.size() == 3;
            status.description = L10n::text(status.running ? "Running" : "Preparing…");
            for (const auto& process : list)
                if (process->isRunning())
                    status.processes[process->service()] = process->pid();
        }
        result[id] = status;
    }
    return result;
}

} // namespace vessora
