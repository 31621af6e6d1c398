// The update check's memory across launches, in the user defaults:
// "Vessora.updates.lastAttempt" and "Vessora.updates.lastSuccess" (dates)
// and "Vessora.updates.cachedRelease" (the bytes of the release's JSON).
// A value of the wrong kind reads as absent; a cached release is read
// through the feed's own rules, so a damaged or outdated entry reads as
// absent too. Writes throw the store's error.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"

#include <memory>
#include <optional>

namespace vessora {

class UpdateCheckStore {
public:
    static constexpr const char* lastAttemptKey = "Vessora.updates.lastAttempt";
    static constexpr const char* lastSuccessKey = "Vessora.updates.lastSuccess";
    static constexpr const char* cachedReleaseKey = "Vessora.updates.cachedRelease";

    explicit UpdateCheckStore(std::shared_ptr<UserDefaults> defaults);

    std::optional<Date> lastAttempt() const;
    std::optional<Date> lastSuccess() const;
    std::optional<AppRelease> cachedRelease() const;

    void setLastAttempt(Date date);
    void setLastSuccess(Date date);
    void setCachedRelease(const AppRelease& release);

private:
    std::shared_ptr<UserDefaults> defaults_;
};

} // namespace vessora
