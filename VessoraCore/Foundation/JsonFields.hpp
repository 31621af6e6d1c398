// Strict readers for JSON objects. nlohmann converts between types silently;
// these refuse what a typed decoder would: a 1.0 is not an integer, a 1 is
// not a boolean, a missing or null required key is an error.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

class JsonDecodingError : public std::runtime_error {
public:
    explicit JsonDecodingError(const std::string& message) : std::runtime_error(message) {}
};

namespace JsonFields {

// Parses text; a syntax error becomes a JsonDecodingError.
nlohmann::json parse(std::string_view text);

void requireObject(const nlohmann::json& value, std::string_view what);

std::string requiredString(const nlohmann::json& object, std::string_view key);
std::int64_t requiredInt(const nlohmann::json& object, std::string_view key);
double requiredNumber(const nlohmann::json& object, std::string_view key);
bool requiredBool(const nlohmann::json& object, std::string_view key);
const nlohmann::json& requiredArray(const nlohmann::json& object, std::string_view key);
std::vector<std::string> stringArray(const nlohmann::json& object, std::string_view key);

// Absent or null gives nothing; a present value of another type is an error.
std::optional<std::string> optionalString(const nlohmann::json& object, std::string_view key);
std::optional<std::int64_t> optionalInt(const nlohmann::json& object, std::string_view key);
std::optional<bool> optionalBool(const nlohmann::json& object, std::string_view key);

// Pretty-printed with two spaces; nlohmann's objects keep their keys sorted.
std::string pretty(const nlohmann::json& value);

} // namespace JsonFields
} // namespace vessora
