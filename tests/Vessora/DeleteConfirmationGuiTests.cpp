// Deleting through the confirmation alert: its texts for both kinds of
// environment, Cancel, confirming (through perform), where the selection
// goes, and a confirmation while another action runs.
#include "Vessora/Windows/DeleteConfirmation.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QMessageBox>

namespace vessora {
namespace {

class DeleteConfirmationTest : public MainWindowTest {
protected:
    // Asks for the confirmation the way the sidebar and the editor do.
    QMessageBox* confirm(const std::string& id) {
        for (const StackProfile& profile : model().profiles())
            if (profile.id == id)
                model().setPendingDeletion(profile);
        model().setShowDeleteConfirmation(true);
        if (!waitForSheet("deleteConfirmation"))
            return nullptr;
        return qobject_cast<QMessageBox*>(sheet());
    }

    void press(QMessageBox* box, const char* button) {
        auto* found = box->findChild<QAbstractButton*>(button);
        ASSERT_NE(found, nullptr) << button;
        found->click();
    }
};

TEST_F(DeleteConfirmationTest, MessageNamesTheEnvironmentAndItsFolder) {
    startMonitor();
    window();
    QMessageBox* box = confirm("legacy");
    ASSERT_NE(box, nullptr);
    const std::string folder = (root.path() / "legacy").string();
    EXPECT_EQ(box->text().toStdString(), "Delete environment?");
    EXPECT_EQ(box->informativeText().toStdString(),
              "Remove “Legacy” from Vessora? Its services will stop, and its project files, all "
              "MariaDB data, configurations, and logs will move to the Trash.\n\nFolder: " +
                  folder);
    EXPECT_EQ(box->findChild<QAbstractButton*>("moveToTrashButton")->text().toStdString(),
              "Move to Trash");
    EXPECT_EQ(box->findChild<QAbstractButton*>("cancelButton")->text().toStdString(), "Cancel");
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);

    // In another language the alert follows at once.
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(box->findChild<QAbstractButton*>("cancelButton")->text().toStdString(), "Abbrechen");
    EXPECT_NE(box->informativeText().toStdString().find("Ordner: " + folder), std::string::npos);
    press(box, "cancelButton");
}

TEST_F(DeleteConfirmationTest, AnExternalWebFolderIsSaidToBeKept) {
    StackProfile external = StackProfile::defaults().front();
    external.documentRoot = "/srv/www/shop";
    engine->setProfiles({external});
    startMonitor();
    window();
    QMessageBox* box = confirm("studio");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText().toStdString(),
              "Remove “Studio” from Vessora? Its services will stop. Its managed files, all "
              "MariaDB data, configurations, and logs will move to the Trash. The external web "
              "directory and its contents will be kept.\n\nFolder: " +
                  (root.path() / "studio").string());
    press(box, "cancelButton");
}

TEST_F(DeleteConfirmationTest, WithoutAnEngineTheFolderIsUnderTheDefaultRoot) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    AppModel noEngine(options);
    const StackProfile studio = StackProfile::defaults().front();
    const std::string text = DeleteConfirmation::message(noEngine, studio);
    const std::string folder = (StackEngine::defaultRoot() / "studio").string();
    EXPECT_EQ(text.substr(text.size() - folder.size()), folder);
    EXPECT_NE(text.find("\n\nFolder: " + folder), std::string::npos);
}

TEST_F(DeleteConfirmationTest, CancelDeletesNothingAndClearsTheRequest) {
    startMonitor();
    window();
    QMessageBox* box = confirm("studio");
    ASSERT_NE(box, nullptr);
    press(box, "cancelButton");
    EXPECT_FALSE(model().pendingDeletion());
    EXPECT_FALSE(model().showDeleteConfirmation());
    EXPECT_TRUE(waitFor([&] { return sheet() == nullptr; }));
    EXPECT_EQ(engine->calls("remove"), 0);
    EXPECT_FALSE(model().busy());
    EXPECT_EQ(model().profiles().size(), 2u);
}

TEST_F(DeleteConfirmationTest, DeletingTheSelectedOneSelectsTheFirstRemaining) {
    startMonitor();
    window();
    model().setSelectedID("legacy");
    engine->hold("remove");
    QMessageBox* box = confirm("legacy");
    ASSERT_NE(box, nullptr);
    press(box, "moveToTrashButton");
    ASSERT_TRUE(waitUntilHeld("remove"));
    // The request is cleared as soon as the delete has started.
    EXPECT_FALSE(model().pendingDeletion());
    EXPECT_FALSE(model().showDeleteConfirmation());
    EXPECT_EQ(model().activity(), "Moving Legacy to Trash…");
    engine->release("remove");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("remove"), 1);
    ASSERT_EQ(model().profiles().size(), 1u);
    EXPECT_EQ(model().selectedID(), "studio");
    EXPECT_EQ(model().activity(), "Done");
}

TEST_F(DeleteConfirmationTest, DeletingAnotherKeepsTheSelectionAndTheLastLeavesTheEmptyState) {
    startMonitor();
    window();
    QMessageBox* box = confirm("legacy");
    ASSERT_NE(box, nullptr);
    press(box, "moveToTrashButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(model().selectedID(), "studio");
    EXPECT_TRUE(find("editorSlot")->isVisible());

    box = confirm("studio");
    ASSERT_NE(box, nullptr);
    press(box, "moveToTrashButton");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(model().profiles().empty());
    EXPECT_EQ(model().selectedID(), std::nullopt);
    EXPECT_TRUE(find("emptyState")->isVisible());
    EXPECT_FALSE(find("editorSlot")->isVisible());
}

TEST_F(DeleteConfirmationTest, ConfirmingWhileAnotherActionRunsDeletesNothing) {
    startMonitor();
    window();
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    ASSERT_TRUE(waitUntilHeld("start"));
    QMessageBox* box = confirm("legacy");
    ASSERT_NE(box, nullptr);
    press(box, "moveToTrashButton");
    EXPECT_FALSE(model().pendingDeletion());
    EXPECT_FALSE(model().showDeleteConfirmation());
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("remove"), 0);
    EXPECT_EQ(model().profiles().size(), 2u);
}

} // namespace
} // namespace vessora
