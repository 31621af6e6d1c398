// The editor's shortcuts with the fake engine and recorded desktop
// requests: what each button opens, from the saved record only, and when
// each is shown and enabled.
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/EditorTest.hpp"

#include <QCheckBox>

#include <filesystem>
#include <fstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class EditorShortcutsTest : public EditorTest {
protected:
    StackPaths paths() const { return StackPaths(root.path(), editor()->saved()); }

    void run(const std::string& id) {
        engine->setStatus(id, StackStatus{true, "Running", {{"MariaDB", 1}, {"PHP", 2}}});
        ASSERT_TRUE(waitFor([&] { return model().statuses().at(id).running; }));
    }

    std::string lastRequest() const {
        return desktop->requests.empty() ? std::string() : desktop->requests.back();
    }
};

TEST_F(EditorShortcutsTest, AStoppedEnvironmentOpensItsFoldersButNotItsSite) {
    storeStudio([](StackProfile& studio) { studio.phpMyAdminEnabled = true; });
    startMonitor();
    showSelected();
    EXPECT_FALSE(enabled("openSiteButton"));
    EXPECT_TRUE(shown("phpMyAdminButton"));
    EXPECT_FALSE(enabled("phpMyAdminButton"));
    EXPECT_TRUE(enabled("projectButton"));
    EXPECT_TRUE(enabled("logsButton"));
    EXPECT_TRUE(enabled("databasesButton"));
    EXPECT_FALSE(shown("importReportButton"));

    // Folders that do not exist yet open the data root instead.
    click("projectButton");
    EXPECT_EQ(lastRequest(), "open " + root.path().string());
    fs::create_directories(paths().web());
    fs::create_directories(paths().logs());
    click("projectButton");
    EXPECT_EQ(lastRequest(), "open " + paths().web().string());
    click("logsButton");
    EXPECT_EQ(lastRequest(), "open " + paths().logs().string());
}

TEST_F(EditorShortcutsTest, ARunningEnvironmentOpensItsSiteAndPhpMyAdminPreferringHTTPS) {
    storeStudio([](StackProfile& studio) {
        studio.phpMyAdminEnabled = true;
        studio.httpsEnabled = true;
        studio.httpsPort = 8443;
    });
    startMonitor();
    showSelected();
    run("studio");
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url https://127.0.0.1:8443");
    click("phpMyAdminButton");
    EXPECT_EQ(lastRequest(), "url https://127.0.0.1:8443/phpmyadmin/");

    // Any unsaved edit disables phpMyAdmin, not the site; the site still
    // opens the saved address.
    draft().edit([](StackProfile& profile) { profile.httpsEnabled = false; });
    EXPECT_FALSE(enabled("phpMyAdminButton"));
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url https://127.0.0.1:8443");
    draft().setProfile(editor()->saved());
    EXPECT_TRUE(enabled("phpMyAdminButton"));

    // Saved without HTTPS: the plain address.
    storeStudio([](StackProfile& studio) { studio.phpMyAdminEnabled = true; });
    reload();
    click("openSiteButton");
    EXPECT_EQ(lastRequest(), "url http://127.0.0.1:8080");
    click("phpMyAdminButton");
    EXPECT_EQ(lastRequest(), "url http://127.0.0.1:8080/phpmyadmin/");
}

TEST_F(EditorShortcutsTest, PhpMyAdminShowsOnlyOnceSavedWithIt) {
    startMonitor();
    showSelected();
    EXPECT_FALSE(shown("phpMyAdminButton"));
    find<QCheckBox>("phpMyAdminBox")->click();
    EXPECT_TRUE(draft().profile().phpMyAdminEnabled);
    EXPECT_FALSE(shown("phpMyAdminButton"));
    click("saveButton");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return editor() && editor()->saved().phpMyAdminEnabled; }));
    EXPECT_TRUE(shown("phpMyAdminButton"));
}

TEST_F(EditorShortcutsTest, TheImportReportShowsWhileItsFileExists) {
    startMonitor();
    showSelected();
    EXPECT_FALSE(shown("importReportButton"));
    fs::create_directories(paths().directory());
    std::ofstream(paths().migrationReport()) << "{}";
    // The next redraw finds it.
    reload();
    ASSERT_TRUE(shown("importReportButton"));
    EXPECT_TRUE(enabled("importReportButton"));
    click("importReportButton");
    EXPECT_EQ(lastRequest(), "open " + paths().migrationReport().string());
}

TEST_F(EditorShortcutsTest, DatabasesRaisesTheSheetFlagUnlessBusy) {
    startMonitor();
    showSelected();
    EXPECT_EQ(text("databasesButton"), "Databases");
    engine->hold("stopAll");
    ASSERT_TRUE(model().perform("Stopping", false, [](AppEngine& e) { e.stopAll(); }));
    EXPECT_FALSE(enabled("databasesButton"));
    // The other shortcuts keep their own rules.
    EXPECT_TRUE(enabled("projectButton"));
    EXPECT_TRUE(enabled("logsButton"));
    engine->release("stopAll");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(enabled("databasesButton"));
}

TEST_F(EditorShortcutsTest, WithoutAnEngineTheFoldersFallBackToTheChosenRoot) {
    AppModel::Options noEngine = options();
    noEngine.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw std::runtime_error("Another Vessora instance is already using this data directory.");
    };
    AppModel broken(noEngine);
    ASSERT_FALSE(broken.hasEngine());
    EnvironmentEditor editor(broken, preferences, StackProfile::defaults().front(), &window);
    editor.findChild<QAbstractButton*>("logsButton")->click();
    ASSERT_FALSE(desktop->requests.empty());
    EXPECT_EQ(desktop->requests.back(), "open " + broken.dataRoot().string());
    EXPECT_FALSE(editor.findChild<QWidget*>("openSiteButton")->isEnabled());
}

} // namespace
} // namespace vessora
