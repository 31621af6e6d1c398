// The environment editor through its widgets with the fake engine: the
// draft against polls, reloads and a changed saved record; the save,
// discard and install bars; the local-address and HTTPS rows; the details
// group; the web folder; and the lock of the form.
#include "Vessora/Controls/EditorSection.hpp"
#include "Vessora/Controls/ElidingButton.hpp"
#include "Vessora/Controls/LocalAddressField.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "Vessora/Windows/EditorDetails.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/EditorTest.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QToolButton>

#include <algorithm>

namespace vessora {
namespace {

class EnvironmentEditorTest : public EditorTest {
protected:
    // Picks a formula in a picker as the user would.
    void pick(const char* picker, const std::string& formula) {
        VersionPopUp* popUp = find<PackagePicker>(picker)->popUp();
        const int index = popUp->findData(QString::fromStdString(formula));
        ASSERT_GE(index, 0) << formula;
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
    }
};

TEST_F(EnvironmentEditorTest, TheDraftSurvivesPollsAndReloadsAndResetsOnASavedChange) {
    startMonitor();
    QPointer<EnvironmentEditor> first = showSelected();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->saved().id, "studio");

    type("nameField", "Studio 2");
    type("httpPortField", "8090");
    auto* port = find<QLineEdit>("httpPortField");
    port->setCursorPosition(2);
    EXPECT_EQ(draft().profile().name, "Studio 2");
    EXPECT_EQ(draft().profile().httpPort, 8090);

    // Polls that change the statuses redraw the editor, never remake it.
    engine->setStatus("legacy", StackStatus{true, "Running", {{"MariaDB", 7}}});
    letPollsPass();
    ASSERT_TRUE(waitFor([&] { return model().anyRunning(); }));
    ASSERT_EQ(editor(), first);
    EXPECT_EQ(text("nameField"), "Studio 2");
    EXPECT_TRUE(port->hasFocus());
    EXPECT_EQ(port->cursorPosition(), 2);
    EXPECT_EQ(draft().profile().httpPort, 8090);
    EXPECT_TRUE(shown("saveBar"));

    // A reload that brings the same record back keeps the editor too.
    reload();
    ASSERT_EQ(editor(), first);
    EXPECT_EQ(draft().profile().name, "Studio 2");

    // Saving changes the saved record: a new editor with a clean draft.
    click("saveButton");
    ASSERT_TRUE(waitForIdle());
    ASSERT_TRUE(waitFor([&] { return first.isNull(); }));
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->saved().name, "Studio 2");
    EXPECT_EQ(editor()->saved().httpPort, 8090);
    EXPECT_EQ(draft().profile(), editor()->saved());
    EXPECT_FALSE(shown("saveBar"));
    EXPECT_EQ(model().activity(), "Done");

    // Another selection drops unsaved edits without a prompt.
    type("nameField", "Unsaved");
    QPointer<EnvironmentEditor> second = editor();
    model().setSelectedID("legacy");
    ASSERT_TRUE(waitFor([&] { return second.isNull(); }));
    EXPECT_EQ(editor()->saved().id, "legacy");
    model().setSelectedID("studio");
    EXPECT_EQ(text("nameField"), "Studio 2");
    EXPECT_FALSE(editor()->state().unsaved());
}

TEST_F(EnvironmentEditorTest, SaveHandsOverTheDraftAsItStoodAndAFailureKeepsTheEdits) {
    startMonitor();
    showSelected();
    engine->hold("update");
    type("nameField", "Shop");
    click("saveButton");
    ASSERT_TRUE(waitUntilHeld("update"));
    EXPECT_EQ(model().activity(), "Saving environment…");
    // The form is locked while the save runs, and a later change of the
    // draft is not what gets saved.
    EXPECT_FALSE(enabled("runtimeSection"));
    draft().edit([](StackProfile& profile) { profile.name = "Shop later"; });
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("discardButton"));
    engine->release("update");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->storedProfiles().front().name, "Shop");

    engine->fail("update", "Stop the environment before changing its settings.");
    QPointer<EnvironmentEditor> current = editor();
    type("nameField", "Refused");
    type("databasePortField", "13399");
    click("saveButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().error(), "Stop the environment before changing its settings.");
    ASSERT_EQ(editor(), current);
    EXPECT_EQ(draft().profile().name, "Refused");
    EXPECT_EQ(draft().profile().databasePort, 13399);
    EXPECT_TRUE(shown("saveBar"));
    EXPECT_TRUE(enabled("saveButton"));
}

