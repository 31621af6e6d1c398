// The sheet over the real engine on a private data root: a web folder the
// user chose inside the data root is refused by the engine after the sheet
// has closed, one outside it is kept.
#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/StackEngineAdapter.hpp"
#include "Vessora/Controls/ElidingButton.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "Vessora/Sheets/NewEnvironmentSheet.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/FakeFileChooser.hpp"
#include "tests/Vessora/Support/FakeHostSetup.hpp"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class NewEnvironmentSheetEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        FileChooser::setCurrent(chooser);
        brew.setState({{"formulae",
                        {{"php", BrewStandIn::formula("8.4.7", {}, {"php@8.4"})},
                         {"mariadb", BrewStandIn::formula("11.4.5", {}, {"mariadb@11.4"})},
                         {"nginx", BrewStandIn::formula("1.27.4")},
                         {"httpd", BrewStandIn::formula("2.4.63")},
                         {"phpmyadmin", BrewStandIn::formula("5.2.2")}}}});
        AppModel::Options options;
        // A development build whose VESSORA_PREVIEW_ROOT names the private
        // root.
        options.build = BuildInfo::developmentBuild();
        options.environment = [folder = root.path()](const std::string& name) {
            return name == "VESSORA_PREVIEW_ROOT" ? std::optional(folder.string()) : std::nullopt;
        };
        // The package reload after a create asks the stand-in Homebrew.
        options.openEngine = [brew = brew.brew()](const fs::path& chosen) {
            StackEngine::Options engineOptions;
            engineOptions.root = chosen;
            engineOptions.brew = brew;
            engineOptions.hostClient = std::make_shared<FakeHostService>();
            return std::static_pointer_cast<AppEngine>(
                std::make_shared<StackEngineAdapter>(engineOptions));
        };
        options.hostSetup = std::make_shared<FakeHostSetup>();
        options.defaults = UserDefaults::inMemory();
        options.monitorInterval = std::chrono::milliseconds(50);
        model = std::make_unique<AppModel>(options);
        ASSERT_TRUE(model->hasEngine()) << model->error().value_or("");
        window.show();
    }

    void TearDown() override {
        qDeleteAll(window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
        model.reset();
        FileChooser::setCurrent(nullptr);
        fs::remove_all(StackEngine::socketDirectoryFor(root.path()));
    }

    // Opens the sheet, enters a name, chooses `folder` and presses Create;
    // returns once the operation has ended.
    void createWithFolder(const std::string& name, const fs::path& folder) {
        model->setShowCreate(true);
        QPointer<NewEnvironmentSheet> sheet = new NewEnvironmentSheet(*model, preferences, &window);
        sheet->open();
        auto* nameField = sheet->findChild<QLineEdit*>("nameField");
        nameField->setFocus();
        nameField->insert(QString::fromStdString(name));
        auto* field = sheet->findChild<WebDirectoryField*>("webDirectoryField");
        QTest::mouseClick(field->chooseButton(), Qt::LeftButton);
        chooser->answer(folder);
        ASSERT_EQ(field->path(), folder.string());
        QTest::mouseClick(sheet->findChild<QPushButton*>("createButton"), Qt::LeftButton);
        EXPECT_FALSE(model->showCreate());
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.isNull() && !model->busy(); }, 20000));
    }

    BrewStandIn brew;
    TemporaryFolder root{"vessora-sheet-root"};
    TemporaryFolder outside{"vessora-sheet-site"};
    std::shared_ptr<FakeFileChooser> chooser = std::make_shared<FakeFileChooser>();
    AppPreferences preferences;
    std::unique_ptr<AppModel> model;
    QWidget window;
};

TEST_F(NewEnvironmentSheetEngineTest, AFolderInsideTheDataRootIsRefusedAndOneOutsideIsKept) {
    const fs::path inside = root.path() / "studio";
    fs::create_directories(inside);
    createWithFolder("Inside", inside);
    EXPECT_EQ(model->error(),
              "The web directory must be outside Vessora’s data folder and cannot contain it.");
    EXPECT_EQ(model->profiles().size(), 2u);

    createWithFolder("Outside", outside.path());
    ASSERT_FALSE(model->error()) << *model->error();
    ASSERT_EQ(model->profiles().size(), 3u);
    EXPECT_EQ(model->profiles().back().name, "Outside");
    EXPECT_EQ(model->profiles().back().documentRoot, outside.path().string());
    EXPECT_EQ(model->selectedID(), model->profiles().back().id);
}

} // namespace
} // namespace vessora
