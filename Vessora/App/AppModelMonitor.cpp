// The monitor: the first load, then one poll per interval, each measured
// from the end of the previous one.
#include "Vessora/App/AppModel.hpp"

#include "Vessora/App/LogTail.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

namespace vessora {

void AppModel::startMonitor() {
    stopMonitor();
    if (!engine_)
        return;
    monitoring_ = true;
    const unsigned generation = monitorGeneration_;
    const auto loaded = [this, generation] {
        refreshPackages([this, generation] { poll(generation); });
    };
    workers_.run(
        this, [engine = engine_] { return engine->allProfiles(); },
        [this, generation, loaded](std::vector<StackProfile> profiles) {
            if (!monitorCurrent(generation))
                return;
            setProfiles(std::move(profiles));
            // Whatever was selected before, the window starts on the first.
            setSelectedID(profiles_.empty() ? std::nullopt : std::optional(profiles_.front().id));
            loaded();
        },
        [this, generation, loaded](const std::string& text) {
            if (!monitorCurrent(generation))
                return;
            setError(text);
            loaded();
        });
}

void AppModel::stopMonitor() {
    monitoring_ = false;
    ++monitorGeneration_;
    monitorTimer_.stop();
}

bool AppModel::monitorCurrent(unsigned generation) const {
    return monitoring_ && generation == monitorGeneration_;
}

void AppModel::poll(unsigned generation) {
    if (!monitorCurrent(generation))
        return;
    // The install log only matters while an operation runs (the stop at
    // quit installs nothing).
    std::optional<std::filesystem::path> log;
    if (busy_ && !quitStopping_)
        log = StackPaths::installLog(dataRoot_);
    const std::uintmax_t start = installLogStart_;
    const unsigned action = actionsBegun_;
    workers_.run(
        this,
        [engine = engine_, setup = hostSetup_, askConnection = localHostReady_, log, start,
         action] {
            PollReading reading;
            reading.action = action;
            reading.statuses = engine->statuses();
            if (askConnection)
                reading.connected = engine->localHostConnected();
            reading.hostSetup = readHostSetup(*setup);
            if (log)
                reading.installLog = LogTail::lastCharacters(*log, installLogCharacters, start);
            return reading;
        },
        [this, generation](PollReading reading) { applyPoll(std::move(reading), generation); },
        [this, generation](const std::string&) { scheduleNextPoll(generation); });
}

void AppModel::applyPoll(PollReading reading, unsigned generation) {
    if (!monitorCurrent(generation))
        return;
    setStatuses(std::move(reading.statuses));
    if (reading.connected && !*reading.connected)
        setLocalHostReady(false);
    applyHostSetupReading(reading.hostSetup);
    if (reconnectDue())
        connectLocalHosts();
    // A poll that was under way when the next action (or the quit's stop)
    // began read the last action's log.
    if (reading.installLog && reading.action == actionsBegun_)
        setInstallLog(std::move(*reading.installLog));
    scheduleNextPoll(generation);
}

void AppModel::scheduleNextPoll(unsigned generation) {
    if (monitorCurrent(generation))
        monitorTimer_.start(monitorInterval_);
}

bool AppModel::reconnectDue() const {
    // Tested in this order; at most one attempt until the registration
    // leaves "enabled" or a removal succeeds.
    return !busy_ && !quitting_ && !localHostReady_ && !hostConnectionAttempted_ &&
           localHostSetupEnabled() && hostSetupReading_ &&
           hostSetupReading_->status == ServiceStatus::enabled && !hostSetupReading_->needsRefresh;
}

} // namespace vessora
