// The model's construction, its queries, the package reload and the helper
// registration flags.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/BuildInfo.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"

#include <QSignalSpy>

namespace vessora {
namespace {

using namespace std::chrono_literals;

StackProfile environment(const std::string& id, std::int64_t http, std::int64_t php,
                         std::int64_t database, std::optional<std::int64_t> https = std::nullopt) {
    StackProfile profile = StackProfile::defaults().front();
    profile.id = id;
    profile.name = id;
    profile.httpPort = http;
    profile.phpPort = php;
    profile.databasePort = database;
    profile.httpsEnabled = false;
    profile.httpsPort = https;
    return profile;
}

StackStatus withProcesses(bool running, std::map<std::string, std::int32_t> processes) {
    return StackStatus{running, running ? "Running" : "Preparing…", std::move(processes)};
}

class AppModelStateTest : public AppModelTest {};

TEST_F(AppModelStateTest, StartsWithTheEngineRecordsAndTheFallbackCatalogue) {
    // The user removed both built-in records and made two of their own.
    const std::vector<StackProfile> own = {environment("env-shop", 8190, 9190, 13390),
                                           environment("env-blog", 8191, 9191, 13391)};
    engine->setProfiles(own);
    AppModel& m = model();
    ASSERT_TRUE(m.hasEngine());
    EXPECT_EQ(m.profiles(), own);
    EXPECT_EQ(m.selectedID(), "env-shop");
    EXPECT_EQ(m.packages(), PackageCatalog::fallback());
    EXPECT_EQ(m.activity(), "Ready");
    EXPECT_FALSE(m.error());
    EXPECT_FALSE(m.busy());
    EXPECT_EQ(m.dataRoot(), root.path());
    // Opening the model asks nothing of the engine yet.
    EXPECT_TRUE(engine->log().empty());

    // An engine without records: nothing listed, nothing selected.
    resetModel();
    engine->setProfiles({});
    EXPECT_TRUE(model().profiles().empty());
    EXPECT_EQ(model().selectedID(), std::nullopt);
}

TEST_F(AppModelStateTest, OnlyADevelopmentBuildTakesAnAbsolutePreviewRoot) {
    const auto openedRoot = [&](BuildInfo build, std::optional<std::string> preview) {
        AppModel::Options options = this->options();
        options.build = std::move(build);
        options.environment = [preview](const std::string& name) -> std::optional<std::string> {
            if (name == "VESSORA_PREVIEW_ROOT")
                return preview;
            return std::nullopt;
        };
        auto opened = std::make_shared<std::filesystem::path>();
        options.openEngine = [opened, fake = engine](const std::filesystem::path& chosen) {
            *opened = chosen;
            return std::static_pointer_cast<AppEngine>(fake);
        };
        AppModel model(options);
        return *opened;
    };
    const std::filesystem::path standard = StackEngine::defaultRoot();
    EXPECT_EQ(openedRoot(BuildInfo::developmentBuild(), "/tmp/preview-root"), "/tmp/preview-root");
    EXPECT_EQ(openedRoot(BuildInfo::developmentBuild(), "relative/root"), standard);
    EXPECT_EQ(openedRoot(BuildInfo::developmentBuild(), ""), standard);
    EXPECT_EQ(openedRoot(BuildInfo::developmentBuild(), std::nullopt), standard);
    EXPECT_EQ(openedRoot(BuildInfo::release("1.0.0", "1"), "/tmp/preview-root"), standard);
}

// This program's own build, as the CMake switch made it: a release carries a
// version and a build number, a development build neither.
TEST_F(AppModelStateTest, TheBuildSwitchDecidesIdentifierAndVersion) {
    const BuildInfo current = BuildInfo::current();
    EXPECT_EQ(current.development, current.bundleIdentifier == "vessora-dev.prototype");
    EXPECT_EQ(current.version.empty(), current.development);
    EXPECT_EQ(current.build.empty(), current.development);
}

TEST_F(AppModelStateTest, WithoutAnEngineTheModelShowsTheErrorAndDoesNothing) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    AppModel m(options);
    EXPECT_FALSE(m.hasEngine());
    EXPECT_EQ(m.error(), "Another Vessora instance is already using this data directory.");
    EXPECT_EQ(m.profiles(), StackProfile::defaults());
    EXPECT_EQ(m.selectedID(), "studio");

    EXPECT_FALSE(m.perform("Starting…", true, [](AppEngine& e) { e.start("studio"); }));
    m.startMonitor();
    bool refreshed = false;
    m.refreshPackages([&] { refreshed = true; });
    EXPECT_TRUE(refreshed);
    m.setUpLocalHosts();
    m.removeLocalHosts();
    QTest::qWait(100);
    EXPECT_FALSE(m.busy());
    EXPECT_TRUE(m.statuses().empty());
    EXPECT_TRUE(engine->log().empty());
}

TEST_F(AppModelStateTest, SuggestedHTTPSPortSkipsEveryReservedPort) {
    engine->setProfiles({});
    startMonitor();
    EXPECT_EQ(model().suggestedHTTPSPort(), 8443);

    // 8443-8447 taken, one of them by an HTTPS port whose HTTPS is off.
    engine->setProfiles(
        {environment("env-a", 8443, 8444, 8445), environment("env-b", 8446, 9000, 9001, 8447)});
    model().startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().profiles().size() == 2; }));
    EXPECT_EQ(model().suggestedHTTPSPort(), 8448);
}

