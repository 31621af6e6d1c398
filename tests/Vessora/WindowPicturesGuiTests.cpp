// Pictures of every window and sheet in every interface language, in the
// states a user meets: empty, several environments, running, failed, busy.
// Each scene builds its state over the fake engine through the window's own
// flags and buttons; the test saves the picture as
// pictures/<language>/<scene>.png in the build tree (never committed) and
// fails when a scene cannot be shown or its picture is blank. A new scene is
// one more entry in scenes().
#include "Vessora/Sheets/DatabaseManagerDraft.hpp"
#include "Vessora/Sheets/DatabaseManagerSheet.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "Vessora/Windows/PreferencesView.hpp"
#include "Vessora/Windows/SettingsWindow.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/EnvironmentFiles.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/PictureStage.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// 2027-03-05 12:00:00 UTC.
Date march2027() {
    return std::chrono::system_clock::from_time_t(1804248000);
}

class WindowPicturesTest
    : public PictureStage,
      public ::testing::WithParamInterface<std::tuple<std::string, AppLanguage>> {
public:
    struct Scene {
        std::string name;
        // Brings the stage into the scene's state and returns what to
        // photograph: the main window, a sheet or another window.
        std::function<QWidget*(WindowPicturesTest&)> show;
        // The main window's size; its default when empty.
        QSize windowSize;
    };

    static const std::vector<Scene>& scenes();
    static const Scene* scene(const std::string& name) {
        for (const Scene& candidate : scenes())
            if (candidate.name == name)
                return &candidate;
        return nullptr;
    }

protected:
    // The share of the picture in its most frequent colour.
    static double plainShare(const QImage& image) {
        std::map<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                ++counts[line[x]];
        }
        int most = 0;
        for (const auto& [colour, count] : counts)
            most = std::max(most, count);
        return static_cast<double>(most) / (image.width() * image.height());
    }

    // Steps several scenes share.

    // Three environments, everything installed, the window on the first.
    QWidget* environments() {
        listThree();
        install();
        showWindow();
        return &window();
    }

    // The shop environment running with its databases, selected.
    EnvironmentEditor* runningShop(const DatabaseAdminSnapshot& inventory = sampleDatabases()) {
        listThree();
        install();
        setRunning(shop().id);
        engine->setDatabaseSnapshot(shop().id, inventory);
        engine->setApplicationPassword(shop().id, "q7Lm2xWv9PzR4tKc");
        showWindow();
        EnvironmentEditor* shopEditor = select(shop().id);
        EXPECT_TRUE(waitForRunning(shop().id, true));
        settle();
        return shopEditor;
    }

    DatabaseManagerSheet* databaseManager(EnvironmentEditor* shopEditor) {
        if (!shopEditor)
            return nullptr;
        shopEditor->draft().setShowDatabase(true);
        return qobject_cast<DatabaseManagerSheet*>(presented("databaseManagerSheet"));
    }

    // The manager of the running shop with its inventory loaded.
    DatabaseManagerSheet*
    loadedDatabaseManager(const DatabaseAdminSnapshot& inventory = sampleDatabases()) {
        DatabaseManagerSheet* manager = databaseManager(runningShop(inventory));
        if (!manager)
            return nullptr;
        EXPECT_TRUE(
            waitFor([&] { return manager->draft().snapshot().has_value() && !model().busy(); }));
        settle();
        return manager;
    }

    static DatabaseAdminSnapshot sampleDatabases() {
        const auto privileges = [](DatabaseAccess level) {
            const std::vector<std::string>& names = DatabaseAccessLevels::privileges(level);
            return std::set<std::string>(names.begin(), names.end());
        };
        DatabaseAdminSnapshot snapshot;
        snapshot.databases = {{"blog", 4, "utf8mb4_general_ci", false},
                              {"shop", 27, "utf8mb4_general_ci", true},
                              {"shop_archive", 9, "utf8mb4_unicode_ci", false}};
        snapshot.users = {
            {"localadmin", "localhost", false, false, {}},
            {"mariadb.sys", "localhost", false, false, {}},
            {"reporter",
             "127.0.0.1",
             true,
             false,
             {{"blog", privileges(DatabaseAccess::readOnly)}}},
            {"vessora", "127.0.0.1", true, true, {{"shop", privileges(DatabaseAccess::admin)}}},
            {"writer",
             "127.0.0.1",
             true,
             false,
             {{"shop", privileges(DatabaseAccess::readWrite)}, {"blog", {"SELECT"}}}},
        };
        return snapshot;
    }

    // The sample databases with `count` accounts, the application's among
    // them.
    static DatabaseAdminSnapshot withAccounts(std::size_t count) {
        static const std::vector<std::string> others{
            "analytics", "backup",  "ci_runner", "cron",      "deploy", "localadmin",
            "reporter",  "staging", "support",   "wordpress", "writer"};
        DatabaseAdminSnapshot snapshot = sampleDatabases();
        snapshot.users.clear();
        for (std::size_t index = 0; index + 1 < count && index < others.size(); ++index)
            snapshot.users.push_back({others[index],
                                      index % 4 == 0 ? "localhost" : "127.0.0.1",
                                      index % 4 != 0,
                                      false,
                                      {}});
        snapshot.users.push_back({"vessora", "127.0.0.1", true, true, {}});
        return snapshot;
    }

    // The users tab with `count` accounts, the first selected.
    QWidget* usersTab(std::size_t count) {
        const DatabaseAdminSnapshot inventory = withAccounts(count);
        EXPECT_EQ(inventory.users.size(), count);
        DatabaseManagerSheet* manager = loadedDatabaseManager(inventory);
        if (!manager)
            return nullptr;
        manager->draft().setTab(DatabaseManagerDraft::usersTab);
        manager->draft().setSelectedUserID(inventory.users.front().id());
        settle();
        return manager;
    }

    // The certificate sheet of the shop, once it shows the engine's answer.
    QDialog* certificateSheet(bool trusted, std::optional<std::string> failure = std::nullopt) {
        LocalCertificateInfo info;
        info.expires = march2027();
        info.fingerprint = "3F:A1:09:7C:B2:55:E0:1D:44:9A:C3:6E:21:F8:0B:7D:92:5C:AE:13:60:"
                           "D4:8F:27:B9:E5:31:0A:CC:76:4B:E8";
        info.trustedOnThisMac = trusted;
        engine->setCertificateInfo(shop().id, info);
        if (failure)
            engine->fail("certificateInfo", failure);
        listThree();
        install();
        showWindow();
        EnvironmentEditor* shopEditor = select(shop().id);
        if (!shopEditor)
            return nullptr;
        shopEditor->draft().setShowCertificate(true);
        QDialog* certificate = presented("localHTTPSSheet");
        const char* shows = failure ? "readError" : "fingerprint";
        EXPECT_TRUE(waitFor([&] {
            QWidget* line = certificate ? certificate->findChild<QWidget*>(shows) : nullptr;
            return line && line->isVisibleTo(certificate);
        })) << shows;
        settle();
        return certificate;
    }

    // The local-addresses sheet with the registration as the poll reads it.
    QDialog* localAddresses(ServiceStatus status) {
        hostSetup->setStatus(status);
        listThree();
        install();
        showWindow();
        model().setShowLocalHosts(true);
        return presented("localHostSheet");
    }

    // The update details after the feed's answer to a release build.
    QDialog* updateDetails(const std::function<void()>& answer) {
        updatesBuild = BuildInfo::release("1.2.0", "6");
        answer();
        environments();
        updates().checkManually();
        EXPECT_TRUE(waitFor([&] { return !updates().isChecking(); }));
        updates().presentDetails();
        return presented("updateDetailsSheet");
    }

    // The import wizard opened from the sidebar, filled in up to its
    // review, shown at `step`, then brought into a state by `then`.
    MigrationSheet* importWizard(int step, const std::function<void(MigrationDraft&)>& then = {}) {
        listThree();
        install({"php@8.4"});
        showWindow();
        click("importProjectButton");
        auto* wizard = qobject_cast<MigrationSheet*>(presented("migrationSheet"));
        if (!wizard)
            return nullptr;
        MigrationDraft& draft = wizard->draft();
        draft.setName("Client portal");
        draft.setFolder("/home/alex/Projects/client-portal");
        draft.setMode(ProjectImportMode::copy);
        draft.setPublicDirectory("public");
        draft.setDatabaseName("portal");
        draft.setSQL("/home/alex/Backups/client-portal-2026-11-30.sql");
        draft.setHTTPS(true);
        draft.setPhpMyAdmin(true);
        draft.setInstallMissing(true);
        draft.setStep(step);
        if (then)
            then(draft);
        settle();
        return wizard;
    }

    // A quit asked while an import runs: the wizard goes on importing, the
    // status bar tells of the stop that waits for it.
    MigrationSheet* quitDuringImport() {
        MigrationSheet* wizard =
            importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                draft.setImporting(true);
                draft.setPhase(MigrationPhase::importing);
            });
        if (!wizard)
            return nullptr;
        engine->hold("migrate");
        MigrationRequest request;
        request.name = "Client portal";
        EXPECT_TRUE(
            model().performChecked(L10n::text("Importing project…"), true, [request](AppEngine& e) {
                return e.migrate(request, [](MigrationPhase) {}).report.succeeded;
            }));
        EXPECT_TRUE(waitUntilHeld("migrate"));
        model().shutdown();
        EXPECT_TRUE(model().quitting());
        settle();
        return wizard;
    }

    // The result of an import of the client portal.
    MigrationResult importResult(bool succeeded) {
        MigrationResult result;
        result.profile = shop();
        result.profile.name = "Client portal";
        result.report.succeeded = succeeded;
        if (succeeded) {
            result.report.tableCount = 42;
            result.report.message = "Stack verification passed. Update your project’s connection "
                                    "settings, then open the site to verify the application.";
        } else {
            result.report.message =
                "SQL import failed (ERROR 1064 (42000) at line 3). The new environment has been "
                "stopped. Check version compatibility, collations, DEFINER clauses and qualified "
                "database names before retrying.";
        }
        return result;
    }

    // The editor's header button, clicked as a user would.
    void clickEditor(const char* name) {
        EnvironmentEditor* shown = editor();
        auto* button = shown ? shown->findChild<QAbstractButton*>(name) : nullptr;
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

const std::vector<WindowPicturesTest::Scene>& WindowPicturesTest::scenes() {
    using Test = WindowPicturesTest;
    // Scenes about more than the top of the detail column show all of it.
    const QSize tall(920, 720);
    static const std::vector<Scene> all{
        // The main window.
        {"main-empty",
         [](Test& t) -> QWidget* {
             t.engine->setProfiles({});
             t.install();
             t.showWindow();
             EXPECT_TRUE(t.find("emptyState")->isVisible());
             return &t.window();
         }},
        {"main-environments", [](Test& t) { return t.environments(); }},
        // Before the first poll: the user's own records, statuses not read yet.
        {"main-first-frame",
         [](Test& t) -> QWidget* {
             StackProfile blog = shop();
             blog.id = "env-8c41d2a7-5e3b-4f19-a6d0-2b7e9c3f1a55";
             blog.name = "Blog";
             blog.hostname = std::nullopt;
             blog.virtualHost = false;
             t.engine->setProfiles({shop(), blog});
             return &t.window();
         }},
        {"main-running",
         [](Test& t) -> QWidget* {
             t.listThree();
             t.install();
             t.setRunning("studio");
             t.setRunning(shop().id);
             t.showWindow();
             EXPECT_TRUE(t.waitForRunning("studio", true));
             settle();
             return &t.window();
         }},
        {"main-error",
         [](Test& t) -> QWidget* {
             t.environments();
             t.engine->fail(
                 "start",
                 L10n::text("Port %@ is already in use. Choose a different port.", {"8080"}));
             t.clickEditor("startButton");
             EXPECT_TRUE(t.waitForIdle());
             EXPECT_TRUE(t.model().error().has_value());
             settle();
             return &t.window();
         },
         tall},
        // A launch whose engine did not open: a deletion the Trash cannot
        // finish, as the store's recovery words it, with the folder to move.
        {"main-engine-failed",
         [tall](Test& t) -> QWidget* {
             t.openEngine = [at = t.root.path() /
                                  "Vessora"](const fs::path&) -> std::shared_ptr<AppEngine> {
                 fs::create_directories(at / ".pending-deletions" / shop().id);
                 EnvironmentFiles(at, [](const fs::path& item) {
                     throw VessoraError(L10n::text(
                         "Could not move %@ to the Trash because it is on another file system.",
                         {item.string()}));
                 }).recover({});
                 throw std::logic_error("The recovery did not refuse.");
             };
             // Sized here: the window is made with the model, after the
             // opener is in place.
             t.window().resize(tall);
             EXPECT_FALSE(t.model().hasEngine());
             EXPECT_TRUE(t.waitFor([&] { return t.find("errorBox")->isVisible(); }));
             settle();
             return &t.window();
         }},
        // The status bar after an import that ended with a failed report:
        // the failure text, no error in the window (the wizard shows it).
        {"main-import-failed",
         [](Test& t) -> QWidget* {
             t.environments();
             t.engine->setMigrationOutcome(
                 false, "SQL import failed (ERROR 1064 (42000) at line 3).", std::nullopt);
             MigrationRequest request;
             request.name = "Portal";
             EXPECT_TRUE(t.model().performChecked(
                 L10n::text("Importing project…"), false, [request](AppEngine& e) {
                     return e.migrate(request, [](MigrationPhase) {}).report.succeeded;
                 }));
             EXPECT_TRUE(t.waitForIdle());
             EXPECT_FALSE(t.model().error().has_value());
             settle();
             return &t.window();
         }},
        // The status bar once a local-address set-up has succeeded.
        {"main-local-addresses-done",
         [](Test& t) -> QWidget* {
             t.hostSetup->setStatusAfterRegister(ServiceStatus::enabled);
             t.hostSetup->setStatus(ServiceStatus::notRegistered);
             t.environments();
             t.model().setUpLocalHosts();
             EXPECT_TRUE(
                 t.waitFor([&] { return t.model().localHostReady() && !t.model().busy(); }));
             settle();
             return &t.window();
         }},
        {"main-installing",
         [](Test& t) -> QWidget* {
             t.listThree();
             t.install({"php@8.4"});
             t.showWindow();
             t.engine->hold("install");
             t.clickEditor("installButton");
             EXPECT_TRUE(t.waitUntilHeld("install"));
             fs::create_directories(StackPaths::installLog(t.root.path()).parent_path());
             PrivateFile::write(StackPaths::installLog(t.root.path()),
                                "==> Fetching downloads for: php@8.4\n"
                                "==> Downloading https://ghcr.io/v2/homebrew/core/php/8.4/"
                                "manifests/8.4.3\n"
                                "==> Pouring php@8.4--8.4.3.bottle.tar.gz\n"
                                "==> Caveats\nTo enable PHP in Apache add the following to "
                                "httpd.conf and restart Apache:\n");
             EXPECT_TRUE(t.waitFor([&] { return !t.model().installLog().empty(); }));
             settle();
             return &t.window();
         },
         tall},
        {"main-update-banner",
         [](Test& t) -> QWidget* {
             t.updatesBuild = BuildInfo::release("1.2.0", "6");
             t.feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
             t.environments();
             t.updates().checkManually();
             EXPECT_TRUE(t.waitFor([&] { return t.find("updateBanner")->isVisible(); }));
             settle();
             return &t.window();
         }},

        // The editor.
        {"editor-stopped", [](Test& t) { return t.environments(); }, tall},
        {"editor-unsaved",
         [](Test& t) -> QWidget* {
             t.environments();
             type(t.editor(), "nameField", "Studio 2");
             type(t.editor(), "httpPortField", "8090");
             settle();
             EXPECT_TRUE(t.find("saveBar")->isVisible());
             return &t.window();
         },
         tall},
        {"editor-missing-packages",
         [](Test& t) -> QWidget* {
             t.listThree();
             t.install({"php@8.4", "mariadb@11.4"});
             t.showWindow();
             EXPECT_TRUE(t.find("installBar")->isVisible());
             return &t.window();
         },
         tall},
        {"editor-starting",
         [](Test& t) -> QWidget* {
             t.environments();
             t.engine->hold("start");
             t.clickEditor("startButton");
             EXPECT_TRUE(t.waitUntilHeld("start"));
             settle();
             return &t.window();
         },
         tall},
        {"editor-running-details",
         [](Test& t) -> QWidget* {
             EnvironmentEditor* shopEditor = t.runningShop();
             if (!shopEditor)
                 return nullptr;
             shopEditor->draft().setShowDetails(true);
             settle();
             return &t.window();
         },
         tall},
        {"editor-hostname-https",
         [](Test& t) -> QWidget* {
             t.environments();
             t.select(shop().id);
             return &t.window();
         },
         tall},

        // The main window's sheets and alerts.
        {"new-environment",
         [](Test& t) -> QWidget* {
             t.environments();
             t.click("headerNewButton");
             return t.presented("newEnvironmentSheet");
         }},
        {"new-environment-invalid",
         [](Test& t) -> QWidget* {
             t.environments();
             t.click("headerNewButton");
             QDialog* sheet = t.presented("newEnvironmentSheet");
             type(sheet, "nameField", "Studio");
             type(sheet, "databaseField", "mysql");
             type(sheet, "hostnameField", "shop.test");
             settle();
             return sheet;
         }},
        {"delete-confirmation",
         [](Test& t) -> QWidget* {
             t.environments();
             t.select(shop().id);
             t.clickEditor("deleteButton");
             return t.presented("deleteConfirmation");
         }},
        {"local-addresses-not-set-up",
         [](Test& t) { return t.localAddresses(ServiceStatus::notRegistered); }},
        {"local-addresses-approval",
         [](Test& t) -> QWidget* {
             QDialog* sheet = t.localAddresses(ServiceStatus::requiresApproval);
             EXPECT_TRUE(t.waitFor([&] {
                 auto* status = sheet ? sheet->findChild<QWidget*>("approvalStatus") : nullptr;
                 return status && status->isVisibleTo(sheet);
             }));
             settle();
             return sheet;
         }},
        {"local-addresses-ready",
         [](Test& t) -> QWidget* {
             t.hostSetup->setStatusAfterRegister(ServiceStatus::enabled);
             QDialog* sheet = t.localAddresses(ServiceStatus::notRegistered);
             t.model().setUpLocalHosts();
             EXPECT_TRUE(
                 t.waitFor([&] { return t.model().localHostReady() && !t.model().busy(); }));
             settle();
             return sheet;
         }},
        {"local-addresses-error",
         [](Test& t) -> QWidget* {
             t.hostSetup->failRegister(L10n::text(
                 "Install the signed Vessora release system-wide to enable local host setup."));
             QDialog* sheet = t.localAddresses(ServiceStatus::notRegistered);
             t.model().setUpLocalHosts();
             EXPECT_TRUE(t.waitForIdle());
             EXPECT_TRUE(t.model().error().has_value());
             settle();
             return sheet;
         }},

        // Updates.
        {"update-details-available",
         [](Test& t) {
             return t.updateDetails(
                 [&] { t.feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9)); });
         }},
        {"update-details-up-to-date",
         [](Test& t) {
             return t.updateDetails(
                 [&] { t.feed->answer(FakeReleaseFeed::makeRelease("1.2.0", 6)); });
         }},
        {"update-details-failed",
         [](Test& t) { return t.updateDetails([&] { t.feed->failTransport(); }); }},
        {"update-details-checking",
         [](Test& t) -> QWidget* {
             t.updatesBuild = BuildInfo::release("1.2.0", "6");
             t.feed->hold();
             t.feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
             t.environments();
             t.updates().checkManually();
             t.updates().presentDetails();
             EXPECT_TRUE(t.updates().isChecking());
             return t.presented("updateDetailsSheet");
         }},
        {"update-details-development-build",
         [](Test& t) -> QWidget* {
             t.environments();
             t.updates().presentDetails();
             return t.presented("updateDetailsSheet");
         }},
        {"about",
         [](Test& t) -> QWidget* {
             t.updatesBuild = BuildInfo::release("1.2.0", "6");
             t.environments();
             t.window().findChild<QAction*>("aboutAction")->trigger();
             return t.presented("aboutBox");
         }},
        {"open-refused",
         [](Test& t) -> QWidget* {
             t.environments();
             t.desktop->accepts = false;
             auto* support = t.window().findChild<QAbstractButton*>("supportLink");
             if (!support)
                 return nullptr;
             QTest::mouseClick(support, Qt::LeftButton);
             return t.shownChild<QMessageBox>(&t.window(), "openRefusedAlert");
         }},
        {"settings",
         [](Test& t) -> QWidget* {
             t.environments();
             auto* settings = new SettingsWindow(
                 t.preferences(), new PreferencesView(t.preferences(), t.updates()), &t.window());
             settings->show();
             settle();
             return settings;
         }},

        // The import wizard.
        {"import-project", [](Test& t) { return t.importWizard(MigrationDraft::projectStep); }},
        {"import-database", [](Test& t) { return t.importWizard(MigrationDraft::databaseStep); }},
        {"import-runtime", [](Test& t) { return t.importWizard(MigrationDraft::runtimeStep); }},
        {"import-review", [](Test& t) { return t.importWizard(MigrationDraft::reviewStep); }},
        {"import-running",
         [](Test& t) -> QWidget* {
             return t.importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                 draft.setImporting(true);
                 draft.setPhase(MigrationPhase::importing);
             });
         }},
        {"import-quit-waiting", [](Test& t) -> QWidget* { return t.quitDuringImport(); }},
        // The application menu with its keys.
        {"main-menu",
         [](Test& t) -> QWidget* {
             t.environments();
             auto* menu = t.window().findChild<QMenu*>("applicationMenu");
             if (!menu)
                 return nullptr;
             menu->popup(t.window().mapToGlobal(QPoint(8, 24)));
             EXPECT_TRUE(t.waitFor([&] { return menu->isVisible(); }));
             settle();
             return menu;
         }},
        {"main-quit-waiting",
         [](Test& t) -> QWidget* {
             if (!t.quitDuringImport())
                 return nullptr;
             return &t.window();
         }},
        {"import-failed",
         [](Test& t) -> QWidget* {
             return t.importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                 draft.setError(
                     L10n::text("The project contains an absolute or external symbolic link. Use "
                                "the existing folder, or replace that link before copying."));
             });
         }},
        // The chosen dump is a web page or an XML export, refused before
        // anything is made.
        {"import-not-sql",
         [](Test& t) -> QWidget* {
             return t.importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                 draft.setError(L10n::text("The file “%@” is an HTML or XML file, not an SQL "
                                           "dump. Export the database as SQL statements, then "
                                           "choose that file.",
                                           {"client-portal-2026-11-30.sql"}));
             });
         }},
        {"import-succeeded",
         [](Test& t) -> QWidget* {
             return t.importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                 draft.finish(t.importResult(true));
             });
         }},
        {"import-incomplete",
         [](Test& t) -> QWidget* {
             return t.importWizard(MigrationDraft::reviewStep, [&](MigrationDraft& draft) {
                 draft.finish(t.importResult(false));
             });
         }},
        {"import-cleanup",
         [](Test& t) -> QWidget* {
             MigrationSheet* wizard = t.importWizard(MigrationDraft::reviewStep);
             if (!wizard)
                 return nullptr;
             wizard->draft().finish(t.importResult(false));
             wizard->draft().setConfirmCleanup(true);
             return t.shownChild<QMessageBox>(wizard, "cleanupConfirmation");
         }},

        // The editor's sheets.
        {"certificate-not-trusted", [](Test& t) { return t.certificateSheet(false); }},
        {"certificate-trusted", [](Test& t) { return t.certificateSheet(true); }},
        {"certificate-unreadable",
         [](Test& t) {
             return t.certificateSheet(false, L10n::text("Could not read the local HTTPS "
                                                         "certificate."));
         }},
        {"database-manager-stopped",
         [](Test& t) -> QWidget* {
             t.listThree();
             t.install();
             t.showWindow();
             return t.databaseManager(t.select(shop().id));
         }},
        {"database-manager-loading",
         [](Test& t) -> QWidget* {
             t.engine->hold("databaseAdminSnapshot");
             QWidget* manager = t.databaseManager(t.runningShop());
             EXPECT_TRUE(t.waitUntilHeld("databaseAdminSnapshot"));
             settle();
             return manager;
         }},
        {"database-manager-databases", [](Test& t) { return t.loadedDatabaseManager(); }},
        {"database-manager-users",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().setTab(DatabaseManagerDraft::usersTab);
             manager->draft().setSelectedUserID("writer@127.0.0.1");
             settle();
             return manager;
         }},
        {"database-manager-users-4", [](Test& t) { return t.usersTab(4); }},
        {"database-manager-users-12", [](Test& t) { return t.usersTab(12); }},
        {"database-manager-failed",
         [](Test& t) -> QWidget* {
             t.engine->fail("databaseAdminSnapshot",
                            L10n::text("Database operation failed (%@). Refresh to review the "
                                       "current state. No existing data was deleted.",
                                       {"ERROR 2002 (HY000)"}));
             DatabaseManagerSheet* manager = t.databaseManager(t.runningShop());
             EXPECT_TRUE(t.waitFor([&] {
                 return manager && manager->draft().error().has_value() && !t.model().busy();
             }));
             settle();
             return manager;
         }},
        {"database-new-database",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().openNewDatabase();
             return t.shownChild(manager, "newDatabaseForm");
         }},
        {"database-new-user",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().setTab(DatabaseManagerDraft::usersTab);
             manager->draft().openNewUser();
             return t.shownChild(manager, "newUserForm");
         }},
        {"database-change-password",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().setTab(DatabaseManagerDraft::usersTab);
             manager->draft().setSelectedUserID("writer@127.0.0.1");
             manager->draft().openChangePassword();
             return t.shownChild(manager, "passwordForm");
         }},
        {"database-delete-user",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().setTab(DatabaseManagerDraft::usersTab);
             manager->draft().setSelectedUserID("writer@127.0.0.1");
             manager->draft().requestDeleteUser();
             return t.shownChild<QMessageBox>(manager, "deleteUserConfirmation");
         }},
        {"database-credentials-running",
         [](Test& t) -> QWidget* {
             DatabaseManagerSheet* manager = t.loadedDatabaseManager();
             if (!manager)
                 return nullptr;
             manager->draft().openCredentials();
             return t.shownChild(manager, "databaseSheet");
         }},
        {"database-credentials-stopped",
         [](Test& t) -> QWidget* {
             t.listThree();
             t.install();
             t.engine->setApplicationPassword(shop().id, "q7Lm2xWv9PzR4tKc");
             t.showWindow();
             DatabaseManagerSheet* manager = t.databaseManager(t.select(shop().id));
             if (!manager)
                 return nullptr;
             manager->draft().openCredentials();
             return t.shownChild(manager, "databaseSheet");
         }},
    };
    return all;
}

