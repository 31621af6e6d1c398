// Base of the engine suites on real servers: one engine on a private data
// root with Debian's servers behind the Homebrew stand-in, a fake helper, a
// Trash of the test's own and the router on free ports. Whatever a test
// leaves running is stopped at its end, and the stand-in's state is put
// back as it was.
#pragma once

#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <nlohmann/json.hpp>

#include <exception>
#include <filesystem>
#include <memory>

namespace vessora {

class RealEngineTest : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        state = standIn->state();
        std::filesystem::create_directory(trash());
        StackEngine::Options options;
        options.root = work.path() / "data";
        options.brew = standIn->brew();
        options.hostClient = helper;
        options.trashHandler = [this](const std::filesystem::path& item) {
            std::filesystem::rename(item, trash() / item.filename());
        };
        const auto ports = freePorts(2);
        options.routerPorts = {ports[0], ports[1]};
        options.portAvailable = onlyPorts(freePorts(24));
        engine = std::make_unique<StackEngine>(options);
    }

    void TearDown() override {
        if (!engine)
            return;
        try {
            engine->stopAll();
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        std::filesystem::remove_all(engine->socketDirectory());
        standIn->setState(state);
    }

    std::filesystem::path trash() const { return work.path() / "trash"; }

    // The stand-in's state before the test.
    nlohmann::json state;
    TemporaryFolder work{"vessora-engine"};
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
};

} // namespace vessora