TEST_F(EnvironmentEditorTest, TheSaveBarFollowsTheDraftWithTheSeriesNoteAndDiscardRestoresAll) {
    const TemporaryFolder site("vessora-editor-site");
    startMonitor();
    installEverything();
    showSelected();
    EXPECT_FALSE(shown("editorActionBar"));

    pick("mariaDBPicker", "mariadb@10.11");
    EXPECT_TRUE(shown("saveBar"));
    EXPECT_TRUE(shown("seriesNote"));
    EXPECT_EQ(text("seriesNote"), "Each MariaDB series uses its own database. Existing data "
                                  "stays available when you switch back.");
    EXPECT_EQ(text("unsavedLabel"), "Unsaved changes");
    pick("mariaDBPicker", "mariadb@11.4");
    EXPECT_FALSE(shown("editorActionBar"));

    // Every kind of field, then Discard.
    type("nameField", "Other");
    pick("phpPicker", "php@8.3");
    pick("webserverPicker", "httpd");
    find<QCheckBox>("phpMyAdminBox")->click();
    find<QCheckBox>("httpsBox")->click();
    type("phpPortField", "9999");
    auto* address = find<LocalAddressField>("localAddressField");
    address->lineEdit()->setFocus();
    QTest::keyClicks(address->lineEdit(), "shop.test");
    auto* folder = find<WebDirectoryField>("webDirectoryField");
    QTest::mouseClick(folder->chooseButton(), Qt::LeftButton);
    chooser->answer(site.path());
    const StackProfile& edited = draft().profile();
    EXPECT_EQ(edited.documentRoot, site.path().string());
    EXPECT_TRUE(edited.virtualHost);
    EXPECT_EQ(edited.httpsPort, model().suggestedHTTPSPort());
    EXPECT_FALSE(shown("seriesNote"));

    click("discardButton");
    EXPECT_EQ(draft().profile(), editor()->saved());
    EXPECT_FALSE(shown("editorActionBar"));
    EXPECT_EQ(text("nameField"), "Studio");
    EXPECT_EQ(text("phpPortField"), "9084");
    EXPECT_EQ(folder->path(), std::nullopt);
    EXPECT_FALSE(find<QCheckBox>("httpsBox")->isChecked());
    EXPECT_EQ(address->lineEdit()->text(), "");
}

TEST_F(EnvironmentEditorTest, SaveIsLockedWhileTheEnvironmentHasProcessesAndDiscardOnlyWhileBusy) {
    startMonitor();
    showSelected();
    type("nameField", "Edited");
    EXPECT_TRUE(enabled("saveButton"));
    EXPECT_TRUE(enabled("editorForm"));

    // Still starting: processes without running.
    engine->setStatus("studio", StackStatus{false, "Preparing…", {{"MariaDB", 11}}});
    ASSERT_TRUE(waitFor([&] { return !enabled("saveButton"); }));
    EXPECT_FALSE(enabled("editorForm"));
    EXPECT_TRUE(enabled("discardButton"));

    engine->setStatus("studio", StackStatus{true, "Running", {{"MariaDB", 11}}});
    ASSERT_TRUE(waitFor([&] { return model().statuses().at("studio").running; }));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("editorForm"));
    EXPECT_TRUE(enabled("discardButton"));

    engine->setStatus("studio", StackStatus{false, "Stopped", {}});
    ASSERT_TRUE(waitFor([&] { return enabled("saveButton"); }));
    EXPECT_TRUE(enabled("editorForm"));

    engine->hold("stopAll");
    ASSERT_TRUE(
        model().perform("Stopping all environments…", false, [](AppEngine& e) { e.stopAll(); }));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("discardButton"));
    EXPECT_FALSE(enabled("editorForm"));
    engine->release("stopAll");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(enabled("discardButton"));
}

