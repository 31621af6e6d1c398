// AppModel: the one model every window reads and the one road by which the
// interface reaches the engine. It lives on the main thread for the whole
// run and owns the engine (none when opening the data root failed; `error`
// then says why and every engine action does nothing).
//
// The main thread never waits here. Engine and helper-registration calls run
// on the worker bridge and their results are applied on the main thread;
// each setter emits its own signal and changed(), so a view connects its
// render() to the signals it shows.
//
// Operations: perform() runs one engine action at a time (busy, activity,
// error, then the reloads); setUpLocalHosts() and removeLocalHosts() are the
// local-address operations. startMonitor() loads the records and packages
// and then polls the engine every monitor interval (2 s in the program),
// measured from the end of the previous poll.
//
// The registration status of the helper is read once per poll on a worker
// (the service manager's query can take seconds); refreshHostSetupState()
// and the reads of the views use those last values.
#pragma once

#include "Vessora/App/AppEngine.hpp"
#include "Vessora/App/BuildInfo.hpp"
#include "Vessora/App/DataRoot.hpp"
#include "Vessora/App/HostSetup.hpp"
#include "Vessora/App/WorkerBridge.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Packages/BrewPackage.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraCore/Records/StackStatus.hpp"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class AppModel : public QObject {
    Q_OBJECT

