// The two preferences: what a start reads, what every assignment stores, and
// that a language change is visible to text lookups when the views redraw.
#include "Vessora/App/AppPreferences.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace vessora {
namespace {

class AppPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }
    void TearDown() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
};

TEST_F(AppPreferencesTest, FirstStartReadsDefaultsAndWritesNothing) {
    AppPreferences preferences(defaults);
    EXPECT_TRUE(preferences.automaticUpdateChecks());
    EXPECT_EQ(preferences.language(), AppLanguage::english);
    EXPECT_FALSE(defaults->value(AppPreferences::automaticUpdateChecksKey));
    EXPECT_FALSE(defaults->value("Vessora.language"));
    EXPECT_FALSE(defaults->value(AppPreferences::systemLanguagesKey));
}

TEST_F(AppPreferencesTest, StoredValuesOfTheWrongShapeReadAsAbsent) {
    defaults->set(AppPreferences::automaticUpdateChecksKey, "false");
    defaults->set("Vessora.language", "es");
    AppPreferences unknown(defaults);
    EXPECT_TRUE(unknown.automaticUpdateChecks());
    EXPECT_EQ(unknown.language(), AppLanguage::english);

    defaults->set(AppPreferences::automaticUpdateChecksKey, false);
    defaults->set("Vessora.language", "it");
    AppPreferences stored(defaults);
    EXPECT_FALSE(stored.automaticUpdateChecks());
    EXPECT_EQ(stored.language(), AppLanguage::italian);
}

TEST_F(AppPreferencesTest, EveryAssignmentStoresAndPublishesAlsoTheSameValue) {
    AppPreferences preferences(defaults);
    QSignalSpy changed(&preferences, &AppPreferences::changed);
    preferences.setLanguage(AppLanguage::english);
    EXPECT_EQ(defaults->value("Vessora.language"), nlohmann::json("en"));
    EXPECT_EQ(defaults->value(AppPreferences::systemLanguagesKey), nlohmann::json({"en"}));
    preferences.setAutomaticUpdateChecks(true);
    EXPECT_EQ(defaults->value(AppPreferences::automaticUpdateChecksKey), nlohmann::json(true));
    EXPECT_EQ(changed.count(), 2);

    // The next start reads what was stored.
    preferences.setLanguage(AppLanguage::french);
    preferences.setAutomaticUpdateChecks(false);
    AppPreferences next(defaults);
    EXPECT_EQ(next.language(), AppLanguage::french);
    EXPECT_FALSE(next.automaticUpdateChecks());
}

TEST_F(AppPreferencesTest, ReceiversOfTheChangeAlreadyLookUpTheNewLanguage) {
    AppPreferences preferences(defaults);
    std::string drawn;
    QObject::connect(&preferences, &AppPreferences::languageChanged,
                     [&] { drawn = L10n::text("Another Vessora action is still in progress."); });
    preferences.setLanguage(AppLanguage::german);
    EXPECT_EQ(drawn, "Eine andere Vessora-Aktion läuft noch.");
}

TEST_F(AppPreferencesTest, AStoreThatCannotBeWrittenKeepsTheValueAndSaysWhy) {
    TemporaryFolder folder("vessora-preferences");
    // A folder where the file should be: every write fails, also as root.
    std::filesystem::create_directories(folder.path() / "defaults.json");
    auto broken = std::make_shared<UserDefaults>(folder.path() / "defaults.json");
    AppPreferences preferences(broken);
    QSignalSpy errors(&preferences, &AppPreferences::storeError);
    preferences.setAutomaticUpdateChecks(false);
    EXPECT_FALSE(preferences.automaticUpdateChecks());
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors.first().first().toString().startsWith("Could not save the preferences: "));
}

} // namespace
} // namespace vessora