TEST_F(EnvironmentEditorTest, AnEnvironmentWithoutAStatusYetReadsCheckingAndIsEditable) {
    engine->hold("statuses");
    model().startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().selectedProfile().has_value(); }));
    showSelected();
    EXPECT_EQ(text("statusText"), "Checking…");
    EXPECT_TRUE(enabled("editorForm"));
    EXPECT_FALSE(enabled("stopButton"));
    EXPECT_FALSE(enabled("openSiteButton"));
    engine->release("statuses");
}

TEST_F(EnvironmentEditorTest, TheInstallBarNeedsAKnownStatusAMissingPackageAndNoUnsavedChanges) {
    // Nothing is installed, but the status is not known yet.
    engine->hold("installations");
    model().startMonitor();
    ASSERT_TRUE(waitFor([&] { return model().selectedProfile().has_value(); }));
    showSelected();
    EXPECT_FALSE(model().packageStatusKnown());
    EXPECT_FALSE(shown("editorActionBar"));
    engine->release("installations");
    ASSERT_TRUE(waitFor([&] { return model().statuses().count("studio") != 0; }));

    InstallationStatus missing;
    missing.installed = {{"nginx", true}, {"php@8.4", true}, {"mariadb@11.4", false}};
    engine->setInstallations(missing);
    refreshPackages();
    EXPECT_TRUE(shown("installBar"));
    EXPECT_FALSE(shown("saveBar"));
    EXPECT_EQ(text("installButton"), "Install packages");
    EXPECT_EQ(text("installCaption"), "Download the missing packages to start.");
    EXPECT_TRUE(enabled("installButton"));

    // A version changed in the draft counts only once saved.
    type("nameField", "Edited");
    EXPECT_TRUE(shown("saveBar"));
    EXPECT_FALSE(shown("installBar"));
    click("discardButton");
    EXPECT_TRUE(shown("installBar"));

    engine->setStatus("legacy", StackStatus{true, "Running", {{"MariaDB", 5}}});
    ASSERT_TRUE(waitFor([&] { return model().anyRunning(); }));
    EXPECT_FALSE(enabled("installButton"));
    EXPECT_EQ(text("installCaption"), "Stop all environments before installing.");
    engine->setStatus("legacy", StackStatus{false, "Stopped", {}});
    ASSERT_TRUE(waitFor([&] { return !model().anyRunning(); }));

    engine->hold("install");
    click("installButton");
    ASSERT_TRUE(waitUntilHeld("install"));
    EXPECT_EQ(model().activity(), "Installing packages for Studio…");
    EXPECT_FALSE(enabled("installButton"));
    engine->release("install");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("install"), 1);
    EXPECT_NE(std::find(engine->log().begin(), engine->log().end(), "install(studio)"),
              engine->log().end());

    missing.installed["mariadb@11.4"] = true;
    engine->setInstallations(missing);
    refreshPackages();
    EXPECT_FALSE(shown("editorActionBar"));
}

TEST_F(EnvironmentEditorTest, InstallNeedsAnEngine) {
    AppModel::Options noEngine = options();
    noEngine.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw std::runtime_error("Another Vessora instance is already using this data directory.");
    };
    AppModel broken(noEngine);
    ASSERT_FALSE(broken.hasEngine());
    ProfileDraft draft(StackProfile::defaults().front());
    EditorState state(broken, StackProfile::defaults().front(), draft);
    EXPECT_FALSE(state.ready());
    EnvironmentEditor editor(broken, preferences, StackProfile::defaults().front(), &window);
    // Without a known package status no install bar shows at all; its
    // button's rule still refuses without an engine.
    EXPECT_FALSE(editor.findChild<QWidget*>("editorActionBar")->isVisibleTo(&window));
    EXPECT_FALSE(editor.findChild<QWidget*>("installButton")->isEnabled());
}

