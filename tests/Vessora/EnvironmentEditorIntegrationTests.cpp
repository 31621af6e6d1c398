// The main window end to end on real servers: Debian's MariaDB, PHP-FPM,
// nginx and phpMyAdmin behind the Homebrew stand-in, on a private data root
// with a fake helper. Everything goes through the window's own widgets:
// create an environment in the new-environment sheet, start it from the
// editor's header, fetch its site and its phpMyAdmin over the ports the
// editor shows, move its web port while it is stopped, start it again on
// the new port and stop it. Nothing is left running.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "Vessora/Windows/StatusDot.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/LoopbackHTTP.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/RealServerTest.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

// The answer to a GET, or status 0 when nothing answered.
LoopbackHTTP::Answer fetch(const std::string& url) {
    try {
        return LoopbackHTTP::get(url, 15);
    } catch (const std::exception&) {
        return {};
    }
}

// Every server leads a process group of its own: a group without living
// members means no worker outlived its master (zombies do not count).
bool groupAlive(std::int32_t group) {
    for (const auto& item : fs::directory_iterator("/proc")) {
        std::ifstream file(item.path() / "stat");
        std::string text;
        if (!std::getline(file, text))
            continue;
        const auto end = text.rfind(')');
        if (end == std::string::npos)
            continue;
        std::istringstream fields(text.substr(end + 1));
        std::string state;
        std::int64_t parent = 0, pgrp = 0;
        fields >> state >> parent >> pgrp;
        if (pgrp == group && state != "Z")
            return true;
    }
    return false;
}

