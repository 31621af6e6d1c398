// A private Homebrew prefix for one test, run by the stand-in `brew` from
// tools/: root()/bin/brew with its state file and call log beside it.
// setState() replaces what brew answers; calls() reads back every call it
// received ({"args": [...], "env": {HOMEBREW_* variables}}).
// buildDebianPrefixes() lays out Debian-backed formulae under root() with the
// prefix builder (php@8.2, mariadb@10.11, nginx, httpd, phpmyadmin).
#pragma once

#include "tests/Support/TemporaryFolder.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace vessora {

class BrewStandIn {
public:
#ifdef VESSORA_SOURCE_DIR
    BrewStandIn() : BrewStandIn(std::filesystem::path(VESSORA_SOURCE_DIR) / "tools") {}
#endif
    explicit BrewStandIn(std::filesystem::path tools);

    const std::filesystem::path& root() const {
        return folder_.path();
    }
    std::filesystem::path brew() const {
        return root() / "bin" / "brew";
    }

    void setState(const nlohmann::json& state) const;
    nlohmann::json state() const;
    std::vector<nlohmann::json> calls() const;

    // One formula entry of the state; tap "homebrew/core", not deprecated.
    static nlohmann::json formula(const std::string& stable,
                                  const std::vector<std::string>& installed = {},
                                  const std::vector<std::string>& aliases = {},
                                  const std::vector<std::string>& versioned = {});

    // Throws std::runtime_error with the builder's output when it fails.
    void buildDebianPrefixes() const;

    // An upgrade made in a terminal, after buildDebianPrefixes(): the
    // formula's linked keg copied to Cellar/FORMULA/VERSION, opt/FORMULA
    // pointed at the copy, the state's installed versions updated and, unless
    // `keepOld`, the old keg removed. Returns the new keg.
    std::filesystem::path upgrade(const std::string& formula, const std::string& version,
                                  bool keepOld) const;

private:
    std::filesystem::path tools_;
    TemporaryFolder folder_{"vessora-brew"};
};

} // namespace vessora
