#include "VessoraCore/Foundation/JsonFields.hpp"

namespace vessora::JsonFields {
namespace {

std::string quoted(std::string_view key) {
    return "“" + std::string(key) + "”";
}

const nlohmann::json* find(const nlohmann::json& object, std::string_view key) {
    requireObject(object, "value");
    auto found = object.find(std::string(key));
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

const nlohmann::json& required(const nlohmann::json& object, std::string_view key) {
    const auto* value = find(object, key);
    if (!value)
        throw JsonDecodingError("The data is missing the key " + quoted(key) + ".");
    return *value;
}

[[noreturn]] void wrongType(std::string_view key, std::string_view expected) {
    throw JsonDecodingError("The value of " + quoted(key) + " is not " + std::string(expected) +
                            ".");
}

} // namespace

nlohmann::json parse(std::string_view text) {
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error&) {
        throw JsonDecodingError("The data is not valid JSON.");
    }
}

void requireObject(const nlohmann::json& value, std::string_view what) {
    if (!value.is_object())
        throw JsonDecodingError("The " + std::string(what) + " is not a JSON object.");
}

std::string requiredString(const nlohmann::json& object, std::string_view key) {
    const auto& value = required(object, key);
    if (!value.is_string())
        wrongType(key, "a text");
    return value.get<std::string>();
}

std::int64_t requiredInt(const nlohmann::json& object, std::string_view key) {
    const auto& value = required(object, key);
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > std::uint64_t(INT64_MAX))
            wrongType(key, "a 64-bit integer");
        return std::int64_t(value.get<std::uint64_t>());
    }
    if (!value.is_number_integer())
        wrongType(key, "an integer");
    return value.get<std::int64_t>();
}

double requiredNumber(const nlohmann::json& object, std::string_view key) {
    const auto& value = required(object, key);
    if (!value.is_number())
        wrongType(key, "a number");
    return value.get<double>();
}

bool requiredBool(const nlohmann::json& object, std::string_view key) {
    const auto& value = required(object, key);
    if (!value.is_boolean())
        wrongType(key, "a boolean");
    return value.get<bool>();
}

const nlohmann::json& requiredArray(const nlohmann::json& object, std::string_view key) {
    const auto& value = required(object, key);
    if (!value.is_array())
        wrongType(key, "a list");
    return value;
}

std::vector<std::string> stringArray(const nlohmann::json& object, std::string_view key) {
    std::vector<std::string> out;
    for (const auto& item : requiredArray(object, key)) {
        if (!item.is_string())
            wrongType(key, "a list of texts");
        out.push_back(item.get<std::string>());
    }
    return out;
}

std::optional<std::string> optionalString(const nlohmann::json& object, std::string_view key) {
    if (!find(object, key))
        return std::nullopt;
    return requiredString(object, key);
}

std::optional<std::int64_t> optionalInt(const nlohmann::json& object, std::string_view key) {
    if (!find(object, key))
        return std::nullopt;
    return requiredInt(object, key);
}

std::optional<bool> optionalBool(const nlohmann::json& object, std::string_view key) {
    if (!find(object, key))
        return std::nullopt;
    return requiredBool(object, key);
}

std::string pretty(const nlohmann::json& value) {
    return value.dump(2);
}

} // namespace vessora::JsonFields