TEST_F(EnvironmentEditorTest, TheLocalAddressAndHTTPSRowsFollowTheSavedRecord) {
    storeStudio([](StackProfile& studio) {
        studio.hostname = "studio.test";
        studio.virtualHost = true;
        studio.httpsEnabled = true;
    });
    startMonitor();
    showSelected();
    EXPECT_TRUE(shown("localAddressRow"));
    EXPECT_EQ(text("localAddressStatus"), "Set up local addresses to use this hostname");
    EXPECT_EQ(text("localAddressesButton"), "Local addresses…");
    // HTTPS without a port: the row names local HTTPS.
    EXPECT_TRUE(shown("httpsRow"));
    EXPECT_EQ(text("httpsLabel"), "Local HTTPS");
    // Shown as "HTTPS & certificate", with no shortcut letter.
    EXPECT_EQ(text("certificateButton"), "HTTPS && certificate");

    click("localAddressesButton");
    EXPECT_TRUE(model().showLocalHosts());

    // Unsaved edits do not move the rows.
    find<QCheckBox>("httpsBox")->click();
    type("nameField", "x");
    EXPECT_TRUE(shown("httpsRow"));

    storeStudio([](StackProfile& studio) {
        studio.httpsEnabled = true;
        studio.httpsPort = 8443;
    });
    reload();
    EXPECT_FALSE(shown("localAddressRow"));
    EXPECT_EQ(text("httpsLabel"), "https://127.0.0.1:8443");

    storeStudio([](StackProfile&) {});
    reload();
    EXPECT_FALSE(shown("httpsRow"));
    EXPECT_FALSE(shown("localAddressRow"));
}

TEST_F(EnvironmentEditorTest, TheLocalAddressRowSaysWhenAddressesAreReady) {
    storeStudio([](StackProfile& studio) {
        studio.hostname = "studio.test";
        studio.virtualHost = true;
    });
    startMonitor();
    showSelected();
    EXPECT_EQ(find<QLabel>("localAddressIcon")->property("iconName").toString(),
              "network-workgroup");
    connectLocalAddresses();
    EXPECT_EQ(text("localAddressStatus"), "Local addresses are ready");
    EXPECT_EQ(find<QLabel>("localAddressIcon")->property("iconName").toString(), "emblem-ok");
    letPollsPass();
    EXPECT_EQ(text("localAddressStatus"), "Local addresses are ready");
}

TEST_F(EnvironmentEditorTest, TheCertificateSheetShowsTheSavedRecordWhileItsFlagIsSet) {
    storeStudio([](StackProfile& studio) {
        studio.httpsEnabled = true;
        studio.httpsPort = 8443;
    });
    startMonitor();
    showSelected();
    type("nameField", "Unsaved name");
    click("certificateButton");
    EXPECT_TRUE(draft().showCertificate());
    QPointer<QDialog> sheet = editor()->certificateSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->objectName(), "localHTTPSSheet");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    // The sheet names the saved environment, not the draft's name.
    const auto labels = sheet->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](QLabel* label) { return label->text() == "Studio"; }));
    EXPECT_FALSE(std::any_of(labels.begin(), labels.end(),
                             [](QLabel* label) { return label->text().contains("Unsaved name"); }));
    // Polls leave it open.
    letPollsPass();
    EXPECT_EQ(editor()->certificateSheet(), sheet);

    sheet->reject();
    EXPECT_FALSE(draft().showCertificate());
    ASSERT_TRUE(waitFor([&] { return sheet.isNull(); }));
    EXPECT_EQ(editor()->certificateSheet(), nullptr);
    // The draft outlived the sheet.
    EXPECT_EQ(draft().profile().name, "Unsaved name");
}

TEST_F(EnvironmentEditorTest, DatabasesOpensTheManagerOfTheSavedRecord) {
    startMonitor();
    showSelected();
    type("nameField", "Unsaved name");
    click("databasesButton");
    EXPECT_TRUE(draft().showDatabase());
    QPointer<QDialog> sheet = editor()->databaseSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->objectName(), "databaseManagerSheet");
    EXPECT_TRUE(sheet->isVisible());
    const auto labels = sheet->findChildren<QLabel*>();
    EXPECT_FALSE(std::any_of(labels.begin(), labels.end(),
                             [](QLabel* label) { return label->text().contains("Unsaved name"); }));
    sheet->reject();
    EXPECT_FALSE(draft().showDatabase());
    ASSERT_TRUE(waitFor([&] { return sheet.isNull(); }));
}

