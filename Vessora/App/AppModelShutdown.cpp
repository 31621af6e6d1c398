// Quitting: wait for the running operation, then stop every environment.
// The engine can still be busy after the interface's own operation has
// ended (the poll's supervision stop, a direct password save), and a refused
// stop-all would leave the servers running in their own process groups
// after the program has gone: so a refusal for that reason alone is tried
// again until the stop bound has passed.
#include "Vessora/App/AppModel.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <QTimer>

namespace vessora {

namespace {

// The engine words its refusal in the language current when it threw.
bool refusedAsBusy(const std::string& text) {
    for (const AppLanguage language : AppLanguages::allCases)
        if (text == L10n::text("Another Vessora action is still in progress.", {}, language))
            return true;
    return false;
}

} // namespace

void AppModel::shutdown(std::function<void()> done) {
    if (done)
        shutdownWaiters_.push_back(std::move(done));
    if (quitting_) {
        if (shutdownFinished_)
            finishShutdown();
        return;
    }
    quitting_ = true;
    // Stored as the key; the status bar translates it.
    setActivity("Stopping environments…");
    afterOperation([this] {
        // The operation's end has set its own activity; from here on nothing
        // new starts, and the windows show every action disabled. The stop
        // installs nothing: no install log while it runs.
        quitStopping_ = true;
        setInstallLog({});
        setBusy(true);
        setActivity("Stopping environments…");
        if (!engine_) {
            finishShutdown();
            return;
        }
        stopAllForQuit(std::chrono::steady_clock::now() + quitStopLimit_);
    });
}

void AppModel::stopAllForQuit(std::chrono::steady_clock::time_point deadline) {
    workers_.run(
        this, [engine = engine_] { engine->stopAll(); }, [this] { finishShutdown(); },
        [this, deadline](const std::string& text) {
            if (refusedAsBusy(text) &&
                std::chrono::steady_clock::now() + quitStopPause_ < deadline) {
                QTimer::singleShot(quitStopPause_, this,
                                   [this, deadline] { stopAllForQuit(deadline); });
                return;
            }
            setError(text);
            finishShutdown();
        });
}

void AppModel::finishShutdown() {
    shutdownFinished_ = true;
    std::vector<std::function<void()>> waiters;
    waiters.swap(shutdownWaiters_);
    for (const auto& waiter : waiters)
        waiter();
}

} // namespace vessora
