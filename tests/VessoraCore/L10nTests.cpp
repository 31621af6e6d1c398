#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/StringsTable.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace vessora {
namespace {

class L10nTest : public ::testing::Test {
protected:
    void SetUp() override {
        defaults = UserDefaults::inMemory();
        UserDefaults::setStandard(defaults);
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
    std::shared_ptr<UserDefaults> defaults;
};

TEST(AppLanguageTest, CodesNamesAndOrder) {
    ASSERT_EQ(AppLanguages::allCases.size(), 4u);
    EXPECT_EQ(AppLanguages::id(AppLanguages::allCases[0]), "en");
    EXPECT_EQ(AppLanguages::id(AppLanguages::allCases[1]), "de");
    EXPECT_EQ(AppLanguages::id(AppLanguages::allCases[2]), "fr");
    EXPECT_EQ(AppLanguages::id(AppLanguages::allCases[3]), "it");
    EXPECT_EQ(AppLanguages::name(AppLanguage::french), "Français");
    EXPECT_EQ(AppLanguages::fromRawValue("it"), AppLanguage::italian);
    EXPECT_EQ(AppLanguages::fromRawValue(""), std::nullopt);
    EXPECT_EQ(AppLanguages::fromRawValue("EN"), std::nullopt);
}

TEST_F(L10nTest, LanguageComesFromDefaultsOnEveryLookup) {
    EXPECT_EQ(L10n::language(), AppLanguage::english);
    defaults->set("Vessora.language", "es");
    EXPECT_EQ(L10n::language(), AppLanguage::english);
    defaults->set("Vessora.language", "EN");
    EXPECT_EQ(L10n::language(), AppLanguage::english);
    defaults->set("Vessora.language", 3);
    EXPECT_EQ(L10n::language(), AppLanguage::english);
    defaults->set("Vessora.language", "de");
    EXPECT_EQ(L10n::language(), AppLanguage::german);
}

TEST_F(L10nTest, UntranslatedKeyFallsBackToEnglishWithArguments) {
    const std::string key = "A sentence nobody translated, with %@ inside.";
    EXPECT_EQ(L10n::text(key, {"8080"}, AppLanguage::french),
              "A sentence nobody translated, with 8080 inside.");
    defaults->set("Vessora.language", "de");
    EXPECT_EQ(L10n::text(key, {"x"}), "A sentence nobody translated, with x inside.");
}

TEST_F(L10nTest, PercentWithoutArgumentsIsNotFormatted) {
    EXPECT_EQ(L10n::text("100% done %@ %%"), "100% done %@ %%");
    EXPECT_EQ(L10n::text("100%% done %@", {"now"}), "100% done now");
}

TEST_F(L10nTest, TranslationIsUsedForTheChosenLanguage) {
    const std::string key = "Another Vessora action is still in progress.";
    std::string german = L10n::text(key, {}, AppLanguage::german);
    EXPECT_NE(german, key);
    defaults->set("Vessora.language", "de");
    EXPECT_EQ(L10n::text(key), german);
    EXPECT_EQ(L10n::text(key, {}, AppLanguage::english), key);
}

TEST(L10nFormatTest, PlaceholdersInOrderAndPositional) {
    EXPECT_EQ(L10n::format("%@ failed (%@):\n%@", {"brew", "1", "tail"}), "brew failed (1):\ntail");
    EXPECT_EQ(L10n::format("%2$@ then %1$@", {"a", "b"}), "b then a");
    EXPECT_EQ(L10n::format("missing %@ and %@", {"one"}), "missing one and ");
    EXPECT_EQ(L10n::format("trailing %", {"x"}), "trailing %");
}

TEST(StringsTableTest, ParsesCommentsEscapesAndUnicode) {
    auto table = StringsTable::parse("\xEF\xBB\xBF/* header */\n"
                                     "// line comment\n"
                                     "\"Quote \\\"x\\\"\" = \"Zitat \\\"x\\\"\";\n"
                                     "\"Line\\nbreak\" = \"Zeilen\\numbruch\\t%@\";\n"
                                     "\"Apostrophe\" = \"l\\'app \\U00e9\";\n"
                                     "\"Plain\" = \"Klar\" ; /* trailing */\n");
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table["Quote \"x\""], "Zitat \"x\"");
    EXPECT_EQ(table["Line\nbreak"], "Zeilen\numbruch\t%@");
    EXPECT_EQ(table["Apostrophe"], "l'app \xC3\xA9");
    EXPECT_EQ(table["Plain"], "Klar");
}

TEST(StringsTableTest, StopsAtAMalformedEntryKeepingEarlierOnes) {
    auto table = StringsTable::parse("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";");
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table["a"], "1");
    EXPECT_TRUE(StringsTable::load("/nonexistent/Localizable.strings").empty());
}

// Every key of the English sources has a German, French and Italian entry.
TEST(StringsTableTest, ShippedTablesHaveTheSameKeys) {
    std::filesystem::path resources = std::filesystem::path(VESSORA_SOURCE_DIR) / "Resources";
    auto german = StringsTable::load(resources / "de.lproj/Localizable.strings");
    auto french = StringsTable::load(resources / "fr.lproj/Localizable.strings");
    auto italian = StringsTable::load(resources / "it.lproj/Localizable.strings");
    ASSERT_FALSE(german.empty());
    for (const auto& [key, value] : german) {
        EXPECT_TRUE(french.count(key)) << "French lacks: " << key;
        EXPECT_TRUE(italian.count(key)) << "Italian lacks: " << key;
        EXPECT_FALSE(value.empty()) << key;
    }
    EXPECT_EQ(german.size(), french.size());
    EXPECT_EQ(german.size(), italian.size());
}

// Tables grow by appended lines; a key written twice would hide one of its
// translations.
TEST(StringsTableTest, ShippedTablesNameEachKeyOnce) {
    const std::regex entry(R"re(^"((?:[^"\\]|\\.)*)"\s*=)re", std::regex::multiline);
    for (std::string code : {"de", "fr", "it"}) {
        std::ifstream in(std::filesystem::path(VESSORA_SOURCE_DIR) / "Resources" /
                         (code + ".lproj") / "Localizable.strings");
        std::stringstream text;
        text << in.rdbuf();
        const std::string table = text.str();
        std::set<std::string> seen;
        for (std::sregex_iterator it(table.begin(), table.end(), entry), end; it != end; ++it)
            EXPECT_TRUE(seen.insert((*it)[1]).second) << code << " repeats: " << (*it)[1];
        EXPECT_GT(seen.size(), 50u);
    }
}

// Every sentence the code looks up literally has a German, French and
// Italian entry.
TEST(StringsTableTest, EveryLookedUpSentenceIsTranslated) {
    namespace fs = std::filesystem;
    fs::path source(VESSORA_SOURCE_DIR);
    std::map<std::string, std::map<std::string, std::string>> tables;
    for (std::string code : {"de", "fr", "it"}) {
        tables[code] =
            StringsTable::load(source / "Resources" / (code + ".lproj") / "Localizable.strings");
    }
    const std::regex call(R"re(L10n::text\(\s*((?:"(?:[^"\\]|\\.)*"\s*)+))re");
    const std::regex literal(R"re("((?:[^"\\]|\\.)*)")re");
    std::set<std::string> keys;
    std::vector<fs::path> files;
    for (const char* module : {"VessoraCore", "Vessora"}) {
        if (!fs::exists(source / module))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(source / module))
            files.push_back(entry.path());
    }
    for (const auto& file : files) {
        auto extension = file.extension();
        if (extension != ".cpp" && extension != ".hpp")
            continue;
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        std::string code = text.str();
        for (std::sregex_iterator it(code.begin(), code.end(), call), end; it != end; ++it) {
            std::string joined;
            std::string pieces = (*it)[1];
            for (std::sregex_iterator lit(pieces.begin(), pieces.end(), literal); lit != end;
                 ++lit) {
                joined += (*lit)[1];
            }
            // The code's escapes read the same way as the table's.
            keys.insert(StringsTable::parse("\"" + joined + "\" = \"\";").begin()->first);
        }
    }
    EXPECT_GT(keys.size(), 50u);
    for (const auto& key : keys) {
        for (const auto& [code, table] : tables) {
            EXPECT_TRUE(table.count(key)) << code << " lacks: " << key;
        }
    }
}

} // namespace
} // namespace vessora