class EnvironmentEditorIntegrationTest : public RealServerTest {
protected:
    void SetUp() override {
        RealServerTest::SetUp();
        if (IsSkipped())
            return;
        DesktopServices::setCurrent(desktop);
        AppModel::Options options;
        options.build = BuildInfo::release("1.0.0", "1");
        options.environment = [](const std::string&) { return std::nullopt; };
        options.openEngine = [root = folder.path()](const fs::path&) {
            StackEngine::Options engine;
            engine.root = root;
            engine.brew = standIn->brew();
            engine.hostClient = std::make_shared<FakeHostService>();
            return std::make_shared<StackEngineAdapter>(engine);
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
            // Whatever a failed test left running stops here.
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
        fs::remove_all(StackEngine::socketDirectoryFor(folder.path()));
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

    EnvironmentEditor* editor() { return window->findChild<EnvironmentEditor*>(); }

    void click(QWidget* parent, const char* name) {
        auto* button = find<QAbstractButton>(parent, name);
        ASSERT_NE(button, nullptr);
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

    std::string lastURL() {
        for (auto it = desktop->requests.rbegin(); it != desktop->requests.rend(); ++it)
            if (it->rfind("url ", 0) == 0)
                return it->substr(4);
        return {};
    }

    // Starts from the header and waits until the header shows it running.
    void startFromHeader() {
        click(editor(), "startButton");
        ASSERT_TRUE(waitFor([&] {
            return editor() && find<StatusDot>(editor(), "statusDot")->running() && !model->busy();
        })) << model->error().value_or("")
            << " / " << find<QLabel>(editor(), "statusText")->text().toStdString();
        EXPECT_EQ(find<QLabel>(editor(), "statusText")->text(), "Running");
        EXPECT_FALSE(model->error()) << *model->error();
    }

    std::map<std::string, std::int32_t> processes() {
        return model->statuses().at(editor()->saved().id).processes;
    }

    TemporaryFolder folder{"vessora-editor-root"};
    AppPreferences preferences{UserDefaults::inMemory()};
    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppUpdates> updates;
    std::unique_ptr<MainWindow> window;
};

TEST_F(EnvironmentEditorIntegrationTest, CreateStartBrowseMoveThePortAndStop) {
    // Create: the sidebar's button, then the sheet's own fields.
    click(window.get(), "headerNewButton");
    ASSERT_TRUE(waitFor([&] { return window->sheets().current() != nullptr; }, 10));
    QDialog* sheet = window->sheets().current();
    ASSERT_EQ(sheet->objectName(), "newEnvironmentSheet");
    type(find<QLineEdit>(sheet, "nameField"), "Shop");
    pick(sheet, "phpPicker", "php@8.2");
    pick(sheet, "mariaDBPicker", "mariadb@10.11");
    find<QCheckBox>(sheet, "phpMyAdminBox")->click();
    click(sheet, "createButton");
    ASSERT_TRUE(waitFor([&] {
        return !model->busy() && editor() && editor()->saved().name == "Shop";
    })) << model->error().value_or("");
    ASSERT_FALSE(model->error()) << *model->error();
    const StackProfile created = editor()->saved();
    EXPECT_EQ(created.php, "php@8.2");
    EXPECT_EQ(created.mariaDB, "mariadb@10.11");
    EXPECT_TRUE(created.phpMyAdminEnabled);

    // Start: the packages are installed, so the header allows it.
    ASSERT_TRUE(waitFor([&] { return find<QWidget>(editor(), "startButton")->isEnabled(); }, 30));
    startFromHeader();

    // The site and phpMyAdmin over the ports the editor shows.
    const std::string port = find<QLineEdit>(editor(), "httpPortField")->text().toStdString();
    EXPECT_EQ(port, std::to_string(created.httpPort));
    EXPECT_NE(find<QLabel>(editor(), "addressLine")->text().toStdString().find(":" + port),
              std::string::npos);
    click(editor(), "openSiteButton");
    EXPECT_EQ(lastURL(), "http://127.0.0.1:" + port);
    const LoopbackHTTP::Answer site = fetch(lastURL() + "/");
    EXPECT_EQ(site.status, 200) << site.body;
    click(editor(), "phpMyAdminButton");
    EXPECT_EQ(lastURL(), "http://127.0.0.1:" + port + "/phpmyadmin/");
    const LoopbackHTTP::Answer admin = fetch(lastURL());
    EXPECT_EQ(admin.status, 200) << admin.body.substr(0, 400);
    EXPECT_NE(admin.body.find("phpMyAdmin"), std::string::npos);
    const auto firstProcesses = processes();
    ASSERT_EQ(firstProcesses.size(), 3u);

    // Stop, then move the web port in the draft and save.
    click(editor(), "stopButton");
    ASSERT_TRUE(waitFor([&] {
        return !model->busy() && editor() && !find<StatusDot>(editor(), "statusDot")->running();
    })) << model->error().value_or("");
    EXPECT_FALSE(model->error()) << *model->error();
    EXPECT_FALSE(PortCheck::accepts(created.httpPort));
    for (const auto& [service, pid] : firstProcesses)
        EXPECT_TRUE(waitFor([&] { return !groupAlive(pid); }, 15)) << service;

    const std::int64_t moved = freePorts(1).front();
    ASSERT_TRUE(waitFor([&] { return find<QWidget>(editor(), "editorForm")->isEnabled(); }, 10));
    type(find<QLineEdit>(editor(), "httpPortField"), QString::number(moved));
    EXPECT_TRUE(find<QWidget>(editor(), "saveBar")->isVisible());
    EXPECT_FALSE(find<QWidget>(editor(), "startButton")->isEnabled());
    click(editor(), "saveButton");
    ASSERT_TRUE(waitFor([&] {
        return !model->busy() && editor() && editor()->saved().httpPort == moved;
    })) << model->error().value_or("");
    EXPECT_FALSE(model->error()) << *model->error();
    EXPECT_FALSE(find<QWidget>(editor(), "saveBar")->isVisible());
    EXPECT_EQ(find<QLineEdit>(editor(), "httpPortField")->text().toStdString(),
              std::to_string(moved));

    // Start again on the new port.
    startFromHeader();
    click(editor(), "openSiteButton");
    EXPECT_EQ(lastURL(), "http://127.0.0.1:" + std::to_string(moved));
    EXPECT_EQ(fetch(lastURL() + "/").status, 200);
    EXPECT_FALSE(PortCheck::accepts(created.httpPort));
    const auto secondProcesses = processes();

    click(editor(), "stopButton");
    ASSERT_TRUE(waitFor([&] {
        return !model->busy() && editor() && find<QWidget>(editor(), "startButton")->isEnabled();
    })) << model->error().value_or("");
    EXPECT_FALSE(model->anyRunning());
    EXPECT_FALSE(PortCheck::accepts(moved));
    EXPECT_FALSE(PortCheck::accepts(created.databasePort));
    EXPECT_FALSE(PortCheck::accepts(created.phpPort));
    for (const auto& [service, pid] : secondProcesses)
        EXPECT_TRUE(waitFor([&] { return !groupAlive(pid); }, 15)) << service;
}

} // namespace
} // namespace vessora
