// The stage the window pictures are taken on: the main window's fixture
// (fake engine, fake registration, fake feed, in-memory defaults) in one
// interface language, with Qt's own texts in that language too, recorded
// desktop requests and a fake file chooser, and the steps scenes are made
// of. Every step waits, bounded, until the window shows its result, and
// fails the test when it does not.
#pragma once

#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QTranslator>

#include <memory>
#include <set>
#include <string>

namespace vessora {

class PictureStage : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        DesktopServices::setCurrent(desktop);
        FileChooser::setCurrent(chooser);
    }

    void TearDown() override {
        engine->releaseAll();
        MainWindowTest::TearDown();
        FileChooser::setCurrent(nullptr);
        DesktopServices::setCurrent(nullptr);
        if (qtTexts_)
            QCoreApplication::removeTranslator(qtTexts_.get());
    }

    // The interface language, and Qt's own texts (standard buttons) in it,
    // as the program loads them at its start.
    void speak(AppLanguage language) {
        preferences().setLanguage(language);
        const std::string code = AppLanguages::id(language);
        if (language == AppLanguage::english)
            return;
        qtTexts_ = std::make_unique<QTranslator>();
        ASSERT_TRUE(qtTexts_->load(QString::fromStdString("qtbase_" + code),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            << code;
        QCoreApplication::installTranslator(qtTexts_.get());
    }

    // The two built-in environments and a third with a hostname, HTTPS
    // and phpMyAdmin.
    static StackProfile shop() {
        StackProfile profile = StackProfile::defaults().front();
        profile.id = "env-3b2f6c1e-8a4d-4c2e-9f3a-6d5b7e8c9a01";
        profile.name = "Client Shop";
        profile.httpPort = 8190;
        profile.phpPort = 9190;
        profile.databasePort = 13390;
        profile.hostname = "shop.test";
        profile.virtualHost = true;
        profile.httpsEnabled = true;
        profile.httpsPort = 8543;
        profile.phpMyAdminEnabled = true;
        profile.databaseName = "shop";
        return profile;
    }
    void listThree() {
        auto profiles = StackProfile::defaults();
        profiles.push_back(shop());
        engine->setProfiles(profiles);
    }

    // Every formula the environments need is installed, except `missing`.
    void install(const std::vector<std::string>& missing = {}) {
        InstallationStatus status;
        status.packages = PackageCatalog::fallback();
        for (const auto& profile : engine->storedProfiles())
            for (const auto& formula : profile.formulae())
                status.installed[formula] = true;
        for (const char* formula : {"nginx", "httpd", "phpmyadmin"})
            status.installed[formula] = true;
        for (const auto& formula : missing)
            status.installed[formula] = false;
        engine->setInstallations(status);
    }

    // The engine reports the environment running with its three servers,
    // in the interface language as the engine words it; the others stopped.
    void setRunning(const std::string& id) {
        engine->setStatus(id, StackStatus{true,
                                          L10n::text("Running"),
                                          {{"MariaDB", 41230}, {"PHP", 41236}, {"nginx", 41242}}});
        running_.insert(id);
    }

    // Shows the window with the monitor running and the package status
    // loaded, the first environment selected when there is one.
    void showWindow() {
        for (const auto& profile : engine->storedProfiles())
            if (!running_.contains(profile.id))
                engine->setStatus(profile.id, StackStatus{false, L10n::text("Stopped"), {}});
        window();
        startMonitor();
        ASSERT_TRUE(waitFor([&] { return model().packageStatusKnown() && !model().busy(); }));
        settle();
    }

    // Selects an environment and waits for its editor.
    EnvironmentEditor* select(const std::string& id) {
        model().setSelectedID(id);
        EXPECT_TRUE(waitFor([&] {
            EnvironmentEditor* shown = editor();
            return shown && shown->saved().id == id;
        }));
        settle();
        return editor();
    }

    EnvironmentEditor* editor() {
        return qobject_cast<EnvironmentEditor*>(window().detail().editorSlot().editor());
    }

    // Waits until the model shows the environment's status as running (or
    // not).
    bool waitForRunning(const std::string& id, bool running) {
        return waitFor([&] {
            const auto status = model().statuses().find(id);
            return status != model().statuses().end() && status->second.running == running;
        });
    }

    // The window's sheet once it is the one with this object name.
    QDialog* presented(const char* name) {
        EXPECT_TRUE(waitForSheet(name)) << name;
        settle();
        return sheet() && sheet()->objectName() == name ? sheet() : nullptr;
    }

    // A dialog with this object name anywhere below `owner`, once it shows.
    template <typename Dialog = QDialog>
    Dialog* shownChild(QWidget* owner, const char* name) {
        Dialog* found = nullptr;
        EXPECT_TRUE(waitFor([&] {
            found = owner ? owner->findChild<Dialog*>(name) : nullptr;
            return found && found->isVisible();
        })) << name;
        settle();
        return found;
    }

    // Replaces a field's text as a user would.
    static void type(QWidget* owner, const char* name, const QString& text) {
        auto* field = owner ? owner->findChild<QLineEdit*>(name) : nullptr;
        ASSERT_NE(field, nullptr) << name;
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    // Lets layouts, elisions and deferred renders finish.
    static void settle() {
        QTest::qWait(60);
        QApplication::processEvents();
    }

    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();

private:
    std::unique_ptr<QTranslator> qtTexts_;
    std::set<std::string> running_;
};

} // namespace vessora
