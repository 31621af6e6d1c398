// The steps a project import reports while it runs, in the order it enters
// them: checking, installing (only when packages are installed), copying,
// importing, verifying. The raw value of each is its English progress text,
// which is also the key of its translation; displayText() looks it up.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

enum class MigrationPhase { checking, installing, copying, importing, verifying };

// "Checking import…", "Installing missing packages…", "Preparing project
// files…", "Starting the new stack and importing SQL…", "Verifying the new
// environment…".
std::string rawValue(MigrationPhase phase);

// Exactly one of the five raw values; any other text gives none.
std::optional<MigrationPhase> migrationPhase(std::string_view raw);

// The raw value in the chosen interface language.
std::string displayText(MigrationPhase phase);

// All five, in the order the import reports them.
std::vector<MigrationPhase> allMigrationPhases();

} // namespace vessora
