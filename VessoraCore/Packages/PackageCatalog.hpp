// The supported formulae and the rules that turn Homebrew's formula
// information into the catalogue. Everything here is pure.
//
// A series is the first two dot-separated pieces of a version ("8.4.7" ->
// "8.4"). A PHP or MariaDB formula is named "php@N.N" / "mariadb@N.N" with
// one or two digits on each side; the web servers are "nginx" and "httpd".
#pragma once

#include "VessoraCore/Packages/BrewPackage.hpp"
#include "VessoraCore/Packages/FormulaInfo.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace vessora::PackageCatalog {

// The built-in list used before Homebrew answered: PHP series newest first,
// then MariaDB series newest first, then "nginx" and "httpd"; no versions.
const std::vector<BrewPackage>& fallback();

std::string series(std::string_view version);

bool isSeries(std::string_view name, PackageFamily family);

// Supported entries of the core tap, one per id (the first wins), sorted:
// MariaDB newest first, PHP newest first, then nginx, httpd. A disabled
// formula is kept only while a version of it is installed.
std::vector<BrewPackage> packages(const std::vector<FormulaInfo>& formulae);

// Throws VessoraError when the installed version lies outside the series the
// formula name asks for ("php@8.4" wants "8.4.x").
void requireMatchingSeries(std::string_view version, std::string_view formula);

} // namespace vessora::PackageCatalog
