// AppPreferences: the two user preferences (automatic update checks and the
// interface language), read from the user defaults once and stored there on
// every assignment, also of the value already held. Main thread only; views
// that show texts connect their render() to changed(), so a new language
// redraws every window at once (L10n::text reads the stored code on each
// lookup).
#pragma once

#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"

#include <QObject>

#include <memory>
#include <optional>
#include <string>

namespace vessora {

class AppPreferences : public QObject {
    Q_OBJECT

public:
    static constexpr const char* automaticUpdateChecksKey = "Vessora.automaticUpdateChecks";
    static constexpr const char* systemLanguagesKey = "AppleLanguages";

    // Reads both values; writes nothing. None: the standard defaults.
    explicit AppPreferences(std::shared_ptr<UserDefaults> defaults = nullptr,
                            QObject* parent = nullptr);

    bool automaticUpdateChecks() const { return automaticUpdateChecks_; }
    AppLanguage language() const { return language_; }
    // The code of language(): "en", "de", "fr" or "it".
    std::string languageCode() const;

    // Each stores, then publishes (the views' redraw reads the stored
    // language). A store that cannot be written
    // keeps the value for this run and reports the sentence through
    // storeError(); nothing is thrown into the window.
    void setAutomaticUpdateChecks(bool enabled);
    void setLanguage(AppLanguage language);

    // Writes the language code as the one-element "AppleLanguages" list; the
    // program calls it at start, before any window exists.
    void writeSystemLanguages();

signals:
    void automaticUpdateChecksChanged(bool enabled);
    void languageChanged();
    void changed();
    void storeError(const QString& message);

private:
    void store(const std::string& key, const nlohmann::json& value);

    std::shared_ptr<UserDefaults> defaults_;
    bool automaticUpdateChecks_ = true;
    AppLanguage language_ = AppLanguage::english;
};

} // namespace vessora