TEST_F(AppModelStateTest, RunningQueriesLookAtProcessesAndHostnames) {
    StackProfile named = environment("env-named", 8080, 9080, 13300);
    named.hostname = "shop.test";
    named.virtualHost = true;
    const StackProfile plain = environment("env-plain", 8081, 9081, 13301);
    engine->setProfiles({named, plain});
    startMonitor();
    EXPECT_FALSE(model().anyRunning());
    EXPECT_FALSE(model().hostnameEnvironmentRunning());

    // Another environment runs; the one with a hostname has a status but no
    // processes.
    engine->setStatus("env-plain", withProcesses(true, {{"MariaDB", 1}, {"PHP", 2}, {"nginx", 3}}));
    ASSERT_TRUE(waitFor([&] { return model().anyRunning(); }));
    EXPECT_FALSE(model().hostnameEnvironmentRunning());

    // Still starting: one process, not running yet, counts for both.
    engine->setStatus("env-plain", StackStatus{false, "Stopped", {}});
    engine->setStatus("env-named", withProcesses(false, {{"MariaDB", 4}}));
    ASSERT_TRUE(waitFor([&] { return model().hostnameEnvironmentRunning(); }));
    EXPECT_TRUE(model().anyRunning());
}

TEST_F(AppModelStateTest, APackageReloadRunsOnceAndKeepsTheLastGoodState) {
    InstallationStatus installed;
    installed.installed = {{"nginx", true}, {"php@8.4", false}};
    installed.packages = {PackageCatalog::fallback().front()};
    installed.packages.front().installedVersion = "9.9";
    engine->setInstallations(installed);
    engine->hold("installations");
    QSignalSpy spy(&model(), &AppModel::packagesChanged);

    int done = 0;
    model().refreshPackages([&] { ++done; });
    ASSERT_TRUE(waitUntilHeld("installations"));
    EXPECT_TRUE(model().refreshingPackages());
    // A second call while one runs returns at once and queries nothing.
    model().refreshPackages([&] { ++done; });
    EXPECT_EQ(done, 1);
    engine->release("installations");
    ASSERT_TRUE(waitFor([&] { return done == 2; }));
    EXPECT_EQ(engine->calls("installations"), 1);
    EXPECT_FALSE(model().refreshingPackages());
    EXPECT_TRUE(model().packageStatusKnown());
    EXPECT_EQ(model().installed(), installed.installed);
    EXPECT_EQ(model().packages(), installed.packages);
    EXPECT_GE(spy.count(), 2);

    engine->fail("installations", "brew info failed (1):\nno network");
    done = 0;
    model().refreshPackages([&] { ++done; });
    ASSERT_TRUE(waitFor([&] { return done == 1; }));
    EXPECT_EQ(model().error(), "brew info failed (1):\nno network");
    EXPECT_TRUE(model().packageStatusKnown());
    EXPECT_EQ(model().installed(), installed.installed);
    EXPECT_EQ(model().packages(), installed.packages);
    EXPECT_FALSE(model().refreshingPackages());
}

TEST_F(AppModelStateTest, RegistrationFlagsFollowTheLastPoll) {
    // Nothing read yet: the flags keep their start values.
    model().refreshHostSetupState();
    EXPECT_FALSE(model().hostSetupRegistered());

    hostSetup->setStatus(ServiceStatus::requiresApproval);
    hostSetup->setNeedsRefresh(true);
    startMonitor();
    EXPECT_TRUE(model().hostApprovalPending());
    EXPECT_TRUE(model().hostSetupRegistered());
    EXPECT_TRUE(model().hostSetupNeedsUpdate());
    EXPECT_FALSE(model().localHostReady());

    hostSetup->setStatus(ServiceStatus::notFound);
    hostSetup->setNeedsRefresh(false);
    ASSERT_TRUE(waitFor([&] { return !model().hostSetupRegistered(); }));
    EXPECT_FALSE(model().hostApprovalPending());
    EXPECT_FALSE(model().hostSetupNeedsUpdate());

    hostSetup->setStatus(ServiceStatus::enabled);
    ASSERT_TRUE(waitFor([&] { return model().hostSetupRegistered(); }));
    EXPECT_FALSE(model().hostApprovalPending());
    // Reading the registration is the poll's work, not the caller's.
    const int reads = hostSetup->calls("status");
    model().refreshHostSetupState();
    EXPECT_EQ(hostSetup->calls("status"), reads);
}

TEST_F(AppModelStateTest, SettersSignalOnlyRealChanges) {
    QSignalSpy selection(&model(), &AppModel::selectionChanged);
    QSignalSpy sheets(&model(), &AppModel::sheetsChanged);
    QSignalSpy any(&model(), &AppModel::changed);
    model().setSelectedID(std::string("studio"));
    EXPECT_EQ(selection.count(), 0);
    model().setSelectedID(std::string("legacy"));
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(model().selectedProfile()->id, "legacy");
    model().setShowCreate(true);
    model().setPendingDeletion(model().profiles().front());
    model().setShowDeleteConfirmation(true);
    EXPECT_EQ(sheets.count(), 3);
    EXPECT_EQ(any.count(), 4);
    model().setSelectedID(std::string("gone"));
    EXPECT_FALSE(model().selectedProfile());
}

TEST(AppModelTextsTest, StatusKeysStoredUntranslatedHaveTranslations) {
    for (const char* key : {"Ready", "Done", "Action failed. Check the error and logs."}) {
        for (const AppLanguage language :
             {AppLanguage::german, AppLanguage::french, AppLanguage::italian}) {
            EXPECT_NE(L10n::text(key, {}, language), key) << key;
        }
    }
}

} // namespace
} // namespace vessora
