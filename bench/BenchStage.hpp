// An engine's surroundings for a benchmark: Debian's servers behind the
// Homebrew stand-in, an empty data root (no built-in environments, so the
// figures are for exactly what the benchmark makes), a fake helper and
// router ports of its own.
#pragma once

#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <filesystem>
#include <memory>

namespace vessora::bench {

class BenchStage {
public:
    explicit BenchStage(const char* name) : work_(name) {
        brew_.buildDebianPrefixes();
        PrivateFile::createDirectories(root());
        PrivateFile::write(root() / "profiles.json", "[]");
    }

    std::filesystem::path root() const { return work_.path() / "data"; }
    const std::filesystem::path& work() const { return work_.path(); }
    BrewStandIn& brew() { return brew_; }

    StackEngine::Options engineOptions() {
        StackEngine::Options options;
        options.root = root();
        options.brew = brew_.brew();
        options.hostClient = std::make_shared<FakeHostService>();
        const auto routerPorts = freePorts(2);
        options.routerPorts = {routerPorts[0], routerPorts[1]};
        return options;
    }

private:
    BrewStandIn brew_{std::filesystem::path(VESSORA_SOURCE_DIR) / "tools"};
    TemporaryFolder work_;
};

// Away from the default range, where other runs may have servers.
inline void giveFreePorts(StackProfile& profile) {
    const auto ports = freePorts(3);
    profile.httpPort = ports[0];
    profile.phpPort = ports[1];
    profile.databasePort = ports[2];
}

} // namespace vessora::bench
