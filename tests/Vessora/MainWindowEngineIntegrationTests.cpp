// The main window over the real engine and the Debian-backed Homebrew
// prefixes on a private data root: the built-in records are listed and the
// package status comes from the real Homebrew client.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <filesystem>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class MainWindowEngineTest : public RealServerTest {
protected:
    void TearDown() override { fs::remove_all(StackEngine::socketDirectoryFor(folder.path())); }

    StackEngine::Options engineOptions() const {
        StackEngine::Options engine;
        engine.root = folder.path();
        engine.brew = standIn->brew();
        engine.hostClient = std::make_shared<FakeHostService>();
        engine.portAvailable = onlyPorts(freePorts(24));
        return engine;
    }

    // A development build never asks the release feed.
    static AppUpdates::Options developmentUpdates() {
        AppUpdates::Options updates;
        updates.build = BuildInfo::developmentBuild();
        updates.defaults = UserDefaults::inMemory();
        return updates;
    }

    AppModel::Options options() {
        AppModel::Options result;
        result.build = BuildInfo::release("1.0.0", "1");
        result.environment = [](const std::string&) { return std::nullopt; };
        result.openEngine = [engine = engineOptions()](const fs::path&) {
            return std::make_shared<StackEngineAdapter>(engine);
        };
        result.hostSetup = std::make_shared<FakeHostSetup>();
        result.defaults = UserDefaults::inMemory();
        result.monitorInterval = std::chrono::milliseconds(100);
        return result;
    }

    static bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 60000);
    }

    TemporaryFolder folder{"vessora-window-root"};
    AppPreferences preferences{UserDefaults::inMemory()};
    AppUpdates updates{developmentUpdates()};
};

TEST_F(MainWindowEngineTest, ListsTheBuiltInRecordsAndTheRealPackageStatus) {
    AppModel model(options());
    ASSERT_TRUE(model.hasEngine()) << model.error().value_or("");
    MainWindow window(model, preferences, updates);
    window.show();
    model.startMonitor();
    ASSERT_TRUE(waitFor([&] { return model.packageStatusKnown() && model.statuses().size() == 2; }))
        << model.error().value_or("");
    EXPECT_FALSE(model.error()) << *model.error();

    auto* list = window.findChild<QListWidget*>("environmentList");
    ASSERT_EQ(list->count(), 2);
    const auto name = [&](int row) {
        return list->itemWidget(list->item(row))
            ->findChild<QLabel*>("environmentName")
            ->accessibleName()
            .toStdString();
    };
    EXPECT_EQ(name(0), "Studio");
    EXPECT_EQ(name(1), "Legacy");
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(window.findChild<QLabel*>("environmentCount")->text().toStdString(),
              "2 environments");
    EXPECT_TRUE(fs::exists(folder.path() / "profiles.json"));

    // What Debian serves is installed; the built-in records' series are not.
    EXPECT_TRUE(model.installed().at("php@8.2"));
    EXPECT_TRUE(model.installed().at("mariadb@10.11"));
    EXPECT_FALSE(model.installed().count("php@8.4") && model.installed().at("php@8.4"));
    EXPECT_FALSE(model.installed().count("mariadb@11.4") && model.installed().at("mariadb@11.4"));

    // The status bar's reload asks Homebrew again.
    const std::size_t calls = standIn->calls().size();
    auto* refresh = window.findChild<QAbstractButton*>("refreshPackagesButton");
    ASSERT_TRUE(refresh->isEnabled());
    refresh->click();
    EXPECT_TRUE(model.refreshingPackages());
    EXPECT_FALSE(refresh->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !model.refreshingPackages(); }));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_GT(standIn->calls().size(), calls);
    EXPECT_EQ(window.findChild<QLabel*>("activityText")->accessibleName().toStdString(), "Ready");
    EXPECT_FALSE(window.findChild<QWidget*>("stopAllButton")->isEnabled());

    // The editor of the selected record offers to install what it misses; a
    // new environment on Debian's series needs nothing, its Start is ready.
    const auto installOffered = [&] {
        return window.findChild<QWidget*>("installBar")->isVisible();
    };
    EXPECT_TRUE(installOffered());
    ASSERT_TRUE(model.perform("Creating Debian…", true, [](AppEngine& engine) {
        engine.create("Debian", "php@8.2", "mariadb@10.11", false, "nginx", false, std::nullopt,
                      "debian", std::nullopt, false, false);
    }));
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    ASSERT_FALSE(model.error()) << *model.error();
    ASSERT_EQ(model.selectedProfile()->name, "Debian");
    EXPECT_FALSE(installOffered());
    EXPECT_TRUE(window.findChild<QAbstractButton*>("startButton")->isEnabled());
    model.stopMonitor();
}

TEST_F(MainWindowEngineTest, TheFirstFrameListsTheRecordsOnDiskNotTheBuiltInOnes) {
    {
        // An earlier run: the user made their own environment and removed
        // both built-in ones.
        StackEngine::Options earlierOptions = engineOptions();
        earlierOptions.trashHandler = [](const fs::path& item) { fs::remove_all(item); };
        StackEngine earlier(earlierOptions);
        earlier.create("Shop", "php@8.2", "mariadb@10.11", false, "nginx", false, std::nullopt,
                       "shop", std::nullopt, false, false);
        earlier.remove("studio");
        earlier.remove("legacy");
    }

    AppModel model(options());
    ASSERT_TRUE(model.hasEngine()) << model.error().value_or("");
    MainWindow window(model, preferences, updates);
    window.show();

    // No event has been handled yet: what shows is what the window was built with.
    auto* list = window.findChild<QListWidget*>("environmentList");
    const auto listed = [&] {
        std::vector<std::string> names;
        for (int row = 0; row < list->count(); ++row)
            names.push_back(list->itemWidget(list->item(row))
                                ->findChild<QLabel*>("environmentName")
                                ->accessibleName()
                                .toStdString());
        return names;
    };
    EXPECT_EQ(listed(), std::vector<std::string>{"Shop"});
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(window.findChild<QLabel*>("environmentCount")->text().toStdString(), "1 environment");
    EXPECT_EQ(window.findChild<QWidget*>("editorHeader")
                  ->findChild<QLabel*>("environmentName")
                  ->text()
                  .toStdString(),
              "Shop");

    // The monitor's first load changes nothing that was shown.
    model.startMonitor();
    ASSERT_TRUE(waitFor([&] { return model.packageStatusKnown() && model.statuses().size() == 1; }))
        << model.error().value_or("");
    EXPECT_EQ(listed(), std::vector<std::string>{"Shop"});
    EXPECT_EQ(model.selectedProfile()->name, "Shop");
    model.stopMonitor();
}

} // namespace
} // namespace vessora
