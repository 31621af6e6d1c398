// The new-environment sheet as the main window presents it, with the fake
// engine: Create closes it before the engine runs, and a failed create
// shows its error in the window, whose error box names it unchanged.
#include "Vessora/Windows/DetailPane.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace vessora {
namespace {

class NewEnvironmentSheetInWindowTest : public MainWindowTest {
protected:
    // Opens the sheet from the sidebar and names the environment.
    QPointer<QDialog> openAndName(const QString& name) {
        startMonitor();
        window();
        click("headerNewButton");
        EXPECT_TRUE(waitForSheet("newEnvironmentSheet"));
        QPointer<QDialog> shown = sheet();
        auto* field = shown->findChild<QLineEdit*>("nameField");
        field->setFocus();
        QTest::keyClicks(field, name);
        return shown;
    }
};

TEST_F(NewEnvironmentSheetInWindowTest, AFailedCreateShowsItsErrorInTheWindow) {
    engine->hold("create");
    engine->fail("create", "The new environment folder already exists.");
    QPointer<QDialog> shown = openAndName("Client portal");
    ASSERT_TRUE(shown);
    QTest::mouseClick(shown->findChild<QPushButton*>("createButton"), Qt::LeftButton);
    // Gone from the window before the engine answers.
    ASSERT_TRUE(waitUntilHeld("create"));
    ASSERT_TRUE(waitFor([&] { return shown.isNull(); }));
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(labelText("activityText"), "Creating Client portal…");

    engine->release("create");
    ASSERT_TRUE(waitForIdle());
    auto* box = find("errorBox");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(labelText("errorText"), "The new environment folder already exists.");
    EXPECT_EQ(model().profiles().size(), 2u);
    // Opening the sheet again starts from the defaults.
    model().setShowCreate(true);
    ASSERT_TRUE(waitForSheet("newEnvironmentSheet"));
    EXPECT_EQ(sheet()->findChild<QLineEdit*>("nameField")->text(), "");
}

} // namespace
} // namespace vessora
