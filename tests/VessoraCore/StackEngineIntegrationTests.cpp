// The engine with the real router (Debian's nginx behind the Homebrew
// stand-in's "nginx" prefix) and a fake helper: the router follows the
// environments whose three servers run, and the helper's port flag follows
// the router.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class StackEngineIntegrationTests : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/sbin/nginx"))
            GTEST_SKIP() << "nginx is not installed";
        UserDefaults::setStandard(UserDefaults::inMemory());
        const fs::path keg = work.path() / "nginx-keg";
        fs::create_directories(keg / "bin");
        fs::create_symlink("/usr/sbin/nginx", keg / "bin/nginx");
        auto nginx = BrewStandIn::formula("1.22.1", {"1.22.1"});
        nginx["prefix"] = keg.string();
        brew.setState({{"formulae", {{"nginx", nginx}}}});
    }
    void TearDown() override {
        if (engine) {
            StackEngineTesting::router(*engine).stop();
            fs::remove_all(engine->socketDirectory());
        }
        UserDefaults::setStandard(nullptr);
    }

    void open() {
        auto options = StackEngineTesting::quickOptions(work.path() / "data", brew.brew(), helper);
        options.trashHandler = [this](const fs::path& item) {
            fs::rename(item, work.path() / item.filename());
        };
        const auto ports = freePorts(2);
        options.routerPorts = {ports[0], ports[1]};
        engine = std::make_unique<StackEngine>(options);
    }

    StackProfile routed(const std::string& name, const std::string& hostname, bool standardPorts) {
        return engine->create(name, "php@8.4", "mariadb@11.4", false, "nginx", false, std::nullopt,
                              "app", hostname, true, standardPorts);
    }

    void runThree(const std::string& id) {
        for (const char* service : {"MariaDB", "PHP", "nginx"})
            StackEngineTesting::addProcess(
                *engine, id,
                std::make_shared<ManagedProcess>(service, "/bin/sleep",
                                                 std::vector<std::string>{"60"},
                                                 work.path() / "process.log"));
    }

    TemporaryFolder work{"vessora-engine-router"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::unique_ptr<StackEngine> engine;
};

TEST_F(StackEngineIntegrationTests, RouterAndPortFlagFollowRunningEnvironments) {
    open();
    const StackProfile shop = routed("Shop", "shop.test", true);
    const StackProfile blog = routed("Blog", "blog.test", false);
    engine->configureLocalHosts(true);
    EXPECT_FALSE(helper->requests().back().standardPorts);

    runThree(shop.id);
    runThree(blog.id);
    StackEngineTesting::syncRouter(*engine, std::nullopt);
    VirtualHostRouter& router = StackEngineTesting::router(*engine);
    ASSERT_TRUE(router.isRunning());
    EXPECT_EQ(router.active().size(), 2u);
    const HostServiceRequest request = StackEngineTesting::hostRequest(*engine);
    EXPECT_TRUE(request.standardPorts);
    EXPECT_EQ(request.hostnames, (std::vector<std::string>{"shop.test", "blog.test"}));

    // Deleting the standard-ports environment takes its route away first,
    // stops it, and tells the helper the ports are no longer wanted.
    engine->remove(shop.id);
    ASSERT_TRUE(router.isRunning());
    ASSERT_EQ(router.active().size(), 1u);
    EXPECT_EQ(router.active()[0].id, blog.id);
    EXPECT_FALSE(StackEngineTesting::hasEntry(*engine, shop.id));
    EXPECT_EQ(helper->requests().back(), HostServiceRequest({"blog.test"}, false));

    // Without routed environments left the router stops.
    engine->remove(blog.id);
    EXPECT_FALSE(router.isRunning());
    EXPECT_EQ(helper->requests().back(), HostServiceRequest({}, false));
}

} // namespace
} // namespace vessora
