// Base of the suites that end a run of the engine and open the next one on
// its data root: Debian's servers behind the Homebrew stand-in, a fake
// helper, and router ports and new environments' ports of the test's own.
// sweep() is one more engine's stop of whatever a failed check left.
#pragma once

#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <vector>

namespace vessora {

class RelaunchedEngineTest : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        const auto ports = freePorts(2);
        routerPorts = {ports[0], ports[1]};
        ownPorts = freePorts(8);
    }

    std::unique_ptr<StackEngine> open() {
        StackEngine::Options options;
        options.root = root();
        options.brew = standIn->brew();
        options.hostClient = helper;
        options.routerPorts = routerPorts;
        options.portAvailable = onlyPorts(ownPorts);
        options.trashHandler = [](const std::filesystem::path& item) {
            std::filesystem::remove_all(item);
        };
        return std::make_unique<StackEngine>(options);
    }

    void sweep() {
        try {
            auto last = engine ? std::move(engine) : open();
            last->stopAll();
            std::filesystem::remove_all(last->socketDirectory());
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }

    std::filesystem::path root() const { return work.path() / "data"; }

    TemporaryFolder work{"vessora-relaunch"};
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    VirtualHostRouter::Ports routerPorts;
    // The ports new environments are given.
    std::vector<std::int64_t> ownPorts;
    std::unique_ptr<StackEngine> engine;
};

} // namespace vessora
