// Construction, state, queries, the package reload and the helper
// registration flags.
#include "Vessora/App/AppModel.hpp"

#include "Vessora/App/LocalHostSetupAdapter.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <algorithm>
#include <filesystem>
#include <set>

namespace vessora {

AppModel::Options AppModel::Options::standard() {
    Options options;
    options.build = BuildInfo::current();
    options.environment = DataRoot::processEnvironment();
    options.openEngine = StackEngineAdapter::open;
    options.hostSetup = std::make_shared<LocalHostSetupAdapter>();
    options.defaults = UserDefaults::standard();
    return options;
}

AppModel::AppModel(QObject* parent) : AppModel(Options::standard(), parent) {}

AppModel::AppModel(Options options, QObject* parent)
    : QObject(parent),
      hostSetup_(options.hostSetup ? options.hostSetup : std::make_shared<LocalHostSetupAdapter>()),
      defaults_(options.defaults ? options.defaults : UserDefaults::standard()),
      build_(options.build), profiles_(StackProfile::defaults()),
      packages_(PackageCatalog::fallback()), quitStopLimit_(options.quitStopLimit),
      quitStopPause_(options.quitStopPause), monitorInterval_(options.monitorInterval) {
    if (!profiles_.empty())
        selectedID_ = profiles_.front().id;
    monitorTimer_.setSingleShot(true);
    monitorTimer_.setTimerType(Qt::PreciseTimer);
    connect(&monitorTimer_, &QTimer::timeout, this, [this] { poll(monitorGeneration_); });
    openEngine(options);
}

AppModel::~AppModel() {
    stopMonitor();
    workers_.waitForDone();
    engine_.reset();
}

void AppModel::openEngine(const Options& options) {
    // Nothing is retried: without an engine the model keeps the built-in
    // records and every engine action does nothing.
    try {
        dataRoot_ = DataRoot::choose(build_, options.environment ? options.environment
                                                                 : DataRoot::processEnvironment());
        const EngineOpener open =
            options.openEngine ? options.openEngine : StackEngineAdapter::open;
        engine_ = open(dataRoot_);
        dataRoot_ = engine_->root();
    } catch (...) {
        engine_.reset();
        error_ = WorkerBridge::errorText(std::current_exception());
        return;
    }
    // The first frame shows the user's own list, never built-in records
    // they do not have.
    profiles_ = engine_->openedProfiles();
    selectedID_ = profiles_.empty() ? std::nullopt : std::optional(profiles_.front().id);
}

std::optional<StackProfile> AppModel::selectedProfile() const {
    if (!selectedID_)
        return std::nullopt;
    for (const StackProfile& profile : profiles_)
        if (profile.id == *selectedID_)
            return profile;
    return std::nullopt;
}

void AppModel::setSelectedID(std::optional<std::string> id) {
    assign(selectedID_, std::move(id), &AppModel::selectionChanged);
}

void AppModel::setShowCreate(bool shown) {
    assign(showCreate_, shown, &AppModel::sheetsChanged);
}

void AppModel::setShowMigration(bool shown) {
    assign(showMigration_, shown, &AppModel::sheetsChanged);
}

void AppModel::setShowDeleteConfirmation(bool shown) {
    assign(showDeleteConfirmation_, shown, &AppModel::sheetsChanged);
}

void AppModel::setPendingDeletion(std::optional<StackProfile> profile) {
    assign(pendingDeletion_, std::move(profile), &AppModel::sheetsChanged);
}

void AppModel::setShowLocalHosts(bool shown) {
    assign(showLocalHosts_, shown, &AppModel::sheetsChanged);
}

void AppModel::setError(std::optional<std::string> text) {
    assign(error_, std::move(text), &AppModel::errorChanged);
}

void AppModel::setProfiles(std::vector<StackProfile> profiles) {
    assign(profiles_, std::move(profiles), &AppModel::profilesChanged);
}

void AppModel::setStatuses(std::map<std::string, StackStatus> statuses) {
    assign(statuses_, std::move(statuses), &AppModel::statusesChanged);
}

void AppModel::setBusy(bool busy) {
    // The shared install log holds earlier actions' lines: this action shows
    // only what it adds from here on (the poll reads the mark), and nothing of
    // the last action's text before its first poll.
    if (busy && !busy_) {
        std::error_code error;
        const std::uintmax_t size =
            std::filesystem::file_size(StackPaths::installLog(dataRoot_), error);
        installLogStart_ = error ? 0 : size;
        ++actionsBegun_;
        setInstallLog({});
    }
    assign(busy_, busy, &AppModel::busyChanged);
}

void AppModel::setActivity(std::string activity) {
    assign(activity_, std::move(activity), &AppModel::activityChanged);
}

void AppModel::setInstallLog(std::string log) {
    assign(installLog_, std::move(log), &AppModel::installLogChanged);
}

void AppModel::setLocalHostReady(bool ready) {
    assign(localHostReady_, ready, &AppModel::hostSetupChanged);
}

bool AppModel::hostnameEnvironmentRunning() const {
    // A starting environment (fewer than three processes) counts as running.
    for (const StackProfile& profile : profiles_) {
        if (!profile.hostname)
            continue;
        const auto status = statuses_.find(profile.id);
        if (status != statuses_.end() && !status->second.processes.empty())
            return true;
    }
    return false;
}

bool AppModel::anyRunning() const {
    return std::any_of(statuses_.begin(), statuses_.end(), [](const auto& entry) {
        return entry.second.running || !entry.second.processes.empty();
    });
}

std::int64_t AppModel::suggestedHTTPSPort() const {
    constexpr std::int64_t first = 8443;
    std::set<std::int64_t> reserved;
    for (const StackProfile& profile : profiles_)
        for (const std::int64_t port : profile.reservedPorts())
            reserved.insert(port);
    for (std::int64_t port = first; port <= 65535; ++port)
        if (reserved.count(port) == 0)
            return port;
    return first;
}

void AppModel::refreshPackages(std::function<void()> done) {
    reloadPackages(std::move(done), true);
}

void AppModel::reloadPackages(std::function<void()> done, bool reportFailure) {
    const auto finish = [done = std::move(done)] {
        if (done)
            done();
    };
    // A second call while one runs neither waits nor queues.
    if (!engine_ || refreshingPackages_) {
        finish();
        return;
    }
    assign(refreshingPackages_, true, &AppModel::packagesChanged);
    workers_.run(
        this, [engine = engine_] { return engine->installations(); },
        [this, finish](InstallationStatus status) {
            installed_ = std::move(status.installed);
            packages_ = std::move(status.packages);
            packageStatusKnown_ = true;
            refreshingPackages_ = false;
            emit packagesChanged();
            emit changed();
            finish();
        },
        [this, finish, reportFailure](const std::string& text) {
            if (reportFailure)
                setError(text);
            assign(refreshingPackages_, false, &AppModel::packagesChanged);
            finish();
        });
}

void AppModel::refreshHostSetupState() {
    if (!hostSetupReading_)
        return;
    const HostSetupReading reading = *hostSetupReading_;
    const bool enabled = reading.status == ServiceStatus::enabled;
    const bool before[] = {hostSetupNeedsUpdate_, hostApprovalPending_, hostSetupRegistered_,
                           localHostReady_};
    hostSetupNeedsUpdate_ = reading.needsRefresh;
    hostApprovalPending_ = reading.status == ServiceStatus::requiresApproval;
    hostSetupRegistered_ =
        reading.status != ServiceStatus::notRegistered && reading.status != ServiceStatus::notFound;
    if (!enabled) {
        // Once the helper is enabled again, the monitor may reconnect.
        localHostReady_ = false;
        hostConnectionAttempted_ = false;
    }
    const bool after[] = {hostSetupNeedsUpdate_, hostApprovalPending_, hostSetupRegistered_,
                          localHostReady_};
    if (!std::equal(std::begin(before), std::end(before), std::begin(after))) {
        emit hostSetupChanged();
        emit changed();
    }
}

} // namespace vessora
