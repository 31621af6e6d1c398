#include "VessoraCore/Packages/Homebrew.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {
namespace {

constexpr std::string_view tap = "homebrew/core/";
constexpr double queryTimeout = 60;
constexpr double installTimeout = 1800;

const std::vector<std::string>& baseFormulae() {
    static const std::vector<std::string> names{"php", "mariadb", "nginx", "httpd", "phpmyadmin"};
    return names;
}

bool containsLineBreak(std::string_view text) {
    for (std::string_view lineBreak : {"\n", "\r", "\v", "\f", "\u0085", "\u2028", "\u2029"})
        if (text.find(lineBreak) != std::string_view::npos)
            return true;
    return false;
}

// The JSON object between the first "{" that ends a line and the last "}";
// brew's warnings around it are left out.
std::string jsonPart(const std::string& output) {
    std::size_t open = std::string::npos;
    for (auto at = output.find('{'); at != std::string::npos; at = output.find('{', at + 1)) {
        if (at + 1 < output.size() && (output[at + 1] == '\n' || output[at + 1] == '\r')) {
            open = at;
            break;
        }
    }
    auto close = output.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open)
        throw VessoraError(L10n::text("Homebrew did not return readable version data."));
    return output.substr(open, close - open + 1);
}

} // namespace

Homebrew::Homebrew(std::filesystem::path executable) : executable_(std::move(executable)) {}

void Homebrew::requireAvailable() const {
    struct stat info {};
    if (::stat(executable_.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(executable_.c_str(), X_OK) == 0)
        return;
    throw VessoraError(L10n::text("Homebrew was not found at /home/linuxbrew/.linuxbrew/bin/brew. "
                                  "Install Homebrew on Linux first: "
                                  "https://docs.brew.sh/Homebrew-on-Linux"));
}

std::filesystem::path Homebrew::prefix(const std::string& formula) const {
    return answeredPrefix(formula).keg;
}

BrewPrefix Homebrew::answeredPrefix(const std::string& formula) const {
    requireAvailable();
    auto result = Command::run(executable_, {"--prefix", "--installed", std::string(tap) + formula},
                               {.timeout = queryTimeout});
    if (result.status != 0)
        throw VessoraError(result.failureMessage(executable_.filename().string()));

    auto path = UnicodeText::trimmed(result.output);
    if (path.empty() || path.front() != '/' || containsLineBreak(path))
        throw VessoraError(L10n::text("Invalid Homebrew path for %@.", {formula}));
    return BrewPrefix::resolve(path);
}

std::vector<FormulaInfo> Homebrew::info(const std::vector<std::string>& formulae) const {
    if (formulae.empty())
        return {};
    std::vector<std::string> arguments{"info", "--json=v2", "--formula"};
    for (const auto& formula : formulae)
        arguments.push_back(std::string(tap) + formula);
    auto result = Command::run(
        executable_, arguments,
        {.timeout = queryTimeout,
         .environment = {{"HOMEBREW_NO_AUTO_UPDATE", "1"}, {"HOMEBREW_NO_ANALYTICS", "1"}}});
    if (result.status != 0)
        throw VessoraError(result.failureMessage(executable_.filename().string()));
    return FormulaResponse::fromJSON(JsonFields::parse(jsonPart(result.output))).formulae;
}

InstallationStatus Homebrew::installations() const {
    requireAvailable();
    auto base = info(baseFormulae());

    std::set<std::string> series; // sorted, no duplicates
    for (const auto& formula : base)
        for (const auto& name : formula.versioned_formulae)
            if (PackageCatalog::isSeries(name, PackageFamily::php) ||
                PackageCatalog::isSeries(name, PackageFamily::mariaDB))
                series.insert(name);
    auto versioned = info(std::vector<std::string>(series.begin(), series.end()));

    auto all = base;
    all.insert(all.end(), versioned.begin(), versioned.end());
    InstallationStatus status;
    status.packages = PackageCatalog::packages(all);
    for (const auto& package : status.packages)
        status.installed[package.id] = package.installed();
    auto phpMyAdmin = std::find_if(base.begin(), base.end(), [](const FormulaInfo& formula) {
        return formula.name == "phpmyadmin";
    });
    status.installed["phpmyadmin"] = phpMyAdmin != base.end() && !phpMyAdmin->installed.empty();
    return status;
}

void Homebrew::install(const std::vector<std::string>& formulae,
                       const std::filesystem::path& log) const {
    requireAvailable();
    if (formulae.empty())
        return;
    auto status = installations();
    std::set<std::string> allowed{"phpmyadmin"};
    for (const auto& package : status.packages)
        if (!package.disabled)
            allowed.insert(package.id);
    for (const auto& formula : formulae)
        if (!allowed.count(formula))
            throw VessoraError(L10n::text("Unsupported Homebrew formula."));

    std::vector<std::string> arguments{"install"};
    for (const auto& formula : formulae)
        arguments.push_back(std::string(tap) + formula);
    auto result = Command::run(
        executable_, arguments,
        {.log = log,
         .timeout = installTimeout,
         .environment = {{"HOMEBREW_NO_AUTO_UPDATE", "1"}, {"HOMEBREW_NO_INSTALL_CLEANUP", "1"}}});
    if (result.status != 0)
        throw VessoraError(result.failureMessage(executable_.filename().string()));
}

} // namespace vessora
