#include "Vessora/App/AppUpdates.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "VessoraCore/Updates/ReleaseFeedClient.hpp"

namespace vessora {

namespace {

UpdateChecker::Options checkerOptions(AppUpdates::Options options) {
    UpdateChecker::Options result;
    result.defaults = options.defaults ? std::move(options.defaults) : UserDefaults::standard();
    result.feed = options.feed ? std::move(options.feed) : std::make_shared<ReleaseFeedClient>();
    // A development build carries no version and so never checks.
    if (!options.build.development)
        result.installed =
            ReleaseVersion::fromBuildInfo(options.build.version, options.build.build);
    result.clock = std::move(options.clock);
    result.systemVersion = std::move(options.systemVersion);
    return result;
}

} // namespace

AppUpdates::Options AppUpdates::Options::standard() {
    Options options;
    options.build = BuildInfo::current();
    return options;
}

AppUpdates::AppUpdates(QObject* parent) : AppUpdates(Options::standard(), parent) {}

AppUpdates::AppUpdates(Options options, QObject* parent)
    : QObject(parent), checker_(checkerOptions(std::move(options))) {}

AppUpdates::~AppUpdates() {
    cancel();
    workers_.waitForDone();
}

void AppUpdates::setShowDetails(bool shown) {
    if (showDetails_ == shown)
        return;
    showDetails_ = shown;
    emit showDetailsChanged(shown);
    emit changed();
}

void AppUpdates::setDismissed(bool dismissed) {
    if (checker_.dismissed() == dismissed)
        return;
    checker_.setDismissed(dismissed);
    emit changed();
}

void AppUpdates::checkAutomatically(bool enabled) {
    // Like a task restarted for the new preference: the old automatic check
    // ends silently. While it winds down the new one finds a check running
    // and starts nothing; its attempt time was stored anyway.
    if (running_ && running_->automatic)
        running_->stop.request_stop();
    if (checker_.automaticCheckDue(enabled))
        start(true);
}

void AppUpdates::startAutomaticChecks(AppPreferences& preferences) {
    automaticEnabled_ = preferences.automaticUpdateChecks();
    checkAutomatically(*automaticEnabled_);
    // Every assignment publishes, also of the same value; only a new value
    // restarts the automatic check.
    connect(&preferences, &AppPreferences::automaticUpdateChecksChanged, this,
            [this](bool enabled) {
                if (automaticEnabled_ == enabled)
                    return;
                automaticEnabled_ = enabled;
                checkAutomatically(enabled);
            });
}

void AppUpdates::checkManually() {
    presentDetails();
    start(false);
}

void AppUpdates::presentDetails() {
    emit mainWindowRequested();
    setShowDetails(true);
}

void AppUpdates::cancel() {
    if (running_)
        running_->stop.request_stop();
}

void AppUpdates::start(bool automatic) {
    if (!checker_.begin())
        return;
    running_ = RunningCheck{std::stop_source(), automatic};
    emit checkingChanged(true);
    emit changed();
    workers_.run(
        this,
        [feed = checker_.feed(), stop = running_->stop.get_token()] {
            return UpdateChecker::fetch(*feed, stop);
        },
        [this](UpdateFetchResult result) { finish(result); },
        [this](const std::string& text) {
            // fetch() catches everything; this is only the bridge's own net.
            UpdateFetchResult result;
            result.kind = UpdateFetchResult::Kind::transportFailure;
            result.detail = text;
            finish(result);
        });
}

void AppUpdates::finish(const UpdateFetchResult& result) {
    const bool stopRequested = running_ && running_->stop.stop_requested();
    running_.reset();
    checker_.finish(result, stopRequested);
    emit checkingChanged(false);
    emit changed();
}

} // namespace vessora