TEST_F(EnvironmentEditorTest, TheDetailsListTheWebFolderAndTheRunningProcessesInOrder) {
    startMonitor();
    showSelected();
    EXPECT_FALSE(shown("detailsContent"));
    click("detailsToggle");
    EXPECT_TRUE(draft().showDetails());
    EXPECT_TRUE(shown("detailsContent"));
    EXPECT_EQ(text("webPath"), StackPaths(root.path(), editor()->saved()).web().string());
    EXPECT_FALSE(shown("processList"));
    EXPECT_EQ(text("detailsNote"),
              "Each environment has separate files, configuration, and databases. Closing "
              "Vessora stops its services. Homebrew packages and libraries are shared.");

    // Processes of an environment that is still starting are not listed.
    engine->setStatus("studio", StackStatus{false, "Preparing…", {{"PHP", 3}}});
    letPollsPass();
    EXPECT_FALSE(shown("processList"));
    engine->setStatus("studio",
                      StackStatus{true, "Running", {{"nginx", 30}, {"PHP", 20}, {"MariaDB", 10}}});
    ASSERT_TRUE(waitFor([&] { return shown("processList"); }));
    EXPECT_EQ(text("processList"), "MariaDB: 10 · PHP: 20 · nginx: 30");
    // The expanded group survives the polls.
    letPollsPass();
    EXPECT_TRUE(draft().showDetails());
    click("detailsToggle");
    EXPECT_FALSE(shown("detailsContent"));
}

TEST_F(EnvironmentEditorTest, AProjectFolderShowsInTheWebFolderFieldAndTheDefaultClearsBoth) {
    storeStudio([](StackProfile& studio) { studio.projectSubdirectory = "web"; });
    startMonitor();
    showSelected();
    auto* folder = find<WebDirectoryField>("webDirectoryField");
    const std::string project = (root.path() / "studio" / "project" / "web").string();
    EXPECT_EQ(folder->path(), project);
    EXPECT_EQ(find<WebDirectoryField>("webDirectoryField")->chooseButton()->text(), "web");
    EXPECT_FALSE(editor()->state().unsaved());

    QTest::mouseClick(folder->resetButton(), Qt::LeftButton);
    EXPECT_EQ(draft().profile().documentRoot, std::nullopt);
    EXPECT_EQ(draft().profile().projectSubdirectory, std::nullopt);
    EXPECT_EQ(folder->path(), std::nullopt);
    EXPECT_TRUE(shown("saveBar"));
    click("discardButton");
    EXPECT_EQ(folder->path(), project);
}

TEST_F(EnvironmentEditorTest, NoTextIsCutOffInAnyLanguageAtTheSmallestWidth) {
    storeStudio([](StackProfile& studio) {
        studio.hostname = "studio.test";
        studio.virtualHost = true;
        studio.httpsEnabled = true;
        studio.httpsPort = 8443;
        studio.phpMyAdminEnabled = true;
    });
    startMonitor();
    InstallationStatus missing;
    missing.packages = PackageCatalog::fallback();
    engine->setInstallations(missing);
    refreshPackages();
    showSelected();
    draft().setShowDetails(true);
    const auto check = [&](const char* state) {
        for (AppLanguage language : AppLanguages::allCases) {
            preferences.setLanguage(language);
            EXPECT_EQ(clippedTexts(window), std::vector<std::string>{})
                << state << " in " << AppLanguages::id(language);
            // The editor fits the detail column of the smallest main window
            // without pushing the window wider.
            EXPECT_EQ(window.width(), 640) << state << " in " << AppLanguages::id(language);
        }
    };
    check("install bar");
    pick("mariaDBPicker", "mariadb@10.11");
    check("save bar with the series note");
    click("discardButton");
    engine->setStatus("studio", StackStatus{true, "Running", {{"MariaDB", 1}, {"PHP", 2}}});
    ASSERT_TRUE(waitFor([&] { return shown("processList"); }));
    check("running");
}

TEST_F(EnvironmentEditorTest, EveryTextFollowsTheLanguage) {
    startMonitor();
    showSelected();
    type("nameField", "Edited");
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(text("saveButton"), "Änderungen sichern");
    EXPECT_EQ(text("startButton"), "Starten");
    EXPECT_EQ(text("openSiteButton"), "Website öffnen");
    EXPECT_EQ(find<EditorSection>("runtimeSection")->findChild<QLabel*>("sectionTitle")->text(),
              "Laufzeit");
    // The user's text stays as typed.
    EXPECT_EQ(text("nameField"), "Edited");
    preferences.setLanguage(AppLanguage::english);
    EXPECT_EQ(text("saveButton"), "Save changes");
}

} // namespace
} // namespace vessora
