#include "VessoraCore/Foundation/DefaultsValue.hpp"

#include "VessoraCore/Foundation/Base64.hpp"

#include <cmath>

namespace vessora::DefaultsValue {
namespace {

// The one member of a wrapped value, when the value is exactly that.
const nlohmann::json* member(const std::optional<nlohmann::json>& stored, const char* key) {
    if (!stored || !stored->is_object() || stored->size() != 1)
        return nullptr;
    auto found = stored->find(key);
    return found == stored->end() ? nullptr : &*found;
}

} // namespace

nlohmann::json fromDate(Date date) {
    return nlohmann::json{{"date", ReferenceDate::seconds(date)}};
}

nlohmann::json fromBytes(std::string_view bytes) {
    return nlohmann::json{{"data", Base64::encode(bytes)}};
}

std::optional<Date> date(const std::optional<nlohmann::json>& stored) {
    const auto* seconds = member(stored, "date");
    if (!seconds || !seconds->is_number())
        return std::nullopt;
    const double value = seconds->get<double>();
    // The clock holds about 292 years either side of 1970; a stored value
    // beyond that is no date this program wrote.
    if (!std::isfinite(value) || std::fabs(value) > 8e9)
        return std::nullopt;
    return ReferenceDate::date(value);
}

std::optional<std::string> bytes(const std::optional<nlohmann::json>& stored) {
    const auto* text = member(stored, "data");
    if (!text || !text->is_string())
        return std::nullopt;
    return Base64::decode(text->get_ref<const std::string&>());
}

std::optional<bool> boolean(const std::optional<nlohmann::json>& stored) {
    if (!stored || !stored->is_boolean())
        return std::nullopt;
    return stored->get<bool>();
}

} // namespace vessora::DefaultsValue