TEST_P(WindowPicturesTest, SceneRendersAPicture) {
    const auto& [name, language] = GetParam();
    const Scene* found = scene(name);
    ASSERT_NE(found, nullptr);
    speak(language);
    if (!found->windowSize.isEmpty())
        window().resize(found->windowSize);

    QWidget* subject = found->show(*this);
    ASSERT_NE(subject, nullptr) << "the scene shows nothing";
    ASSERT_TRUE(subject->isVisible());
    settle();
    const QImage picture = subject->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GE(picture.width(), 200);
    EXPECT_GE(picture.height(), 80);
    // Blank or one-coloured: nothing was drawn.
    EXPECT_LT(plainShare(picture), 0.985);

    const fs::path file =
        fs::path(VESSORA_BINARY_DIR) / "pictures" / AppLanguages::id(language) / (name + ".png");
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(picture.save(QString::fromStdString(file.string()), "PNG")) << file;
    // Cut-off texts are for a person to judge from the picture; name them.
    for (const std::string& clipped : clippedTexts(*subject->window()))
        std::cout << "cut off in " << file.string() << ": " << clipped << '\n';
}

std::vector<std::string> sceneNames() {
    std::vector<std::string> names;
    for (const auto& scene : WindowPicturesTest::scenes())
        names.push_back(scene.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Pictures, WindowPicturesTest,
                         ::testing::Combine(::testing::ValuesIn(sceneNames()),
                                            ::testing::ValuesIn(AppLanguages::allCases.begin(),
                                                                AppLanguages::allCases.end())),
                         [](const ::testing::TestParamInfo<WindowPicturesTest::ParamType>& tested) {
                             std::string name = std::get<0>(tested.param) + "_" +
                                                AppLanguages::id(std::get<1>(tested.param));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace vessora
