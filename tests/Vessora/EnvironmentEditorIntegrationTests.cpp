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
#include "tests/Support/ServerChecks.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"
#include "tests/Vessora/Support/RealWindowTest.hpp"
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

class EnvironmentEditorIntegrationTest : public RealWindowTest {
protected:
    EnvironmentEditor* editor() { return window->findChild<EnvironmentEditor*>(); }

    std::string lastURL() { return lastOpened("url"); }

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
        EXPECT_TRUE(waitFor([&] { return !processGroupAlive(pid); }, 15)) << service;

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
        EXPECT_TRUE(waitFor([&] { return !processGroupAlive(pid); }, 15)) << service;
}

} // namespace
} // namespace vessora
