// The wheel over a pop-up the user never opened nor focused scrolls the form
// around it and changes nothing: the editor's and the new-environment
// sheet's version pickers, and a plain guarded pop-up. The database sheet's
// pickers are tried in its own tests.
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Controls/WheelGuard.hpp"
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/EnvironmentEditor.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"
#include "tests/Vessora/Support/SpontaneousWheel.hpp"

#include <QApplication>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace vessora {
namespace {

class WheelGuardTest : public MainWindowTest {
protected:
    EnvironmentEditor* editor() {
        return qobject_cast<EnvironmentEditor*>(window().detail().editorSlot().editor());
    }
    // Every picker offers several versions, so a wheel that reached one
    // would change it.
    void offerEveryVersion() {
        InstallationStatus status;
        status.packages = PackageCatalog::fallback();
        engine->setInstallations(status);
        bool done = false;
        model().refreshPackages([&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
    }
    static VersionPopUp* popUp(QWidget* parent, const char* picker) {
        QWidget* holder = parent->findChild<QWidget*>(picker);
        return holder ? holder->findChild<VersionPopUp*>() : nullptr;
    }
};

TEST_F(WheelGuardTest, TheEditorsPickersIgnoreTheWheelAndTheFormScrolls) {
    startMonitor();
    offerEveryVersion();
    window().resize(900, 420);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    ASSERT_NE(editor(), nullptr);
    const StackProfile before = editor()->draft().profile();
    auto* scroll = find<QScrollArea>("detailScroll");
    ASSERT_GT(scroll->verticalScrollBar()->maximum(), 0)
        << "the form must be taller than the window";

    for (const char* name : {"phpPicker", "mariaDBPicker"}) {
        VersionPopUp* picker = popUp(editor(), name);
        ASSERT_NE(picker, nullptr) << name;
        ASSERT_GT(picker->count(), 1) << name;
        const int shown = picker->currentIndex();
        const int scrolled = scroll->verticalScrollBar()->value();
        wheelDown(picker);
        EXPECT_EQ(picker->currentIndex(), shown) << name;
        EXPECT_FALSE(picker->hasFocus()) << name;
        EXPECT_GT(scroll->verticalScrollBar()->value(), scrolled)
            << name << ": the form did not scroll";
        scroll->verticalScrollBar()->setValue(0);
    }
    EXPECT_EQ(editor()->draft().profile(), before);

    // Given the focus on purpose, a picker takes the wheel.
    VersionPopUp* php = popUp(editor(), "phpPicker");
    window().activateWindow();
    php->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitFor([&] { return php->hasFocus(); }));
    const int shown = php->currentIndex();
    wheelDown(php, 1);
    EXPECT_NE(php->currentIndex(), shown);
}

TEST_F(WheelGuardTest, TheNewEnvironmentSheetsPickersIgnoreTheWheel) {
    startMonitor();
    offerEveryVersion();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    model().setShowCreate(true);
    ASSERT_TRUE(waitFor([&] { return sheet() != nullptr; }));
    const auto pickers = sheet()->findChildren<VersionPopUp*>();
    ASSERT_GE(pickers.size(), 2);
    for (VersionPopUp* picker : pickers) {
        ASSERT_GT(picker->count(), 1) << picker->accessibleName().toStdString();
        const int shown = picker->currentIndex();
        wheelDown(picker);
        EXPECT_EQ(picker->currentIndex(), shown) << picker->accessibleName().toStdString();
    }
}

TEST(WheelGuard, APlainPopUpIgnoresTheWheelUntilFocusedAndItsFormScrolls) {
    QScrollArea area;
    auto* form = new QWidget;
    auto* layout = new QVBoxLayout(form);
    auto* picker = new QComboBox;
    picker->addItems({"Read only", "Read and write", "Full access"});
    WheelGuard::guard(picker);
    layout->addWidget(picker);
    layout->addSpacing(2000);
    area.setWidget(form);
    area.resize(300, 200);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    // Shown alone it took the window's first focus; the user has not.
    picker->clearFocus();
    QSignalSpy activated(picker, &QComboBox::activated);

    wheelDown(picker);
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(activated.count(), 0);
    EXPECT_FALSE(picker->hasFocus());
    EXPECT_GT(area.verticalScrollBar()->value(), 0);

    area.activateWindow();
    picker->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(picker->hasFocus());
    wheelDown(picker, 1);
    EXPECT_EQ(picker->currentIndex(), 1);
}

} // namespace
} // namespace vessora
