// Running one engine action at a time, and the reloads after it.
#include "Vessora/App/AppModel.hpp"

#include <algorithm>

namespace vessora {

bool AppModel::perform(std::string activity, bool refreshPackages, Action action,
                       Finished finished) {
    return performChecked(
        std::move(activity), refreshPackages,
        [action = std::move(action)](AppEngine& engine) {
            action(engine);
            return true;
        },
        std::move(finished));
}

bool AppModel::performChecked(std::string activity, bool refreshPackages, CheckedAction action,
                              Finished finished) {
    if (busy_ || !engine_ || quitting_)
        return false;
    setBusy(true);
    setActivity(std::move(activity));
    setError(std::nullopt);
    std::vector<std::string> knownIDs;
    for (const StackProfile& profile : profiles_)
        knownIDs.push_back(profile.id);

    // The action and every reload run on one worker; the reads it makes
    // after the action are always served and never throw.
    workers_.run(
        this,
        [engine = engine_, action = std::move(action)] {
            OperationReading reading;
            try {
                reading.succeeded = action(*engine);
            } catch (...) {
                reading.succeeded = false;
                reading.failure = WorkerBridge::errorText(std::current_exception());
            }
            if (!reading.succeeded)
                reading.connected = engine->localHostConnected();
            reading.profiles = engine->allProfiles();
            reading.statuses = engine->statuses();
            return reading;
        },
        [this, refreshPackages, knownIDs, finished](OperationReading reading) {
            applyOperation(std::move(reading), refreshPackages, knownIDs, finished);
        },
        [this, finished](const std::string& text) {
            setError(text);
            setActivity("Action failed. Check the error and logs.");
            finishOperation(false, finished);
        });
    return true;
}

void AppModel::applyOperation(OperationReading reading, bool refreshPackages,
                              const std::vector<std::string>& knownIDs, Finished finished) {
    const bool succeeded = reading.succeeded;
    // The status bar translates these keys when it draws them. A failure the
    // action reported itself is shown where it was reported, not in `error`.
    if (succeeded) {
        setActivity("Done");
    } else {
        if (reading.failure)
            setError(reading.failure);
        setLocalHostReady(reading.connected.value_or(false));
        setActivity("Action failed. Check the error and logs.");
    }
    setProfiles(std::move(reading.profiles));
    chooseSelection(knownIDs);
    const bool anyHostname =
        std::any_of(profiles_.begin(), profiles_.end(),
                    [](const StackProfile& p) { return p.hostname.has_value(); });
    if (anyHostname && !localHostReady_)
        refreshHostSetupState();
    setStatuses(std::move(reading.statuses));
    if (!refreshPackages) {
        finishOperation(succeeded, finished);
        return;
    }
    // After a failed action its own error stays in view: a package query
    // failing as well (no Homebrew, say) must not hide why the action failed.
    reloadPackages([this, succeeded, finished] { finishOperation(succeeded, finished); },
                   succeeded);
}

void AppModel::chooseSelection(const std::vector<std::string>& knownIDs) {
    // A created or imported environment is the one to show next.
    for (const StackProfile& profile : profiles_) {
        if (std::find(knownIDs.begin(), knownIDs.end(), profile.id) == knownIDs.end()) {
            setSelectedID(profile.id);
            return;
        }
    }
    if (selectedID_ && selectedProfile())
        return;
    setSelectedID(profiles_.empty() ? std::nullopt : std::optional(profiles_.front().id));
}

void AppModel::finishOperation(bool succeeded, const Finished& finished) {
    setBusy(false);
    std::vector<std::function<void()>> waiters;
    waiters.swap(operationWaiters_);
    if (finished)
        finished(succeeded);
    emit operationFinished(succeeded);
    for (const auto& waiter : waiters)
        waiter();
}

void AppModel::afterOperation(std::function<void()> callback) {
    if (!callback)
        return;
    if (!busy_) {
        callback();
        return;
    }
    operationWaiters_.push_back(std::move(callback));
}

} // namespace vessora