public:
    // Runs on a worker with the engine; whatever it throws is the failure.
    // Capture plain values only (ids, records, texts), never the model, a
    // draft or a widget.
    using Action = std::function<void(AppEngine&)>;
    // An action whose end may still be a failure it has reported itself (an
    // import whose report records why it is incomplete): it returns whether
    // it succeeded. Such a failure leaves `error` clear.
    using CheckedAction = std::function<bool(AppEngine&)>;
    // Runs on the main thread once an operation and its reloads have ended;
    // `succeeded` is that operation's own outcome.
    using Finished = std::function<void(bool succeeded)>;
    // Opens the engine on a data root; throws the engine's error.
    using EngineOpener = std::function<std::shared_ptr<AppEngine>(const std::filesystem::path&)>;

    static constexpr const char* localHostSetupEnabledKey = "localHostSetupEnabled";
    static constexpr std::size_t installLogCharacters = 3000;

    // What the program uses unless a test gives its own.
    struct Options {
        BuildInfo build;
        DataRoot::EnvironmentLookup environment;
        EngineOpener openEngine;
        std::shared_ptr<HostSetup> hostSetup;
        std::shared_ptr<UserDefaults> defaults;
        std::chrono::milliseconds monitorInterval{2000};
        // Quitting: how long stop-all is tried again while the engine refuses
        // only because another of its operations runs (the engine's own stop
        // bound, up to 13 s per process), and the pause between the tries.
        std::chrono::milliseconds quitStopLimit{120000};
        std::chrono::milliseconds quitStopPause{250};

        // This build, the process environment, the real engine, systemd
        // registration and the standard user defaults.
        static Options standard();
    };

    explicit AppModel(QObject* parent = nullptr);
    explicit AppModel(Options options, QObject* parent = nullptr);
    // Stops the monitor, waits for every running job, then releases the
    // engine. Running environments are not stopped here.
    ~AppModel() override;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // State.
    // The engine's records from its opening on; the built-in ones without one.
    const std::vector<StackProfile>& profiles() const { return profiles_; }
    const std::map<std::string, StackStatus>& statuses() const { return statuses_; }
    const std::map<std::string, bool>& installed() const { return installed_; }
    const std::vector<BrewPackage>& packages() const { return packages_; }
    bool packageStatusKnown() const { return packageStatusKnown_; }
    bool refreshingPackages() const { return refreshingPackages_; }
    bool busy() const { return busy_; }
    // Stored as given; the status bar looks it up again when it draws it.
    const std::string& activity() const { return activity_; }
    const std::optional<std::string>& error() const { return error_; }
    const std::string& installLog() const { return installLog_; }
    const std::optional<std::string>& selectedID() const { return selectedID_; }
    // The record of selectedID(), if it names a listed environment.
    std::optional<StackProfile> selectedProfile() const;

    // Sheet flags: written by the windows only.
    bool showCreate() const { return showCreate_; }
    bool showMigration() const { return showMigration_; }
    bool showDeleteConfirmation() const { return showDeleteConfirmation_; }
    const std::optional<StackProfile>& pendingDeletion() const { return pendingDeletion_; }
    bool showLocalHosts() const { return showLocalHosts_; }

    // Local addresses.
    bool localHostReady() const { return localHostReady_; }
    bool hostApprovalPending() const { return hostApprovalPending_; }
    bool hostSetupRegistered() const { return hostSetupRegistered_; }
    bool hostSetupNeedsUpdate() const { return hostSetupNeedsUpdate_; }

    // The engine, for the few direct reads that bypass perform() (certificate
    // details, the application account's credentials): run them through
    // workers() with a copy of this pointer. None without an engine.
    std::shared_ptr<AppEngine> engine() const { return engine_; }
    bool hasEngine() const { return engine_ != nullptr; }
    // The engine's root, or the chosen root when the engine could not be
    // opened; empty when there is not even a default root.
    const std::filesystem::path& dataRoot() const { return dataRoot_; }
    WorkerBridge& workers() { return workers_; }
    const BuildInfo& build() const { return build_; }

    // Setters for the windows.
    void setSelectedID(std::optional<std::string> id);
    void setShowCreate(bool shown);
    void setShowMigration(bool shown);
    void setShowDeleteConfirmation(bool shown);
    void setPendingDeletion(std::optional<StackProfile> profile);
    void setShowLocalHosts(bool shown);
    // Sets or clears the error text shown by the windows.
    void setError(std::optional<std::string> text);

    // Queries, computed on each call.
    bool hostnameEnvironmentRunning() const;
    bool anyRunning() const;
    std::int64_t suggestedHTTPSPort() const;

    // Reloads the package state. A call while one runs does nothing; `done`
    // runs on the main thread when this call is over (at once when it does
    // nothing).
    void refreshPackages(std::function<void()> done = {});
    // Applies the helper registration last read by the poll.
    void refreshHostSetupState();

    // Runs an engine action unless one runs already or there is no engine;
    // returns whether it was accepted. A dropped action never calls
    // `finished`. `activity` is shown as given (look it up with L10n::text
    // first).
    bool perform(std::string activity, bool refreshPackages, Action action, Finished finished = {});
    // The same for an action that says whether it succeeded; the status bar
    // says an unsuccessful one failed.
    bool performChecked(std::string activity, bool refreshPackages, CheckedAction action,
                        Finished finished = {});
    // Runs `callback` on the main thread once the running operation (perform
    // or setUpLocalHosts, with their reloads) has ended; at once when none
    // runs.
    void afterOperation(std::function<void()> callback);

    // The window's monitor: loads the records (selecting the first) and the
    // packages, then polls. Starting again restarts it; stopMonitor() ends it
    // without a further poll. Does nothing without an engine.
    void startMonitor();
    void stopMonitor();
    bool monitoring() const { return monitoring_; }

    // The local-addresses sheet's actions.
    void setUpLocalHosts();
    void removeLocalHosts();

    // Quitting: from the first call on, every new action and reconnection is
    // refused; the running operation ends first, then busy is set for good
    // (the windows disable their actions) and every environment is stopped.
    // A stop-all refused only because the engine is busy is tried again
    // after a pause until quitStopLimit has passed. `done` runs on the main
    // thread at the end, whether or not everything stopped (a failure is
    // left in `error`); a later call only adds its `done`.
    void shutdown(std::function<void()> done = {});
    bool quitting() const { return quitting_; }

signals:
    // Any state change, after the specific signal.
    void changed();
    void profilesChanged();
    void statusesChanged();
    // installed, packages, packageStatusKnown, refreshingPackages.
    void packagesChanged();
    void busyChanged();
    void activityChanged();
    void errorChanged();
    void installLogChanged();
    void selectionChanged();
    // showCreate, showMigration, showDeleteConfirmation, pendingDeletion,
    // showLocalHosts.
    void sheetsChanged();
    // localHostReady, hostApprovalPending, hostSetupRegistered,
    // hostSetupNeedsUpdate.
    void hostSetupChanged();
    // An operation and its reloads have ended.
    void operationFinished(bool succeeded);

