#include "VessoraCore/Import/MigrationPhase.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

namespace vessora {

std::string rawValue(MigrationPhase phase) {
    switch (phase) {
    case MigrationPhase::checking:
        return "Checking import…";
    case MigrationPhase::installing:
        return "Installing missing packages…";
    case MigrationPhase::copying:
        return "Preparing project files…";
    case MigrationPhase::importing:
        return "Starting the new stack and importing SQL…";
    case MigrationPhase::verifying:
        return "Verifying the new environment…";
    }
    return "Checking import…";
}

std::optional<MigrationPhase> migrationPhase(std::string_view raw) {
    for (const MigrationPhase phase : allMigrationPhases())
        if (rawValue(phase) == raw)
            return phase;
    return std::nullopt;
}

std::string displayText(MigrationPhase phase) {
    // Literal keys, so the strings test sees every one of them.
    switch (phase) {
    case MigrationPhase::checking:
        return L10n::text("Checking import…");
    case MigrationPhase::installing:
        return L10n::text("Installing missing packages…");
    case MigrationPhase::copying:
        return L10n::text("Preparing project files…");
    case MigrationPhase::importing:
        return L10n::text("Starting the new stack and importing SQL…");
    case MigrationPhase::verifying:
        return L10n::text("Verifying the new environment…");
    }
    return L10n::text(rawValue(phase));
}

std::vector<MigrationPhase> allMigrationPhases() {
    return {MigrationPhase::checking, MigrationPhase::installing, MigrationPhase::copying,
            MigrationPhase::importing, MigrationPhase::verifying};
}

} // namespace vessora
