// The interface languages, in the order every list of them uses.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vessora {

enum class AppLanguage { english, german, french, italian };

namespace AppLanguages {

inline constexpr std::array<AppLanguage, 4> allCases{AppLanguage::english, AppLanguage::german,
                                                     AppLanguage::french, AppLanguage::italian};

// The user-defaults key under which the chosen code is stored.
inline constexpr std::string_view preferenceKey = "Vessora.language";

// "en", "de", "fr", "it".
std::string id(AppLanguage language);
// The display name, never translated.
std::string name(AppLanguage language);
// Exactly the four codes, case-sensitive.
std::optional<AppLanguage> fromRawValue(std::string_view code);

} // namespace AppLanguages
} // namespace vessora
