// Text lookup. Every sentence is written in English in the code and used as
// its own key in the table "Localizable" of the chosen language; arguments
// fill "%@" placeholders in order. A missing table or translation shows the
// English text. Safe to call from any thread.
#pragma once

#include "VessoraCore/Foundation/AppLanguage.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::L10n {

// The language stored under "Vessora.language" in the standard defaults,
// read on every call; English when absent or unknown.
AppLanguage language();

std::string text(std::string_view key, const std::vector<std::string>& arguments = {},
                 std::optional<AppLanguage> language = std::nullopt);

// Reads the string tables now rather than at the first lookup.
void preload();

// Fills "%@" (and "%N$@") placeholders; "%%" becomes "%". Exposed for tests.
std::string format(std::string_view templateText, const std::vector<std::string>& arguments);

// The folder "Vessora_VessoraCore.bundle" that holds "<code>.lproj": found
// beside the running executable (../share/vessora/), or VESSORA_RESOURCES
// when that names a folder.
std::filesystem::path resourceBundle();

} // namespace vessora::L10n
