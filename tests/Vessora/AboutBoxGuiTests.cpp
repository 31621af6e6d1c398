// The About box over the main window: wide enough for its title in a title
// bar, in every interface language and after the language changes while it
// is open. A window manager cuts a title it cannot fit between the buttons.
#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "tests/Vessora/Support/MainWindowTest.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>

namespace vessora {
namespace {

class AboutBoxTest : public MainWindowTest {
protected:
    // The least a title bar needs: the title in bold, and at each end three
    // buttons of at least a line's width.
    static int leastTitleBarWidth(const QString& title) {
        QFont font = QApplication::font("QMdiSubWindowTitleBar");
        font.setBold(true);
        const QFontMetrics metrics(font);
        return metrics.horizontalAdvance(title) + 2 * 3 * metrics.height();
    }
};

TEST_F(AboutBoxTest, HoldsItsTitleInEveryLanguage) {
    updatesBuild = BuildInfo::release("1.2.0", "6");
    find<QAction>("aboutAction")->trigger();
    ASSERT_TRUE(waitForSheet("aboutBox"));
    auto* box = qobject_cast<QMessageBox*>(sheet());
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    const int english = box->width();

    for (AppLanguage language : AppLanguages::allCases) {
        preferences().setLanguage(language);
        QApplication::processEvents();
        const QString title = box->windowTitle();
        EXPECT_EQ(title.toStdString(), L10n::text("About Vessora"));
        EXPECT_GE(box->width(), leastTitleBarWidth(title)) << title.toStdString();
    }
    // The room follows the title, it does not pile up.
    preferences().setLanguage(AppLanguage::english);
    QApplication::processEvents();
    EXPECT_EQ(box->width(), english);
}

} // namespace
} // namespace vessora
