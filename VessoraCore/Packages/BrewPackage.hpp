// One entry of the package catalogue: a supported formula with the versions
// Homebrew reported for it. title() is what the version choosers show, e.g.
// "8.4 (8.4.7)", "Apache (2.4.65)" or "10.6 (10.6.23) · deprecated".
#pragma once

#include "VessoraCore/Packages/PackageFamily.hpp"

#include <optional>
#include <string>

namespace vessora {

struct BrewPackage {
    std::string id;
    PackageFamily family = PackageFamily::php;
    std::optional<std::string> availableVersion;
    std::optional<std::string> installedVersion;
    bool deprecated = false;
    bool disabled = false;

    bool installed() const { return installedVersion.has_value(); }
    std::string title() const;

    // Stands for a formula a record names but the catalogue lacks: no
    // versions, shown as disabled.
    static BrewPackage savedSelection(std::string id, PackageFamily family);

    bool operator==(const BrewPackage&) const = default;
};

} // namespace vessora
