// The new-environment sheet through its widgets: the defaults, the Create
// rules with their messages, and creating through the fake engine (the sheet
// is gone before the engine runs; a failure shows in the model the main
// window draws).
#include "Vessora/Controls/ElidingButton.hpp"
#include "Vessora/Controls/LocalAddressField.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/VersionPopUp.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "Vessora/Sheets/NewEnvironmentDraft.hpp"
#include "Vessora/Sheets/NewEnvironmentSheet.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/FormTest.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

namespace vessora {
namespace {

class NewEnvironmentSheetTest : public FormTest {
protected:
    // As the main window does: raise the flag, then open the sheet.
    NewEnvironmentSheet* openSheet() {
        model().setShowCreate(true);
        auto* sheet = new NewEnvironmentSheet(model(), preferences, &window);
        sheet->open();
        sheet_ = sheet;
        return sheet;
    }

    template <typename Widget>
    Widget* child(const char* name) {
        auto* widget = sheet_->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QLineEdit* nameField() { return child<QLineEdit>("nameField"); }
    QLineEdit* databaseField() { return child<QLineEdit>("databaseField"); }
    QLineEdit* hostnameField() { return child<LocalAddressField>("localAddressField")->lineEdit(); }
    QPushButton* createButton() { return child<QPushButton>("createButton"); }

    // Replaces a field's text as typing or pasting would (tabs and line
    // breaks included).
    static void enter(QLineEdit* field, const std::string& text) {
        field->setFocus();
        field->selectAll();
        if (text.empty())
            field->del();
        else
            field->insert(QString::fromStdString(text));
    }

    // The messages shown below the form, in order.
    std::vector<std::string> messages() {
        std::vector<std::string> shown;
        for (const char* name :
             {"hostnameInvalidMessage", "nameInUseMessage", "databaseNameMessage"}) {
            auto* label = child<QLabel>(name);
            if (!label->isHidden())
                shown.push_back(label->text().toStdString());
        }
        return shown;
    }

    // The two built-in environments and "Shöp" at shop.test.
    void listShop() {
        auto profiles = StackProfile::defaults();
        StackProfile shop = profiles.front();
        shop.id = "shop";
        shop.name = "Shöp";
        shop.hostname = "shop.test";
        shop.virtualHost = true;
        shop.httpPort = 8190;
        shop.phpPort = 9190;
        shop.databasePort = 3390;
        profiles.push_back(shop);
        engine->setProfiles(profiles);
        startMonitor();
        ASSERT_EQ(model().profiles().size(), 3u);
    }

    QPointer<NewEnvironmentSheet> sheet_;
};

const std::string hostnameMessage = "Choose a valid, unused local hostname.";
const std::string nameMessage = "This name is already in use.";
const std::string databaseMessage =
    "Use 1–64 letters, numbers, underscores or hyphens for the database name. Start with a "
    "letter or underscore. System names are reserved.";

TEST_F(NewEnvironmentSheetTest, EveryShowingStartsFromTheDefaults) {
    NewEnvironmentSheet* sheet = openSheet();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(nameField()->text(), "");
    EXPECT_EQ(nameField()->placeholderText(), "e.g. Client portal");
    EXPECT_EQ(nameField()->accessibleName(), "Environment name");
    EXPECT_EQ(child<PackagePicker>("webserverPicker")->selection(), "nginx");
    EXPECT_EQ(child<PackagePicker>("phpPicker")->selection(), "php@8.4");
    EXPECT_EQ(child<PackagePicker>("mariaDBPicker")->selection(), "mariadb@11.4");
    EXPECT_FALSE(child<QCheckBox>("httpsBox")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("phpMyAdminBox")->isChecked());
    EXPECT_EQ(hostnameField()->text(), "");
    EXPECT_FALSE(child<WebDirectoryField>("webDirectoryField")->path());
    EXPECT_EQ(databaseField()->text(), "vessora");
    EXPECT_EQ(databaseField()->placeholderText(), "Database name");
    EXPECT_EQ(child<QLabel>("portsNote")->text(),
              "Free ports are assigned automatically. You can change these settings later.");
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(createButton()->isEnabled());
    EXPECT_TRUE(createButton()->isDefault());

    // Cancelling drops the draft; the next showing has the defaults again.
    enter(nameField(), "Shop");
    QTest::mouseClick(child<QPushButton>("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(model().showCreate());
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    openSheet();
    EXPECT_EQ(nameField()->text(), "");
    EXPECT_EQ(engine->calls("create"), 0);
}

TEST_F(NewEnvironmentSheetTest, TheCreateRulesAndTheirMessages) {
    listShop();
    struct Case {
        std::string name;
        std::string database;
        std::string hostname;
        bool enabled;
        std::vector<std::string> messages;
    };
    const std::string eighty(80, 'a');
    std::string accented;
    for (int i = 0; i < 80; ++i)
        accented += "e\xCC\x81"; // "e" and a combining acute accent: one character
    const std::vector<Case> cases = {
        {"Client portal", "vessora", "", true, {}},
        // Names: blank, trimmed, length in characters, control characters.
        {"", "vessora", "", false, {}},
        {" \n\t ", "vessora", "", false, {}},
        {"  Client portal  ", "vessora", "", true, {}},
        {eighty, "vessora", "", true, {}},
        {eighty + "a", "vessora", "", false, {}},
        {accented, "vessora", "", true, {}},
        {"Client\tportal", "vessora", "", false, {}},
        {"\tClient portal\t", "vessora", "", true, {}},
        {"Client\xE2\x80\x8Bportal", "vessora", "", false, {}}, // zero-width space (Cf)
        // Names in use, ignoring case and diacritics.
        {"shop", "vessora", "", false, {nameMessage}},
        {" SHOP ", "vessora", "", false, {nameMessage}},
        {"Studio", "vessora", "", false, {nameMessage}},
        // Database names, taken as typed.
        {"Client portal", "mysql", "", false, {databaseMessage}},
        {"Client portal", "VESSORA_INTERNAL", "", false, {databaseMessage}},
        {"Client portal", " vessora", "", false, {databaseMessage}},
        {"Client portal", "1shop", "", false, {databaseMessage}},
        {"Client portal", "", "", false, {databaseMessage}},
        {"Client portal", "_shop-2", "", true, {}},
        // Hostnames: blank counts as none; normalized before the checks.
        {"Client portal", "vessora", "   ", true, {}},
        {"Client portal", "vessora", "portal.test", true, {}},
        {"Client portal", "vessora", " Shop.TEST ", false, {hostnameMessage}},
        {"Client portal", "vessora", "portal", false, {hostnameMessage}},
        // All three at once, in the sheet's order.
        {"Shop", "sys", "shop.test", false, {hostnameMessage, nameMessage, databaseMessage}},
    };
    openSheet();
    for (const Case& c : cases) {
        const std::string label = "name \"" + c.name + "\", database \"" + c.database +
                                  "\", hostname \"" + c.hostname + "\"";
        enter(nameField(), c.name);
        enter(databaseField(), c.database);
        enter(hostnameField(), c.hostname);
        ASSERT_EQ(sheet_->draft().name(), c.name) << label;
        EXPECT_EQ(createButton()->isEnabled(), c.enabled) << label;
        EXPECT_EQ(messages(), c.messages) << label;
    }
}

TEST_F(NewEnvironmentSheetTest, TheChecksFollowTheModelWhileTheSheetIsOpen) {
    openSheet();
    enter(nameField(), "Shöp");
    enter(hostnameField(), "shop.test");
    EXPECT_TRUE(createButton()->isEnabled());

    // An environment that appears while the sheet is open takes the name
    // and the hostname.
    listShop();
    EXPECT_FALSE(createButton()->isEnabled());
    EXPECT_EQ(messages(), (std::vector<std::string>{hostnameMessage, nameMessage}));

    // While any action runs, Create is disabled without a message, Return
    // does nothing and Escape still closes the sheet.
    enter(nameField(), "Client portal");
    enter(hostnameField(), "");
    EXPECT_TRUE(createButton()->isEnabled());
    engine->hold("start");
    ASSERT_TRUE(
        model().perform("Starting Studio…", false, [](AppEngine& e) { e.start("studio"); }));
    EXPECT_FALSE(createButton()->isEnabled());
    EXPECT_TRUE(messages().empty());
    QTest::keyClick(nameField(), Qt::Key_Return);
    EXPECT_TRUE(sheet_->isVisible());
    QTest::keyClick(nameField(), Qt::Key_Escape);
    EXPECT_FALSE(model().showCreate());
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    engine->release("start");
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(engine->calls("create"), 0);
}

TEST_F(NewEnvironmentSheetTest, CreateClosesTheSheetBeforeTheEngineRuns) {
    engine->hold("create");
    TemporaryFolder site("vessora-site");
    openSheet();
    enter(nameField(), "  Client portal  ");
    enter(hostnameField(), "Portal.TEST");
    QTest::mouseClick(child<LocalAddressField>("localAddressField")->withoutPortBox(),
                      Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>("httpsBox"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>("phpMyAdminBox"), Qt::LeftButton);
    QTest::mouseClick(child<WebDirectoryField>("webDirectoryField")->chooseButton(),
                      Qt::LeftButton);
    chooser->answer(site.path());
    enter(databaseField(), "portal");
    // The user's pick of a PHP series reaches the draft.
    auto* php = child<PackagePicker>("phpPicker");
    php->popUp()->setFocus();
    QTest::keyClick(php->popUp(), Qt::Key_Down);
    const std::string chosenPHP = php->selection();
    ASSERT_NE(chosenPHP, "php@8.4");
    EXPECT_EQ(sheet_->draft().php(), chosenPHP);

    QTest::keyClick(nameField(), Qt::Key_Return);
    // Closed at once, before the engine ran.
    EXPECT_FALSE(model().showCreate());
    ASSERT_FALSE(sheet_.isNull());
    EXPECT_FALSE(sheet_->isVisible());
    EXPECT_TRUE(model().busy());
    EXPECT_EQ(model().activity(), "Creating Client portal…");
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    ASSERT_TRUE(waitUntilHeld("create"));

    engine->release("create");
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(model().error());
    ASSERT_EQ(model().profiles().size(), 3u);
    const StackProfile created = model().profiles().back();
    EXPECT_EQ(model().selectedID(), created.id);
    EXPECT_EQ(created.name, "Client portal");
    EXPECT_EQ(created.php, chosenPHP);
    EXPECT_EQ(created.mariaDB, "mariadb@11.4");
    EXPECT_EQ(created.webserver, "nginx");
    EXPECT_TRUE(created.phpMyAdminEnabled);
    EXPECT_TRUE(created.httpsEnabled);
    EXPECT_EQ(created.documentRoot, site.path().string());
    EXPECT_EQ(created.databaseName, "portal");
    // As typed: the engine normalizes it.
    EXPECT_EQ(created.hostname, "Portal.TEST");
    EXPECT_TRUE(created.virtualHost);
    EXPECT_TRUE(created.standardPorts);
    // The package state is reloaded after a create.
    EXPECT_EQ(engine->log().back(), "installations");
}

TEST_F(NewEnvironmentSheetTest, AFailedCreateShowsInTheMainWindowAfterTheSheetHasGone) {
    engine->fail("create", "The new environment folder already exists.");
    openSheet();
    enter(nameField(), "Client portal");
    QTest::mouseClick(createButton(), Qt::LeftButton);
    EXPECT_FALSE(model().showCreate());
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(sheet_.isNull() || !sheet_->isVisible());
    EXPECT_EQ(model().error(), "The new environment folder already exists.");
    EXPECT_EQ(model().activity(), "Action failed. Check the error and logs.");
    EXPECT_EQ(model().profiles().size(), 2u);
    EXPECT_EQ(engine->calls("create"), 1);
}

TEST_F(NewEnvironmentSheetTest, RedrawsNeverWriteIntoTheDraft) {
    InstallationStatus status;
    status.packages = PackageCatalog::fallback();
    status.installed = {{"php@8.4", true}};
    engine->setInstallations(status);
    openSheet();
    enter(nameField(), "Client portal");
    QSignalSpy drafts(&sheet_->draft(), &NewEnvironmentDraft::changed);
    refreshPackages();
    startMonitor();
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(drafts.count(), 0);
    EXPECT_EQ(sheet_->draft().php(), "php@8.4");
    EXPECT_EQ(nameField()->text(), "Client portal");
    // Every text follows the language.
    EXPECT_EQ(createButton()->text(), "Umgebung erstellen");
    EXPECT_EQ(child<QLabel>("sheetTitle")->text(), "Neue Umgebung");
    EXPECT_EQ(child<QPushButton>("cancelButton")->text(), "Abbrechen");
}

TEST_F(NewEnvironmentSheetTest, NothingIsCutOffInAnyLanguageWithEveryMessageShown) {
    listShop();
    NewEnvironmentSheet* sheet = openSheet();
    auto* folder = child<WebDirectoryField>("webDirectoryField")->chooseButton();
    const auto check = [&](const char* state) {
        for (AppLanguage language : AppLanguages::allCases) {
            preferences.setLanguage(language);
            std::vector<std::string> clipped = clippedTexts(*sheet);
            // A long folder name is shortened in the middle on purpose.
            std::erase_if(clipped, [&](const std::string& finding) {
                return finding.rfind("chooseWebDirectory ", 0) == 0 &&
                       folder->shownText().contains(QChar(0x2026));
            });
            EXPECT_EQ(clipped, std::vector<std::string>{})
                << state << " in " << AppLanguages::id(language);
            EXPECT_EQ(child<QWidget>("portsNote")->width(), NewEnvironmentSheet::contentWidth)
                << state << " in " << AppLanguages::id(language);
        }
    };
    check("defaults");
    enter(nameField(), "Shop");
    enter(databaseField(), "sys");
    enter(hostnameField(), "shop");
    ASSERT_EQ(messages().size(), 3u);
    check("three messages and the hostname rule");
    enter(hostnameField(), "blog.local");
    QTest::mouseClick(child<WebDirectoryField>("webDirectoryField")->chooseButton(),
                      Qt::LeftButton);
    chooser->answer(std::filesystem::path("/srv/" + std::string(90, 'p')));
    check("the .local hint and a long folder name");
    EXPECT_TRUE(folder->shownText().startsWith("ppp"));
    EXPECT_TRUE(folder->shownText().contains(QChar(0x2026)));
}

TEST_F(NewEnvironmentSheetTest, TheFlagTurnedOffElsewhereClosesTheSheet) {
    openSheet();
    model().setShowCreate(false);
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
}

TEST_F(NewEnvironmentSheetTest, WithoutAnEngineCreateClosesAndNothingHappens) {
    AppModel::Options options = this->options();
    options.openEngine = [](const std::filesystem::path&) -> std::shared_ptr<AppEngine> {
        throw VessoraError("Another Vessora instance is already using this data directory.");
    };
    AppModel orphan(options);
    ASSERT_FALSE(orphan.hasEngine());
    orphan.setShowCreate(true);
    auto* sheet = new NewEnvironmentSheet(orphan, preferences, &window);
    sheet->open();
    sheet_ = sheet;
    enter(nameField(), "Client portal");
    ASSERT_TRUE(createButton()->isEnabled());
    QTest::mouseClick(createButton(), Qt::LeftButton);
    EXPECT_FALSE(orphan.showCreate());
    ASSERT_TRUE(waitFor([&] { return sheet_.isNull(); }));
    EXPECT_FALSE(orphan.busy());
    EXPECT_EQ(orphan.error(), "Another Vessora instance is already using this data directory.");
    EXPECT_EQ(engine->calls("create"), 0);
}

} // namespace
} // namespace vessora
