#include "VessoraCore/Packages/FormulaInfo.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"

namespace vessora {

FormulaInfo FormulaInfo::fromJSON(const nlohmann::json& json) {
    JsonFields::requireObject(json, "formula");
    FormulaInfo info;
    info.name = JsonFields::requiredString(json, "name");
    info.tap = JsonFields::optionalString(json, "tap");
    info.aliases = JsonFields::stringArray(json, "aliases");
    info.versioned_formulae = JsonFields::stringArray(json, "versioned_formulae");

    auto versions = json.find("versions");
    if (versions == json.end() || versions->is_null())
        throw JsonDecodingError("The data is missing the key “versions”.");
    JsonFields::requireObject(*versions, "value of “versions”");
    info.versions.stable = JsonFields::optionalString(*versions, "stable");

    for (const auto& installed : JsonFields::requiredArray(json, "installed")) {
        JsonFields::requireObject(installed, "element of “installed”");
        info.installed.push_back({JsonFields::requiredString(installed, "version")});
    }
    info.deprecated = JsonFields::requiredBool(json, "deprecated");
    info.disabled = JsonFields::requiredBool(json, "disabled");
    return info;
}

FormulaResponse FormulaResponse::fromJSON(const nlohmann::json& json) {
    JsonFields::requireObject(json, "formula information");
    FormulaResponse response;
    for (const auto& formula : JsonFields::requiredArray(json, "formulae"))
        response.formulae.push_back(FormulaInfo::fromJSON(formula));
    return response;
}

} // namespace vessora
