#include "VessoraCore/Updates/UpdateCheckStore.hpp"

#include "VessoraCore/Foundation/DefaultsValue.hpp"

namespace vessora {

UpdateCheckStore::UpdateCheckStore(std::shared_ptr<UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

std::optional<Date> UpdateCheckStore::lastAttempt() const {
    return DefaultsValue::date(defaults_->value(lastAttemptKey));
}

std::optional<Date> UpdateCheckStore::lastSuccess() const {
    return DefaultsValue::date(defaults_->value(lastSuccessKey));
}

std::optional<AppRelease> UpdateCheckStore::cachedRelease() const {
    const auto bytes = DefaultsValue::bytes(defaults_->value(cachedReleaseKey));
    if (!bytes)
        return std::nullopt;
    try {
        return AppRelease::decode(*bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void UpdateCheckStore::setLastAttempt(Date date) {
    defaults_->set(lastAttemptKey, DefaultsValue::fromDate(date));
}

void UpdateCheckStore::setLastSuccess(Date date) {
    defaults_->set(lastSuccessKey, DefaultsValue::fromDate(date));
}

void UpdateCheckStore::setCachedRelease(const AppRelease& release) {
    defaults_->set(cachedReleaseKey, DefaultsValue::fromBytes(release.encode()));
}

} // namespace vessora
