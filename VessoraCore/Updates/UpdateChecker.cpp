#include "VessoraCore/Updates/UpdateChecker.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Updates/ReleaseFeedClient.hpp"
#include "VessoraCore/Updates/UpdateCheckCancelled.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"
#include "VessoraCore/Updates/UpdateCheckSchedule.hpp"

#include <chrono>

namespace vessora {

UpdateChecker::UpdateChecker(Options options)
    : store_(options.defaults ? std::move(options.defaults) : UserDefaults::standard()),
      feed_(options.feed ? std::move(options.feed) : std::make_shared<ReleaseFeedClient>()),
      installed_(std::move(options.installed)),
      clock_(options.clock ? std::move(options.clock) : std::function<Date()>([] {
          return std::chrono::system_clock::now();
      })),
      systemVersion_(options.systemVersion ? std::move(options.systemVersion)
                                           : SystemVersionProvider(SystemVersion::running)) {
    lastChecked_ = store_.lastSuccess();
    latest_ = store_.cachedRelease();
}

Date UpdateChecker::now() const {
    return clock_();
}

std::string UpdateChecker::currentVersion() const {
    return installed_ ? installed_->displayText() : L10n::text("Development build");
}

std::optional<UpdateAvailability> UpdateChecker::availability() const {
    if (!latest_ || !installed_)
        return std::nullopt;
    return latest_->availability(*installed_, systemVersion_());
}

bool UpdateChecker::automaticCheckDue(bool enabled) const {
    return installed_ && UpdateCheckSchedule::shouldCheck(enabled, store_.lastAttempt(), now());
}

bool UpdateChecker::begin() {
    if (!installed_ || isChecking_)
        return false;
    isChecking_ = true;
    error_.reset();
    storeFailure_.reset();
    try {
        store_.setLastAttempt(now());
    } catch (const std::exception& failure) {
        storeFailure_ = L10n::text("Could not save the update status: %@", {failure.what()});
    }
    return true;
}

UpdateFetchResult UpdateChecker::fetch(const ReleaseFeed& feed, std::stop_token stop) {
    UpdateFetchResult result;
    try {
        result.release = feed.fetch(stop);
        result.kind = UpdateFetchResult::Kind::release;
    } catch (const UpdateCheckCancelled&) {
        result.kind = UpdateFetchResult::Kind::cancelled;
    } catch (const UpdateCheckError& error) {
        result.kind = UpdateFetchResult::Kind::invalidResponse;
        result.detail = error.what();
    } catch (const std::exception& error) {
        result.kind = UpdateFetchResult::Kind::transportFailure;
        result.detail = error.what();
    } catch (...) {
        result.kind = UpdateFetchResult::Kind::transportFailure;
    }
    return result;
}

void UpdateChecker::finish(const UpdateFetchResult& result, bool stopRequested) {
    if (!isChecking_)
        return;
    std::optional<std::string> message;
    auto kind = result.kind;
    if (kind == UpdateFetchResult::Kind::release && (stopRequested || !result.release))
        kind = UpdateFetchResult::Kind::cancelled;
    switch (kind) {
    case UpdateFetchResult::Kind::release: {
        const AppRelease& release = *result.release;
        if (!latest_ || latest_->releaseVersion() != release.releaseVersion())
            dismissed_ = false;
        latest_ = release;
        lastChecked_ = now();
        try {
            store_.setCachedRelease(release);
            store_.setLastSuccess(*lastChecked_);
        } catch (const std::exception& failure) {
            storeFailure_ = L10n::text("Could not save the update status: %@", {failure.what()});
        }
        break;
    }
    case UpdateFetchResult::Kind::cancelled:
        break;
    case UpdateFetchResult::Kind::invalidResponse:
        message = L10n::text("Could not verify the release information. Try again later.");
        break;
    case UpdateFetchResult::Kind::transportFailure:
        message = L10n::text(
            "Could not check for updates. Check your internet connection and try again.");
        break;
    }
    isChecking_ = false;
    error_ = message ? message : storeFailure_;
    storeFailure_.reset();
}

void UpdateChecker::check(std::stop_token stop) {
    if (!begin())
        return;
    const UpdateFetchResult result = fetch(*feed_, stop);
    finish(result, stop.stop_requested());
}

void UpdateChecker::checkAutomatically(bool enabled, std::stop_token stop) {
    if (automaticCheckDue(enabled))
        check(stop);
}

} // namespace vessora
