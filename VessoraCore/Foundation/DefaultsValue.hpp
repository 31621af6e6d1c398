// Typed values in the user-defaults store, which holds only JSON. A date is
// kept as {"date": seconds since 2001-01-01} and bytes as {"data": Base64};
// reading is a type test: a value of any other shape (another type, extra
// members, a broken Base64 text, a number that is not finite) reads as
// absent, never as an error.
#pragma once

#include "VessoraCore/Foundation/ReferenceDate.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace vessora::DefaultsValue {

nlohmann::json fromDate(Date date);
nlohmann::json fromBytes(std::string_view bytes);

std::optional<Date> date(const std::optional<nlohmann::json>& stored);
std::optional<std::string> bytes(const std::optional<nlohmann::json>& stored);
std::optional<bool> boolean(const std::optional<nlohmann::json>& stored);

} // namespace vessora::DefaultsValue
