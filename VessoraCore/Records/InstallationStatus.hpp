// InstallationStatus: which Homebrew formulae are installed, as the Homebrew
// client last saw them, plus the package list it offers.
// ready() answers whether every formula an environment needs is installed;
// a formula missing from the map counts as not installed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "VessoraCore/Packages/BrewPackage.hpp"

namespace vessora {

struct StackProfile;

struct InstallationStatus {
    std::map<std::string, bool> installed;
    std::vector<BrewPackage> packages;

    bool ready(const StackProfile& profile) const;
};

} // namespace vessora
