// The local addresses sheet through its widgets, over the fake engine and
// the fake helper registration: every row of its state table, the enabled
// states while an action or an environment with a hostname runs, and what
// its buttons start.
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Sheets/LocalHostSheet.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

namespace vessora {
namespace {

// What the sheet shows, read from its widgets.
struct View {
    std::string status; // "ready", "approval" or "port-based"
    bool removeShown = false;
    bool removeEnabled = false;
    std::optional<std::string> primary; // its title when shown
    bool primaryEnabled = false;        // only when shown
    bool doneEnabled = false;

    bool operator==(const View&) const = default;
};

std::ostream& operator<<(std::ostream& out, const View& view) {
    return out << "{" << view.status << ", remove " << view.removeShown << "/" << view.removeEnabled
               << ", primary " << view.primary.value_or("(none)") << "/" << view.primaryEnabled
               << ", done " << view.doneEnabled << "}";
}

class LocalHostSheetTest : public AppModelTest {
protected:
    void SetUp() override {
        shop = StackProfile::defaults().front();
        shop.hostname = "shop.test";
        shop.virtualHost = true;
        engine->setProfiles({shop, StackProfile::defaults().back()});
        window.show();
    }

    void TearDown() override {
        qDeleteAll(window.findChildren<QDialog*>(Qt::FindDirectChildrenOnly));
        preferences.setLanguage(AppLanguage::english);
        AppModelTest::TearDown();
    }

    LocalHostSheet* open() {
        auto* sheet = new LocalHostSheet(model(), preferences, &window);
        sheet->open();
        return sheet;
    }

