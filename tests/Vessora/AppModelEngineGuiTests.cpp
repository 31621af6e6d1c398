// The model over the real engine on a private data root, chosen the way a
// development build chooses it.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class AppModelEngineTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(StackEngine::socketDirectoryFor(folder.path())); }

    // A development build whose VESSORA_PREVIEW_ROOT names the private root.
    AppModel::Options options() {
        AppModel::Options result;
        result.build = BuildInfo::developmentBuild();
        result.environment = [root = folder.path()](const std::string& name) {
            return name == "VESSORA_PREVIEW_ROOT" ? std::optional(root.string()) : std::nullopt;
        };
        result.openEngine = StackEngineAdapter::open;
        result.hostSetup = std::make_shared<FakeHostSetup>();
        result.defaults = UserDefaults::inMemory();
        result.monitorInterval = std::chrono::milliseconds(50);
        return result;
    }

    static bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 20000);
    }

    TemporaryFolder folder{"vessora-app-root"};
};

TEST_F(AppModelEngineTest, OpensTheRootAndShowsTheBuiltInEnvironments) {
    AppModel model(options());
    ASSERT_TRUE(model.hasEngine()) << model.error().value_or("");
    EXPECT_EQ(model.dataRoot(), folder.path());
    EXPECT_TRUE(fs::exists(folder.path() / "profiles.json"));

    model.startMonitor();
    ASSERT_TRUE(waitFor([&] { return model.statuses().size() == 2; }));
    ASSERT_EQ(model.profiles().size(), 2u);
    EXPECT_EQ(model.profiles()[0].id, "studio");
    EXPECT_EQ(model.profiles()[1].id, "legacy");
    EXPECT_EQ(model.selectedID(), "studio");
    EXPECT_EQ(model.statuses().at("studio").description, "Stopped");
    EXPECT_FALSE(model.anyRunning());
}

TEST_F(AppModelEngineTest, ASecondModelOnTheSameRootShowsTheLockMessage) {
    AppModel first(options());
    ASSERT_TRUE(first.hasEngine());
    AppModel second(options());
    EXPECT_FALSE(second.hasEngine());
    EXPECT_EQ(second.error(), "Another Vessora instance is already using this data directory.");
    EXPECT_EQ(second.profiles(), StackProfile::defaults());
    EXPECT_EQ(second.selectedID(), "studio");
}

TEST_F(AppModelEngineTest, TheEngineIsReleasedWithTheModel) {
    { AppModel first(options()); }
    AppModel again(options());
    EXPECT_TRUE(again.hasEngine()) << again.error().value_or("");
}

TEST_F(AppModelEngineTest, CreateAndDeleteThroughTheRealEngine) {
    TemporaryFolder trashFolder{"vessora-app-trash"};
    const fs::path trash = trashFolder.path();
    AppModel::Options options = this->options();
    options.openEngine = [trash](const fs::path& root) {
        StackEngine::Options engineOptions;
        engineOptions.root = root;
        engineOptions.hostClient = std::make_shared<FakeHostService>();
        engineOptions.trashHandler = [trash](const fs::path& item) {
            fs::rename(item, trash / item.filename());
        };
        return std::make_shared<StackEngineAdapter>(engineOptions);
    };
    AppModel model(options);
    ASSERT_TRUE(model.hasEngine());
    const StackProfile studio = StackProfile::defaults().front();
    ASSERT_TRUE(model.perform("Creating Shop…", false, [studio](AppEngine& engine) {
        engine.create("Shop", studio.php, studio.mariaDB, false, "nginx", false, std::nullopt,
                      "shop", std::nullopt, false, false);
    }));
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    ASSERT_FALSE(model.error()) << *model.error();
    ASSERT_EQ(model.profiles().size(), 3u);
    const StackProfile created = model.profiles().back();
    EXPECT_EQ(created.name, "Shop");
    EXPECT_EQ(model.selectedID(), created.id);
    EXPECT_TRUE(fs::is_directory(folder.path() / created.id));

    ASSERT_TRUE(model.perform("Moving Shop to Trash…", false,
                              [id = created.id](AppEngine& engine) { engine.remove(id); }));
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    EXPECT_FALSE(model.error());
    EXPECT_EQ(model.profiles(), StackProfile::defaults());
    EXPECT_EQ(model.selectedID(), "studio");
    EXPECT_TRUE(fs::exists(trash / created.id));
}

} // namespace
} // namespace vessora
