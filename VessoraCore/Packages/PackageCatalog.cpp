#include "VessoraCore/Packages/PackageCatalog.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <algorithm>

namespace vessora::PackageCatalog {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The whole of name is prefix + "@" + 1-2 digits + "." + 1-2 digits.
bool matchesSeriesName(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() + 1 || name.substr(0, prefix.size()) != prefix ||
        name[prefix.size()] != '@')
        return false;
    auto rest = name.substr(prefix.size() + 1);
    auto digits = [&rest]() {
        std::size_t count = 0;
        while (count < rest.size() && isDigit(rest[count]))
            ++count;
        rest.remove_prefix(count);
        return count;
    };
    auto major = digits();
    if (major < 1 || major > 2 || rest.empty() || rest.front() != '.')
        return false;
    rest.remove_prefix(1);
    auto minor = digits();
    return minor >= 1 && minor <= 2 && rest.empty();
}

std::string afterLastAt(std::string_view name) {
    auto at = name.rfind('@');
    return std::string(at == std::string_view::npos ? name : name.substr(at + 1));
}

// Digit runs compare as numbers, so "8.4.10" orders after "8.4.9"; leading
// zeros do not count. Negative, zero or positive like strcmp.
int compareNumeric(std::string_view left, std::string_view right) {
    auto digitRun = [](std::string_view text, std::size_t& at) {
        auto start = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        while (start + 1 < at && text[start] == '0')
            ++start;
        return text.substr(start, at - start);
    };
    std::size_t i = 0, j = 0;
    while (i < left.size() && j < right.size()) {
        if (isDigit(left[i]) && isDigit(right[j])) {
            auto a = digitRun(left, i), b = digitRun(right, j);
            if (a.size() != b.size())
                return a.size() < b.size() ? -1 : 1;
            if (int order = a.compare(b); order != 0)
                return order < 0 ? -1 : 1;
            continue;
        }
        auto a = static_cast<unsigned char>(left[i++]), b = static_cast<unsigned char>(right[j++]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (i < left.size())
        return 1;
    return j < right.size() ? -1 : 0;
}

} // namespace

const std::vector<BrewPackage>& fallback() {
    static const std::vector<BrewPackage> list = [] {
        std::vector<BrewPackage> result;
        for (const char* version : {"8.5", "8.4", "8.3", "8.2", "8.1"})
            result.push_back({std::string("php@") + version, PackageFamily::php});
        for (const char* version : {"13.0", "12.3", "11.8", "11.4", "10.11", "10.6"})
            result.push_back({std::string("mariadb@") + version, PackageFamily::mariaDB});
        result.push_back({"nginx", PackageFamily::webserver});
        result.push_back({"httpd", PackageFamily::webserver});
        return result;
    }();
    return list;
}

std::string series(std::string_view version) {
    std::string result;
    int pieces = 0;
    while (pieces < 2 && !version.empty()) {
        auto dot = version.find('.');
        auto piece = version.substr(0, dot);
        version = dot == std::string_view::npos ? std::string_view() : version.substr(dot + 1);
        if (piece.empty())
            continue;
        if (pieces++ > 0)
            result += '.';
        result += piece;
    }
    return result;
}

bool isSeries(std::string_view name, PackageFamily family) {
    switch (family) {
    case PackageFamily::php:
        return matchesSeriesName(name, "php");
    case PackageFamily::mariaDB:
        return matchesSeriesName(name, "mariadb");
    case PackageFamily::webserver:
        return name == "nginx" || name == "httpd";
    }
    return false;
}

std::vector<BrewPackage> packages(const std::vector<FormulaInfo>& formulae) {
    std::vector<BrewPackage> result;
    for (const auto& formula : formulae) {
        if (formula.tap != "homebrew/core" || !formula.versions.stable)
            continue;
        const std::string& stable = *formula.versions.stable;
        const std::string& name = formula.name;

        PackageFamily family;
        std::string id;
        if (name == "php") {
            family = PackageFamily::php;
            id = "php@" + series(stable);
        } else if (matchesSeriesName(name, "php")) {
            family = PackageFamily::php;
            id = name;
        } else if (name == "mariadb") {
            family = PackageFamily::mariaDB;
            id = "mariadb@" + series(stable);
        } else if (matchesSeriesName(name, "mariadb")) {
            family = PackageFamily::mariaDB;
            id = name;
        } else if (name == "nginx" || name == "httpd") {
            family = PackageFamily::webserver;
            id = name;
        } else {
            continue;
        }
        if (!isSeries(id, family))
            continue;
        if (name != id &&
            std::find(formula.aliases.begin(), formula.aliases.end(), id) == formula.aliases.end())
            continue;

        std::optional<std::string> installed;
        for (const auto& keg : formula.installed) {
            if (family != PackageFamily::webserver && series(keg.version) != series(stable))
                continue;
            if (!installed || compareNumeric(keg.version, *installed) > 0)
                installed = keg.version;
        }
        if (formula.disabled && !installed)
            continue;
        if (std::any_of(result.begin(), result.end(),
                        [&id](const BrewPackage& package) { return package.id == id; }))
            continue;

        result.push_back({id, family, stable, installed, formula.deprecated, formula.disabled});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const BrewPackage& left, const BrewPackage& right) {
                         auto leftFamily = rawValue(left.family);
                         auto rightFamily = rawValue(right.family);
                         if (leftFamily != rightFamily)
                             return leftFamily < rightFamily;
                         return compareNumeric(left.id, right.id) > 0;
                     });
    return result;
}

void requireMatchingSeries(std::string_view version, std::string_view formula) {
    if (series(version) == afterLastAt(formula))
        return;
    throw VessoraError(L10n::text("%@ resolves to version %@. Refresh packages and reinstall the "
                                  "requested series. Environment data has not been opened.",
                                  {std::string(formula), std::string(version)}));
}

} // namespace vessora::PackageCatalog
