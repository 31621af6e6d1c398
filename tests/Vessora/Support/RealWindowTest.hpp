// Base of the tests that drive the main window on real servers: the model
// opens a real engine on a private data root with Debian's servers behind
// the Homebrew stand-in and a fake helper, the window is shown and the
// package status is known. Whatever a failed test left running is stopped
// at the end. Helpers act as a user does: click, pick, type.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vessora {

class RealWindowTest : public RealServerTest {
protected:
    static StackEngine::Options engineOptions(const std::filesystem::path& root) {
        StackEngine::Options options;
        options.root = root;
        options.brew = standIn->brew();
        options.hostClient = std::make_shared<FakeHostService>();
        options.portAvailable = onlyPorts(freePorts(24));
        return options;
    }

    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        DesktopServices::setCurrent(desktop);
        AppModel::Options options;
        options.build = BuildInfo::release("1.0.0", "1");
        options.environment = [](const std::string&) { return std::nullopt; };
        options.openEngine = [root = folder.path()](const std::filesystem::path&) {
            return std::make_shared<StackEngineAdapter>(engineOptions(root));
        };
        options.hostSetup = std::make_shared<FakeHostSetup>();
        options.defaults = UserDefaults::inMemory();
        options.monitorInterval = std::chrono::milliseconds(200);
        model = std::make_unique<AppModel>(options);
        ASSERT_TRUE(model->hasEngine()) << model->error().value_or("");
        // A development build never asks the release feed.
        AppUpdates::Options updatesOptions;
        updatesOptions.build = BuildInfo::developmentBuild();
        updatesOptions.defaults = UserDefaults::inMemory();
        updates = std::make_unique<AppUpdates>(updatesOptions);
        window = std::make_unique<MainWindow>(*model, preferences, *updates);
        window->resize(1000, 800);
        window->show();
        model->startMonitor();
        ASSERT_TRUE(waitFor([&] { return model->packageStatusKnown(); }));
    }

    void TearDown() override {
        if (model) {
            waitFor([&] { return !model->busy(); });
            if (model->anyRunning()) {
                model->perform("Stopping all environments…", false,
                               [](AppEngine& engine) { engine.stopAll(); });
                waitFor([&] { return !model->busy(); });
            }
            model->stopMonitor();
        }
        window.reset();
        updates.reset();
        model.reset();
        DesktopServices::setCurrent(nullptr);
        std::filesystem::remove_all(StackEngine::socketDirectoryFor(folder.path()));
    }

    static bool waitFor(const std::function<bool()>& condition, int seconds = 120) {
        return QTest::qWaitFor(condition, seconds * 1000);
    }

    template <typename Widget = QWidget>
    Widget* find(QWidget* parent, const char* name) {
        Widget* widget = parent ? parent->findChild<Widget*>(name) : nullptr;
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    void click(QWidget* parent, const char* name) {
        auto* button = find<QAbstractButton>(parent, name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible()) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Picks a formula as the user would.
    void pick(QWidget* parent, const char* picker, const std::string& formula) {
        VersionPopUp* popUp = find<PackagePicker>(parent, picker)->popUp();
        const int index = popUp->findData(QString::fromStdString(formula));
        ASSERT_GE(index, 0) << formula;
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
    }

    void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    // The last thing of a kind ("url", "file", ...) the window asked to open.
    std::string lastOpened(const std::string& kind) {
        for (auto it = desktop->requests.rbegin(); it != desktop->requests.rend(); ++it)
            if (it->rfind(kind + " ", 0) == 0)
                return it->substr(kind.size() + 1);
        return {};
    }

    TemporaryFolder folder{"vessora-window-root"};
    AppPreferences preferences{UserDefaults::inMemory()};
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppUpdates> updates;
    std::unique_ptr<MainWindow> window;
};

} // namespace vessora
