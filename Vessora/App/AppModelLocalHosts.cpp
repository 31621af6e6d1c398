// Local addresses: setting them up, removing them and the monitor's
// reconnection. Each follow-up judges success by its own operation's
// outcome, not by `error`, which a package query may have written meanwhile.
#include "Vessora/App/AppModel.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

namespace vessora {

AppModel::HostSetupReading AppModel::readHostSetup(HostSetup& setup) {
    return HostSetupReading{setup.status(), setup.needsRefresh()};
}

void AppModel::applyHostSetupReading(const HostSetupReading& reading) {
    hostSetupReading_ = reading;
    refreshHostSetupState();
}

void AppModel::reloadHostSetupState() {
    workers_.run(
        this, [setup = hostSetup_] { return readHostSetup(*setup); },
        [this](HostSetupReading reading) { applyHostSetupReading(reading); },
        [](const std::string&) {});
}

bool AppModel::localHostSetupEnabled() const {
    const auto value = defaults_->value(localHostSetupEnabledKey);
    return value && value->is_boolean() && value->get<bool>();
}

void AppModel::connectLocalHosts() {
    hostConnectionAttempted_ = true;
    perform(
        L10n::text("Connecting local addresses…"), false,
        [](AppEngine& engine) { engine.configureLocalHosts(true); },
        [this](bool succeeded) {
            setLocalHostReady(succeeded);
            refreshHostSetupState();
        });
}

void AppModel::setUpLocalHosts() {
    if (busy_ || !engine_ || quitting_)
        return;
    // The status bar still shows the end of the action before, which may read
    // "Done" or a failure: each outcome here replaces it, so it never
    // contradicts what the set-up did.
    if (hostSetupReading_ && hostSetupReading_->needsRefresh && hostnameEnvironmentRunning()) {
        setError(L10n::text("Stop environments with hostnames before updating local host setup."));
        setActivity("Action failed. Check the error and logs.");
        return;
    }
    setBusy(true);
    setError(std::nullopt);
    const auto fail = [this](const std::string& text) {
        setError(text);
        setActivity("Action failed. Check the error and logs.");
        finishOperation(false, {});
    };
    const auto succeed = [this] {
        setActivity("Done");
        finishOperation(true, {});
    };
    workers_.run(
        this,
        [setup = hostSetup_, defaults = defaults_] {
            setup->registerHelper();
            defaults->set(localHostSetupEnabledKey, true);
            return readHostSetup(*setup);
        },
        [this, fail, succeed](HostSetupReading reading) {
            applyHostSetupReading(reading);
            if (hostApprovalPending_) {
                // Once the user approves, the monitor connects.
                workers_.run(
                    this, [setup = hostSetup_] { setup->openApproval(); }, succeed, fail);
                return;
            }
            workers_.run(
                this, [engine = engine_] { engine->configureLocalHosts(true); },
                [this, succeed] {
                    setLocalHostReady(true);
                    succeed();
                },
                fail);
        },
        fail);
}

void AppModel::removeLocalHosts() {
    if (busy_)
        return;
    perform(
        L10n::text("Removing local address setup…"), false,
        [setup = hostSetup_, defaults = defaults_](AppEngine& engine) {
            engine.configureLocalHosts(false);
            setup->unregister();
            defaults->set(localHostSetupEnabledKey, false);
        },
        [this](bool succeeded) {
            if (succeeded) {
                setLocalHostReady(false);
                hostConnectionAttempted_ = false;
            }
            // The registration has changed: read it again.
            reloadHostSetupState();
        });
}

} // namespace vessora
