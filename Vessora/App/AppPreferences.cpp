#include "Vessora/App/AppPreferences.hpp"

#include "VessoraCore/Foundation/DefaultsValue.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <exception>

namespace vessora {

AppPreferences::AppPreferences(std::shared_ptr<UserDefaults> defaults, QObject* parent)
    : QObject(parent), defaults_(defaults ? std::move(defaults) : UserDefaults::standard()) {
    automaticUpdateChecks_ =
        DefaultsValue::boolean(defaults_->value(automaticUpdateChecksKey)).value_or(true);
    const auto stored = defaults_->value(std::string(AppLanguages::preferenceKey));
    if (stored && stored->is_string())
        language_ =
            AppLanguages::fromRawValue(stored->get<std::string>()).value_or(AppLanguage::english);
}

std::string AppPreferences::languageCode() const {
    return AppLanguages::id(language_);
}

void AppPreferences::setAutomaticUpdateChecks(bool enabled) {
    automaticUpdateChecks_ = enabled;
    store(automaticUpdateChecksKey, enabled);
    emit automaticUpdateChecksChanged(enabled);
    emit changed();
}

void AppPreferences::setLanguage(AppLanguage language) {
    language_ = language;
    // Stored before the signal's receivers redraw: L10n::text reads the code
    // from the defaults on every lookup.
    store(std::string(AppLanguages::preferenceKey), languageCode());
    writeSystemLanguages();
    emit languageChanged();
    emit changed();
}

void AppPreferences::writeSystemLanguages() {
    store(systemLanguagesKey, nlohmann::json::array({languageCode()}));
}

void AppPreferences::store(const std::string& key, const nlohmann::json& value) {
    try {
        defaults_->set(key, value);
    } catch (const std::exception& error) {
        emit storeError(QString::fromStdString(
            L10n::text("Could not save the preferences: %@", {error.what()})));
    }
}

} // namespace vessora
