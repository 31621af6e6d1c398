#include "VessoraCore/Foundation/AppLanguage.hpp"

namespace vessora::AppLanguages {

std::string id(AppLanguage language) {
    switch (language) {
    case AppLanguage::english:
        return "en";
    case AppLanguage::german:
        return "de";
    case AppLanguage::french:
        return "fr";
    case AppLanguage::italian:
        return "it";
    }
    return "en";
}

std::string name(AppLanguage language) {
    switch (language) {
    case AppLanguage::english:
        return "English";
    case AppLanguage::german:
        return "Deutsch";
    case AppLanguage::french:
        return "Français";
    case AppLanguage::italian:
        return "Italiano";
    }
    return "English";
}

std::optional<AppLanguage> fromRawValue(std::string_view code) {
    for (AppLanguage language : allCases) {
        if (id(language) == code)
            return language;
    }
    return std::nullopt;
}

} // namespace vessora::AppLanguages
