// The three kinds of formulae an environment is built from. The raw values
// are the texts stored in records and used to order the catalogue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora {

enum class PackageFamily { php, mariaDB, webserver };

std::string rawValue(PackageFamily family);

// Exactly "php", "mariaDB" or "webserver" (case-sensitive); nothing otherwise.
std::optional<PackageFamily> packageFamily(std::string_view raw);

} // namespace vessora
