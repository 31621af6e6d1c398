// The part of Homebrew's formula information ("brew info --json=v2") that the
// catalogue reads. Decoding is strict: a missing required key or a value of
// the wrong JSON type throws JsonDecodingError; unknown keys are ignored.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vessora {

struct FormulaInfo {
    struct Versions {
        std::optional<std::string> stable;
    };
    struct Installed {
        std::string version;
    };

    std::string name;
    std::optional<std::string> tap;
    std::vector<std::string> aliases;
    std::vector<std::string> versioned_formulae;
    Versions versions;
    std::vector<Installed> installed;
    bool deprecated = false;
    bool disabled = false;

    static FormulaInfo fromJSON(const nlohmann::json& json);
};

struct FormulaResponse {
    std::vector<FormulaInfo> formulae;

    static FormulaResponse fromJSON(const nlohmann::json& json);
};

} // namespace vessora
