// The application's update check without any interface: what it knows (the
// installed version, the latest release, the last success, the last error,
// whether a check runs, whether the banner was closed) and the steps of a
// check. The update-check model is a thin main-thread layer over one of
// these.
//
// A check: begin() on the owning thread (guards, then marks the check
// running, clears the error and records the attempt time), fetch() on any
// thread (the network), finish() back on the owning thread (publishes the
// release or one translated sentence). check() runs the three in a row.
// Nothing is thrown: a failed check ends with a sentence in error(), a
// cancelled one with none. A failed write to the user defaults is caught
// too; it becomes error() at the end of the check unless the check itself
// failed.
//
// Not thread-safe: one thread owns the object; only fetch() runs elsewhere.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"
#include "VessoraCore/Updates/ReleaseFeed.hpp"
#include "VessoraCore/Updates/ReleaseVersion.hpp"
#include "VessoraCore/Updates/SystemVersion.hpp"
#include "VessoraCore/Updates/UpdateAvailability.hpp"
#include "VessoraCore/Updates/UpdateCheckStore.hpp"
#include "VessoraCore/Updates/UpdateFetchResult.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace vessora {

class UpdateChecker {
public:
    struct Options {
        // Where the check's memory lives; none: the standard store.
        std::shared_ptr<UserDefaults> defaults;
        // None: the product's feed (ReleaseFeedClient).
        std::shared_ptr<const ReleaseFeed> feed;
        // The running build's version; none for a development build, which
        // never checks.
        std::optional<ReleaseVersion> installed;
        // None: the system clock.
        std::function<Date()> clock;
        // None: SystemVersion::running.
        SystemVersionProvider systemVersion;
    };

    // Reads the last success and the cached release (a cache that fails the
    // feed's rules is ignored); writes nothing.
    explicit UpdateChecker(Options options);

    const std::optional<ReleaseVersion>& installed() const { return installed_; }
    const std::optional<AppRelease>& latest() const { return latest_; }
    bool isChecking() const { return isChecking_; }
    // Already translated; none after a success and while a check runs.
    const std::optional<std::string>& error() const { return error_; }
    const std::optional<Date>& lastChecked() const { return lastChecked_; }
    // The banner was closed for the current release; only for this run.
    bool dismissed() const { return dismissed_; }
    void setDismissed(bool dismissed) { dismissed_ = dismissed; }

    // "1.4.0 (27)", or "Development build" translated.
    std::string currentVersion() const;
    // None without a latest release or an installed version.
    std::optional<UpdateAvailability> availability() const;

    // Whether the automatic check should run now: an installed version, and
    // the schedule's answer for `enabled` and the stored attempt time.
    bool automaticCheckDue(bool enabled) const;

    // False, changing nothing, for a development build or while a check
    // runs. Otherwise the check runs from here on: error cleared, attempt
    // time stored (before the request, so a failure also waits a day).
    bool begin();
    // The request itself; safe on any thread, never throws.
    static UpdateFetchResult fetch(const ReleaseFeed& feed, std::stop_token stop);
    // Ends the check begun by begin(); does nothing while none runs. A
    // release fetched after `stopRequested` counts as cancelled. A new
    // release (another version, build or components than the latest) shows
    // the banner again; the same one keeps the user's choice.
    void finish(const UpdateFetchResult& result, bool stopRequested);

    // begin(), fetch() and finish() in a row on the calling thread.
    void check(std::stop_token stop = {});
    // check() when automaticCheckDue(enabled).
    void checkAutomatically(bool enabled, std::stop_token stop = {});

    // The feed the checks use, for running fetch() on another thread.
    std::shared_ptr<const ReleaseFeed> feed() const { return feed_; }

private:
    Date now() const;

    UpdateCheckStore store_;
    std::shared_ptr<const ReleaseFeed> feed_;
    std::optional<ReleaseVersion> installed_;
    std::function<Date()> clock_;
    SystemVersionProvider systemVersion_;

    std::optional<AppRelease> latest_;
    bool isChecking_ = false;
    std::optional<std::string> error_;
    std::optional<Date> lastChecked_;
    bool dismissed_ = false;
    // A failed write during the running check, shown when it ends.
    std::optional<std::string> storeFailure_;
};

} // namespace vessora