    template <typename Widget = QWidget>
    static Widget* child(QWidget* sheet, const char* name) {
        auto* widget = sheet->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static bool shown(QWidget* sheet, const char* name) {
        return child(sheet, name)->isVisibleTo(sheet);
    }
    static QString labelText(QWidget* sheet, const char* name) {
        auto* widget = child(sheet, name);
        if (auto* label = qobject_cast<QLabel*>(widget))
            return label->text();
        return widget->findChild<QLabel*>("text")->text();
    }

    static View view(QWidget* sheet) {
        View result;
        const bool ready = shown(sheet, "readyStatus");
        const bool approval = shown(sheet, "approvalStatus");
        const bool portBased = shown(sheet, "portBasedStatus");
        EXPECT_EQ(ready + approval + portBased, 1) << "exactly one status line";
        result.status = ready ? "ready" : approval ? "approval" : "port-based";
        auto* remove = child<QPushButton>(sheet, "removeSetupButton");
        result.removeShown = remove->isVisibleTo(sheet);
        result.removeEnabled = remove->isEnabled();
        auto* primary = child<QPushButton>(sheet, "primaryButton");
        if (primary->isVisibleTo(sheet)) {
            result.primary = primary->text().toStdString();
            result.primaryEnabled = primary->isEnabled();
        }
        result.doneEnabled = child<QPushButton>(sheet, "doneButton")->isEnabled();
        return result;
    }

    // The registration as the next poll reads it.
    void registration(ServiceStatus status, bool needsRefresh) {
        hostSetup->setStatus(status);
        hostSetup->setNeedsRefresh(needsRefresh);
        startMonitor();
    }

    StackProfile shop;
    AppPreferences preferences{UserDefaults::standard()};
    QWidget window;
};

TEST_F(LocalHostSheetTest, EveryRowOfTheStateTable) {
    auto* sheet = open();
    struct Row {
        ServiceStatus status;
        bool needsRefresh;
        View expected;
    };
    const std::vector<Row> rows{
        {ServiceStatus::requiresApproval,
         false,
         {"approval", true, true, "Enable system service", true, true}},
        {ServiceStatus::requiresApproval,
         true,
         {"approval", true, true, "Enable system service", true, true}},
        {ServiceStatus::notRegistered,
         false,
         {"port-based", false, true, "Set up local addresses", true, true}},
        {ServiceStatus::notFound,
         true,
         {"port-based", false, true, "Set up local addresses", true, true}},
        {ServiceStatus::enabled, true, {"port-based", true, true, "Update setup", true, true}},
        {ServiceStatus::enabled, false, {"port-based", true, true, "Retry connection", true, true}},
    };
    for (const Row& row : rows) {
        registration(row.status, row.needsRefresh);
        EXPECT_EQ(view(sheet), row.expected)
            << "status " << static_cast<int>(row.status) << ", refresh " << row.needsRefresh;
    }
    EXPECT_EQ(labelText(sheet, "approvalStatus").toStdString(),
              "Approve the Vessora system service in the administrator password prompt, then "
              "return here.");

    // Ready: only "Remove setup" and "Done" are left.
    child<QPushButton>(sheet, "primaryButton")->click();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(view(sheet), (View{"ready", true, true, std::nullopt, false, true}));
    EXPECT_EQ(labelText(sheet, "readyStatus"), "Local addresses are ready");
    EXPECT_EQ(engine->calls("configureLocalHosts"), 1);
    // Ready wins over a due update.
    registration(ServiceStatus::enabled, true);
    ASSERT_TRUE(model().hostSetupNeedsUpdate());
    EXPECT_EQ(view(sheet), (View{"ready", true, true, std::nullopt, false, true}));
}

TEST_F(LocalHostSheetTest, ThePrimaryButtonSetsUpWhateverItsTitle) {
    // Approval pending: the button asks for the approval again.
    registration(ServiceStatus::requiresApproval, false);
    hostSetup->setStatusAfterRegister(ServiceStatus::requiresApproval);
    auto* sheet = open();
    ASSERT_EQ(view(sheet).primary, "Enable system service");
    QTest::mouseClick(child<QPushButton>(sheet, "primaryButton"), Qt::LeftButton);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(hostSetup->calls("registerHelper"), 1);
    EXPECT_EQ(hostSetup->calls("openApproval"), 1);
    EXPECT_EQ(engine->calls("configureLocalHosts"), 0);
    EXPECT_EQ(view(sheet).status, "approval");

    // Not registered: registering connects at once.
    hostSetup->setStatusAfterRegister(ServiceStatus::enabled);
    registration(ServiceStatus::notRegistered, false);
    ASSERT_EQ(view(sheet).primary, "Set up local addresses");
    QTest::mouseClick(child<QPushButton>(sheet, "primaryButton"), Qt::LeftButton);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(hostSetup->calls("registerHelper"), 2);
    EXPECT_EQ(engine->calls("configureLocalHosts"), 1);
    EXPECT_EQ(view(sheet).status, "ready");
}

TEST_F(LocalHostSheetTest, WhileAnActionRunsRemoveAndRetryAreDisabled) {
    registration(ServiceStatus::enabled, false);
    auto* sheet = open();
    engine->hold("stop");
    ASSERT_TRUE(model().perform("Stopping…", false, [](AppEngine& e) { e.stop("legacy"); }));
    ASSERT_TRUE(waitUntilHeld("stop"));
    EXPECT_EQ(view(sheet), (View{"port-based", true, false, "Retry connection", false, true}));
    engine->release("stop");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(view(sheet), (View{"port-based", true, true, "Retry connection", true, true}));
}

TEST_F(LocalHostSheetTest, RemoveWaitsForEnvironmentsWithHostnamesToStop) {
    engine->setStatus(shop.id, StackStatus{true, "Running", {{"MariaDB", 1}, {"PHP", 2}}});
    registration(ServiceStatus::enabled, false);
    auto* sheet = open();
    auto* remove = child<QPushButton>(sheet, "removeSetupButton");
    EXPECT_TRUE(remove->isVisibleTo(sheet));
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_FALSE(model().busy());
    EXPECT_EQ(remove->toolTip().toStdString(),
              "Stop environments with hostnames first. Removes only Vessora’s entries and "
              "helper registration.");

    engine->setStatus(shop.id, StackStatus{false, "Stopped", {}});
    ASSERT_TRUE(waitFor([&] { return remove->isEnabled(); }));
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(waitForIdle());
    const auto log = engine->log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "configureLocalHosts(false)"), 1);
    EXPECT_EQ(hostSetup->calls("unregister"), 1);
    ASSERT_TRUE(waitFor([&] { return !remove->isVisibleTo(sheet); }));
    EXPECT_EQ(view(sheet), (View{"port-based", false, true, "Set up local addresses", true, true}));
}

TEST_F(LocalHostSheetTest, ShowsTheModelsErrorAsStoredAndClosingClearsItsFlag) {
    auto* sheet = open();
    EXPECT_FALSE(shown(sheet, "error"));
    model().setError(std::string("Local host setup did not respond. Check that its system "
                                 "service is enabled."));
    ASSERT_TRUE(shown(sheet, "error"));
    EXPECT_EQ(child<QTextEdit>(sheet, "error")->toPlainText().toStdString(),
              "Local host setup did not respond. Check that its system service is enabled.");
    model().setError(std::nullopt);
    EXPECT_FALSE(shown(sheet, "error"));

    // Escape is "Done".
    model().setShowLocalHosts(true);
    QPointer<LocalHostSheet> guard(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(model().showLocalHosts());
    ASSERT_TRUE(waitFor([&] { return guard.isNull(); }));

    model().setShowLocalHosts(true);
    sheet = open();
    guard = sheet;
    // Return starts nothing.
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_TRUE(guard);
    EXPECT_EQ(hostSetup->calls("registerHelper"), 0);
    QTest::mouseClick(child<QPushButton>(sheet, "doneButton"), Qt::LeftButton);
    EXPECT_FALSE(model().showLocalHosts());
    ASSERT_TRUE(waitFor([&] { return guard.isNull(); }));
}

TEST_F(LocalHostSheetTest, NothingIsCutOffInAnyLanguage) {
    registration(ServiceStatus::requiresApproval, true);
    auto* sheet = open();
    model().setError(std::string("Stop environments with hostnames before updating local host "
                                 "setup."));
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        EXPECT_EQ(sheet->width(), LocalHostSheet::sheetWidth);
        EXPECT_EQ(clippedTexts(*sheet), std::vector<std::string>{});
        if (language != AppLanguage::english) {
            EXPECT_NE(labelText(sheet, "title"), "Local addresses");
            EXPECT_NE(child<QPushButton>(sheet, "primaryButton")->text(), "Enable system service");
        }
    }
    registration(ServiceStatus::enabled, true);
    for (AppLanguage language : AppLanguages::allCases) {
        preferences.setLanguage(language);
        SCOPED_TRACE(AppLanguages::id(language));
        EXPECT_EQ(clippedTexts(*sheet), std::vector<std::string>{});
    }
}

} // namespace
} // namespace vessora
