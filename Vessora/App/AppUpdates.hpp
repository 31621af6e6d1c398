// AppUpdates: the window's update-check state, a main-thread layer over one
// UpdateChecker. It knows the running build's version (none in a development
// build, which never contacts the feed), remembers the last good answer
// across launches, and publishes what the banner, the details sheet, the
// settings window and the "Check for Updates…" command show.
//
// A check starts on the main thread (guards, attempt time), fetches on a
// worker of its own bridge with a stop token, and ends on the main thread.
// Only one check runs at a time: a request while one runs changes nothing.
// Nothing is thrown: a failure ends with one translated sentence in error(),
// a cancelled check with none.
//
// The shell creates one instance for the run and wires it up:
// - startAutomaticChecks(preferences) once the main window is shown: the
//   automatic check runs then and again whenever the preference changes;
// - mainWindowRequested() to raising and activating the main window;
// - showDetailsChanged(true) to opening UpdateDetailsSheet (closing the sheet
//   sets showDetails back to false);
// - cancel() when the application is about to quit.
#pragma once

#include "Vessora/App/BuildInfo.hpp"
#include "Vessora/App/WorkerBridge.hpp"
#include "VessoraCore/Foundation/ReferenceDate.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"
#include "VessoraCore/Updates/ReleaseFeed.hpp"
#include "VessoraCore/Updates/SystemVersion.hpp"
#include "VessoraCore/Updates/UpdateChecker.hpp"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace vessora {

class AppPreferences;

class AppUpdates : public QObject {
    Q_OBJECT

public:
    struct Options {
        // The running build; its version and build number make the
        // installed version (none for a development build).
        BuildInfo build;
        // None: the standard user defaults.
        std::shared_ptr<UserDefaults> defaults;
        // None: the product's release feed.
        std::shared_ptr<const ReleaseFeed> feed;
        // None: the system clock.
        std::function<Date()> clock;
        // None: the running system's version (none on this platform).
        SystemVersionProvider systemVersion;

        // This build with the standard defaults and the product's feed.
        static Options standard();
    };

    explicit AppUpdates(QObject* parent = nullptr);
    explicit AppUpdates(Options options, QObject* parent = nullptr);
    // Cancels a running check and waits for its worker.
    ~AppUpdates() override;
    AppUpdates(const AppUpdates&) = delete;
    AppUpdates& operator=(const AppUpdates&) = delete;

    const std::optional<ReleaseVersion>& installed() const { return checker_.installed(); }
    const std::optional<AppRelease>& latest() const { return checker_.latest(); }
    bool isChecking() const { return checker_.isChecking(); }
    // Already translated; none after a success and while a check runs.
    const std::optional<std::string>& error() const { return checker_.error(); }
    const std::optional<Date>& lastChecked() const { return checker_.lastChecked(); }
    bool showDetails() const { return showDetails_; }
    bool dismissed() const { return checker_.dismissed(); }

    // "1.4.0 (27)", or "Development build" in the interface language.
    std::string currentVersion() const { return checker_.currentVersion(); }
    // None without a latest release or an installed version.
    std::optional<UpdateAvailability> availability() const { return checker_.availability(); }

    // The details sheet sets showDetails false when it closes; the banner's
    // close button sets dismissed.
    void setShowDetails(bool shown);
    void setDismissed(bool dismissed);

    // Cancels the automatic check that runs, if any, then starts one when
    // the schedule says it is due for `enabled`.
    void checkAutomatically(bool enabled);
    // checkAutomatically() with the automatic-check preference now and
    // whenever its value changes (a new value replaces the automatic check
    // that runs, so turning the preference off stops it). Call once.
    void startAutomaticChecks(AppPreferences& preferences);
    // presentDetails(), then one check; does not wait for it.
    void checkManually();
    // Asks for the main window to come forward, then for the details sheet.
    void presentDetails();
    // Stops the running check; it ends without a message.
    void cancel();

signals:
    // Any state change, after the specific signal.
    void changed();
    void checkingChanged(bool checking);
    void showDetailsChanged(bool shown);
    // The main window is to be raised and activated (before showDetails).
    void mainWindowRequested();

private:
    // One check at a time; `automatic` tells checkAutomatically() which
    // check it replaces.
    struct RunningCheck {
        std::stop_source stop;
        bool automatic = false;
    };

    void start(bool automatic);
    void finish(const UpdateFetchResult& result);

    UpdateChecker checker_;
    bool showDetails_ = false;
    // The preference value the automatic check last ran with.
    std::optional<bool> automaticEnabled_;
    std::optional<RunningCheck> running_;
    // Last member: destroyed first, so its wait ends before the state goes.
    WorkerBridge workers_;
};

} // namespace vessora
