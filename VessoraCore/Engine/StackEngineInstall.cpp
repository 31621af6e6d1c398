// Installs the Homebrew formulae one environment needs and still misses.
#include "VessoraCore/Engine/StackEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

namespace vessora {

void StackEngine::install(const std::string& id) {
    BusyGuard guard(busy_);
    const StackProfile profile = find(id);
    {
        std::lock_guard lock(mutex_);
        if (!processes_.empty())
            throw VessoraError(L10n::text("Stop all environments before installing packages."));
    }
    const InstallationStatus status = brew_.installations();
    std::vector<std::string> missing;
    for (const std::string& formula : profile.formulae()) {
        const auto entry = status.installed.find(formula);
        if (entry == status.installed.end() || !entry->second)
            missing.push_back(formula);
    }
    // The shared log of every install of this data root; only ever appended to.
    const std::filesystem::path log = root_ / "logs" / "homebrew-install.log";
    // With nothing missing this only checks that brew is there.
    // No start runs meanwhile (busy), so none keeps a prefix from before.
    forgetPrefixes();
    brew_.install(missing, log);
}

} // namespace vessora
