#include "VessoraCore/Records/InstallationStatus.hpp"

#include "VessoraCore/Records/StackProfile.hpp"

namespace vessora {

bool InstallationStatus::ready(const StackProfile& profile) const {
    for (const auto& formula : profile.formulae()) {
        auto found = installed.find(formula);
        if (found == installed.end() || !found->second) {
            return false;
        }
    }
    return true;
}

} // namespace vessora
