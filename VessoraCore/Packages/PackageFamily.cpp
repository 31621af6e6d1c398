#include "VessoraCore/Packages/PackageFamily.hpp"

namespace vessora {

std::string rawValue(PackageFamily family) {
    switch (family) {
    case PackageFamily::php:
        return "php";
    case PackageFamily::mariaDB:
        return "mariaDB";
    case PackageFamily::webserver:
        return "webserver";
    }
    return "php";
}

std::optional<PackageFamily> packageFamily(std::string_view raw) {
    if (raw == "php")
        return PackageFamily::php;
    if (raw == "mariaDB")
        return PackageFamily::mariaDB;
    if (raw == "webserver")
        return PackageFamily::webserver;
    return std::nullopt;
}

} // namespace vessora
