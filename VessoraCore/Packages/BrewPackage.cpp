#include "VessoraCore/Packages/BrewPackage.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <utility>

namespace vessora {

std::string BrewPackage::title() const {
    std::string title;
    if (id == "httpd") {
        title = "Apache";
    } else if (id == "nginx") {
        title = "nginx";
    } else {
        auto at = id.rfind('@');
        title = at == std::string::npos ? id : id.substr(at + 1);
    }
    if (const auto& version = installedVersion ? installedVersion : availableVersion)
        title += " (" + *version + ")";
    if (disabled)
        title += " \u00B7 " + L10n::text("disabled");
    else if (deprecated)
        title += " \u00B7 " + L10n::text("deprecated");
    return title;
}

BrewPackage BrewPackage::savedSelection(std::string id, PackageFamily family) {
    BrewPackage package;
    package.id = std::move(id);
    package.family = family;
    package.disabled = true;
    return package;
}

} // namespace vessora
