// The settings window's content: the language pop-up applies a language at
// once, the check box stores the preference, and the button asks for the
// update details with a new check.
#include "Vessora/Windows/PreferencesView.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/AppUpdatesTest.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

namespace vessora {
namespace {

class PreferencesViewTest : public AppUpdatesTest {
protected:
    PreferencesView& view() {
        if (!view_) {
            view_ = std::make_unique<PreferencesView>(preferences(), updates());
            view_->show();
        }
        return *view_;
    }

    template <typename Widget = QLabel>
    Widget* find(const char* name) {
        auto* widget = view().findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* picker() { return find<QComboBox>("languagePicker"); }
    QCheckBox* automatic() { return find<QCheckBox>("automaticChecks"); }
    QPushButton* checkNow() { return find<QPushButton>("checkForUpdates"); }

    // As a user picks an entry of the pop-up.
    void choose(int index) {
        picker()->setCurrentIndex(index);
        emit picker()->activated(index);
    }

    void TearDown() override {
        view_.reset();
        AppUpdatesTest::TearDown();
    }

private:
    std::unique_ptr<PreferencesView> view_;
};

TEST_F(PreferencesViewTest, ChoosingALanguageStoresItAndRedrawsEveryTextAtOnce) {
    EXPECT_EQ(view().width(), 380);
    EXPECT_GE(view().height(), 180);
    ASSERT_EQ(picker()->count(), 4);
    for (int index = 0; index < 4; ++index)
        EXPECT_EQ(picker()->itemText(index).toStdString(),
                  AppLanguages::name(AppLanguages::allCases[static_cast<std::size_t>(index)]));
    EXPECT_EQ(picker()->currentText(), "English");
    EXPECT_EQ(find("automaticChecksCaption")->text(),
              "Checks vessora.app at most once a day. Only release metadata is requested; your "
              "projects and databases stay on this computer.");

    choose(1);
    EXPECT_EQ(preferences().language(), AppLanguage::german);
    EXPECT_EQ(defaults->value("Vessora.language"), nlohmann::json("de"));
    EXPECT_EQ(defaults->value("AppleLanguages"), nlohmann::json({"de"}));
    EXPECT_EQ(view().locale().language(), QLocale::German);
    const auto german = [](std::string_view key, const std::vector<std::string>& arguments = {}) {
        return QString::fromStdString(L10n::text(key, arguments, AppLanguage::german));
    };
    EXPECT_EQ(find("languageHeading")->text(), "Sprache");
    EXPECT_EQ(picker()->accessibleName(), german("App language"));
    EXPECT_EQ(find("languageCaption")->text(),
              german("Changes apply immediately. Environment names and project files keep their "
                     "original language."));
    EXPECT_EQ(find("dialogsCaption")->text(),
              german("Standard texts such as text-field menus use the selected language after "
                     "restarting Vessora."));
    EXPECT_EQ(automatic()->text(), german("Check for updates automatically"));
    EXPECT_EQ(find("automaticChecksCaption")->text(),
              german("Checks %@ at most once a day. Only release metadata is requested; your "
                     "projects and databases stay on this computer.",
                     {"vessora.app"}));
    EXPECT_EQ(checkNow()->text(), german("Check for Updates…"));
    // The names of the languages stay untranslated.
    EXPECT_EQ(picker()->itemText(0), "English");
    EXPECT_EQ(picker()->currentText(), "Deutsch");

    // Choosing the language already chosen still stores both keys.
    defaults->remove("AppleLanguages");
    choose(1);
    EXPECT_EQ(defaults->value("AppleLanguages"), nlohmann::json({"de"}));
}

TEST_F(PreferencesViewTest, TheCheckBoxStoresTheAutomaticCheckPreference) {
    defaults->set(AppPreferences::automaticUpdateChecksKey, false);
    EXPECT_FALSE(automatic()->isChecked());
    QTest::mouseClick(automatic(), Qt::LeftButton);
    EXPECT_TRUE(preferences().automaticUpdateChecks());
    EXPECT_EQ(defaults->value(AppPreferences::automaticUpdateChecksKey), nlohmann::json(true));
    // A change made elsewhere shows here.
    preferences().setAutomaticUpdateChecks(false);
    EXPECT_FALSE(automatic()->isChecked());
}

TEST_F(PreferencesViewTest, CheckForUpdatesAsksForTheDetailsAndIsOffWhileAChecksRuns) {
    QSignalSpy forward(&updates(), &AppUpdates::mainWindowRequested);
    feed->hold();
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9));
    ASSERT_TRUE(checkNow()->isEnabled());
    QTest::mouseClick(checkNow(), Qt::LeftButton);
    EXPECT_EQ(forward.count(), 1);
    EXPECT_TRUE(updates().showDetails());
    EXPECT_TRUE(updates().isChecking());
    EXPECT_FALSE(checkNow()->isEnabled());
    feed->release();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(checkNow()->isEnabled());
    EXPECT_EQ(feed->calls(), 1);
}

TEST_F(PreferencesViewTest, APreferenceThatCannotBeStoredIsShownNotThrown) {
    TemporaryFolder folder("vessora-preferences-view");
    // A folder where the file should be: every write fails, also as root.
    std::filesystem::create_directories(folder.path() / "defaults.json");
    defaults = std::make_shared<UserDefaults>(folder.path() / "defaults.json");
    auto* error = find("preferencesError");
    EXPECT_FALSE(error->isVisibleTo(&view()));
    EXPECT_NO_THROW(QTest::mouseClick(automatic(), Qt::LeftButton));
    EXPECT_FALSE(automatic()->isChecked());
    EXPECT_TRUE(error->isVisibleTo(&view()));
    EXPECT_TRUE(error->text().startsWith("Could not save the preferences: "))
        << error->text().toStdString();
    // The system's message names the file; it wraps like the captions.
    EXPECT_EQ(clippedTexts(view()), std::vector<std::string>{});
}

// The fixed width holds every language: the captions wrap and the view
// grows to fit them.
TEST_F(PreferencesViewTest, NoTextIsCutOffInAnyLanguage) {
    for (int index = 0; index < 4; ++index) {
        choose(index);
        SCOPED_TRACE(picker()->currentText().toStdString());
        EXPECT_EQ(view().width(), 380);
        EXPECT_EQ(clippedTexts(view()), std::vector<std::string>{});
    }
}

} // namespace
} // namespace vessora