private:
    // The helper registration as one poll read it.
    struct HostSetupReading {
        ServiceStatus status = ServiceStatus::notRegistered;
        bool needsRefresh = false;
    };
    // Everything one poll reads on its worker.
    struct PollReading {
        std::map<std::string, StackStatus> statuses;
        std::optional<bool> connected;
        HostSetupReading hostSetup;
        std::optional<std::string> installLog;
        // The action the log was read for (actionsBegun_ then).
        unsigned action = 0;
    };
    // What an operation's worker brings back: its outcome and the reloads.
    struct OperationReading {
        // False after a failure, thrown or reported by the action itself.
        bool succeeded = true;
        // What was thrown.
        std::optional<std::string> failure;
        std::optional<bool> connected;
        std::vector<StackProfile> profiles;
        std::map<std::string, StackStatus> statuses;
    };

    void openEngine(const Options& options);

    // Field writers: store, then emit the field's signal and changed().
    template <typename Value>
    void assign(Value& field, Value value, void (AppModel::*signal)());
    void setProfiles(std::vector<StackProfile> profiles);
    void setStatuses(std::map<std::string, StackStatus> statuses);
    void setBusy(bool busy);
    void setActivity(std::string activity);
    void setInstallLog(std::string log);
    void setLocalHostReady(bool ready);

    // perform()'s steps after the action.
    // refreshPackages(); a failure goes to `error` only when reportFailure.
    void reloadPackages(std::function<void()> done, bool reportFailure);
    void applyOperation(OperationReading reading, bool refreshPackages,
                        const std::vector<std::string>& knownIDs, Finished finished);
    void chooseSelection(const std::vector<std::string>& knownIDs);
    void finishOperation(bool succeeded, const Finished& finished);

    // The monitor.
    bool monitorCurrent(unsigned generation) const;
    void poll(unsigned generation);
    void applyPoll(PollReading reading, unsigned generation);
    void scheduleNextPoll(unsigned generation);
    bool reconnectDue() const;

    // Quitting.
    void stopAllForQuit(std::chrono::steady_clock::time_point deadline);
    void finishShutdown();

    // Local addresses.
    void connectLocalHosts();
    void applyHostSetupReading(const HostSetupReading& reading);
    // Reads the registration on a worker, then applies it and refreshes.
    void reloadHostSetupState();
    static HostSetupReading readHostSetup(HostSetup& setup);
    bool localHostSetupEnabled() const;

    // The engine is declared before the bridge, so it is released only
    // after the bridge has waited for every job holding a copy.
    std::shared_ptr<AppEngine> engine_;
    std::shared_ptr<HostSetup> hostSetup_;
    std::shared_ptr<UserDefaults> defaults_;
    BuildInfo build_;
    std::filesystem::path dataRoot_;
    WorkerBridge workers_;

    std::vector<StackProfile> profiles_;
    std::map<std::string, StackStatus> statuses_;
    std::map<std::string, bool> installed_;
    std::vector<BrewPackage> packages_;
    bool packageStatusKnown_ = false;
    bool refreshingPackages_ = false;
    bool busy_ = false;
    std::string activity_ = "Ready";
    std::optional<std::string> error_;
    std::string installLog_;
    // The install log's size when the running action began.
    std::uintmax_t installLogStart_ = 0;
    // Counts the actions begun: a poll's log read for an earlier one is
    // dropped.
    unsigned actionsBegun_ = 0;
    std::optional<std::string> selectedID_;
    bool showCreate_ = false;
    bool showMigration_ = false;
    bool showDeleteConfirmation_ = false;
    std::optional<StackProfile> pendingDeletion_;
    bool showLocalHosts_ = false;
    bool localHostReady_ = false;
    bool hostApprovalPending_ = false;
    bool hostSetupRegistered_ = false;
    bool hostSetupNeedsUpdate_ = false;
    // The automatic reconnection ran in this run; cleared when the
    // registration leaves "enabled" or a removal succeeds.
    bool hostConnectionAttempted_ = false;
    // None until the first poll has read the registration.
    std::optional<HostSetupReading> hostSetupReading_;

    // Waiting for the running operation's end.
    std::vector<std::function<void()>> operationWaiters_;

    bool quitting_ = false;
    // The running operation has ended and the quit's stop-all runs.
    bool quitStopping_ = false;
    bool shutdownFinished_ = false;
    std::vector<std::function<void()>> shutdownWaiters_;
    std::chrono::milliseconds quitStopLimit_;
    std::chrono::milliseconds quitStopPause_;

    QTimer monitorTimer_;
    std::chrono::milliseconds monitorInterval_;
    bool monitoring_ = false;
    // Answers of an earlier monitor run are dropped.
    unsigned monitorGeneration_ = 0;
};

template <typename Value>
void AppModel::assign(Value& field, Value value, void (AppModel::*signal)()) {
    if (field == value)
        return;
    field = std::move(value);
    emit(this->*signal)();
    emit changed();
}

} // namespace vessora
