// The engine's only road to Homebrew. Each call runs `brew` (once, or twice
// for installations()) through Command::run and blocks until it ends; the
// object holds nothing but the executable, so any thread may use it.
//
// Command lines, all naming formulae with their tap "homebrew/core/":
//   prefix:  --prefix --installed F                       (60 s)
//   info:    info --json=v2 --formula F1 ...              (60 s, no auto-update, no analytics)
//   install: install F1 ...   appended to the caller's log (1800 s, no auto-update, no clean-up)
// A non-zero exit throws "%@ failed (%@):\n%@" with "brew", the status and the
// end of the output; the runner's own errors (launch, time-out) pass through.
#pragma once

#include "VessoraCore/Packages/BrewPrefix.hpp"
#include "VessoraCore/Packages/FormulaInfo.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace vessora {

class Homebrew {
public:
    explicit Homebrew(std::filesystem::path executable = VESSORA_BREW_PATH);

    const std::filesystem::path& executable() const { return executable_; }

    // Throws when executable() is not an executable file; the message names
    // Homebrew on Linux's own path whatever executable() holds.
    void requireAvailable() const;

    // The installed prefix of the formula with every symbolic link resolved.
    // Throws "Invalid Homebrew path for %@." unless brew printed exactly one
    // absolute path.
    std::filesystem::path prefix(const std::string& formula) const;
    // The same, with the path brew printed, for callers that keep the keg.
    BrewPrefix answeredPrefix(const std::string& formula) const;

    // The catalogue (base formulae, then the PHP and MariaDB series they
    // list) and which of its formulae, plus "phpmyadmin", are installed.
    InstallationStatus installations() const;

    // Installs formulae the fresh catalogue offers (not disabled) and
    // "phpmyadmin"; anything else throws "Unsupported Homebrew formula."
    // before brew runs. An empty list does nothing.
    void install(const std::vector<std::string>& formulae, const std::filesystem::path& log) const;

private:
    std::vector<FormulaInfo> info(const std::vector<std::string>& formulae) const;

    std::filesystem::path executable_;
};

} // namespace vessora
