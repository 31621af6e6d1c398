#include "VessoraCore/Foundation/AppLanguage.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Packages/PackageCatalog.hpp"

#include <gtest/gtest.h>

using namespace vessora;
using nlohmann::json;

namespace {

class PackageCatalogTests : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
};

FormulaInfo formula(std::string name, std::optional<std::string> stable,
                    std::vector<std::string> installed = {},
                    std::vector<std::string> aliases = {}) {
    FormulaInfo info;
    info.name = std::move(name);
    info.tap = "homebrew/core";
    info.versions.stable = std::move(stable);
    for (auto& version : installed)
        info.installed.push_back({version});
    info.aliases = std::move(aliases);
    return info;
}

std::vector<std::string> ids(const std::vector<BrewPackage>& packages) {
    std::vector<std::string> result;
    for (const auto& package : packages)
        result.push_back(package.id);
    return result;
}

json entry() {
    return json::parse(R"({
        "name": "php", "full_name": "php", "tap": "homebrew/core",
        "aliases": ["php@8.4"], "versioned_formulae": ["php@8.3"],
        "versions": {"stable": "8.4.7", "head": null},
        "installed": [{"version": "8.4.6", "used_options": []}],
        "deprecated": false, "disabled": false, "keg_only": false
    })");
}

TEST_F(PackageCatalogTests, FallbackListAndFamilies) {
    EXPECT_EQ(
        ids(PackageCatalog::fallback()),
        (std::vector<std::string>{"php@8.5", "php@8.4", "php@8.3", "php@8.2", "php@8.1",
                                  "mariadb@13.0", "mariadb@12.3", "mariadb@11.8", "mariadb@11.4",
                                  "mariadb@10.11", "mariadb@10.6", "nginx", "httpd"}));
    for (const auto& package : PackageCatalog::fallback()) {
        EXPECT_TRUE(PackageCatalog::isSeries(package.id, package.family)) << package.id;
        EXPECT_FALSE(package.installed() || package.availableVersion || package.deprecated ||
                     package.disabled);
    }
    EXPECT_EQ(packageFamily("mariaDB"), PackageFamily::mariaDB);
    EXPECT_EQ(packageFamily("mariadb"), std::nullopt);
    EXPECT_EQ(rawValue(PackageFamily::webserver), "webserver");
}

TEST_F(PackageCatalogTests, SeriesRules) {
    EXPECT_EQ(PackageCatalog::series("8.4.7"), "8.4");
    EXPECT_EQ(PackageCatalog::series("10.11.13_1"), "10.11");
    EXPECT_EQ(PackageCatalog::series("8"), "8");
    EXPECT_EQ(PackageCatalog::series(""), "");
    EXPECT_EQ(PackageCatalog::series("..8..4.1"), "8.4");

    for (const char* name : {"php@8", "php@8.4.1", "PHP@8.4", "php@100.1", "php@8.4\n", "php@8.",
                             "php@.4", "xphp@8.4", "php@8.4x"})
        EXPECT_FALSE(PackageCatalog::isSeries(name, PackageFamily::php)) << name;
    EXPECT_FALSE(PackageCatalog::isSeries("mariaDB@11.4", PackageFamily::mariaDB));
    EXPECT_FALSE(PackageCatalog::isSeries("php@8.4", PackageFamily::mariaDB));
    EXPECT_TRUE(PackageCatalog::isSeries("php@8.4", PackageFamily::php));
    EXPECT_TRUE(PackageCatalog::isSeries("php@10.12", PackageFamily::php));
    EXPECT_TRUE(PackageCatalog::isSeries("mariadb@10.11", PackageFamily::mariaDB));
    EXPECT_TRUE(PackageCatalog::isSeries("httpd", PackageFamily::webserver));
    EXPECT_FALSE(PackageCatalog::isSeries("apache", PackageFamily::webserver));

    EXPECT_NO_THROW(PackageCatalog::requireMatchingSeries("8.4.7", "php@8.4"));
    EXPECT_NO_THROW(PackageCatalog::requireMatchingSeries("10.11.19", "mariadb@10.11"));
    try {
        PackageCatalog::requireMatchingSeries("8.3.7", "php@8.4");
        FAIL() << "no error";
    } catch (const VessoraError& error) {
        EXPECT_STREQ(error.what(), "php@8.4 resolves to version 8.3.7. Refresh packages and "
                                   "reinstall the requested series. Environment data has not "
                                   "been opened.");
    }
}

TEST_F(PackageCatalogTests, UnversionedFormulaStandsForItsAliasSeries) {
    auto php = formula("php", "8.4.7", {"8.4.6", "8.3.1"}, {"php@8.4"});
    auto packages = PackageCatalog::packages({php});
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_EQ(packages[0], (BrewPackage{"php@8.4", PackageFamily::php, "8.4.7", "8.4.6"}));

    php.aliases.clear();
    EXPECT_TRUE(PackageCatalog::packages({php}).empty());

    // "mariadb" whose stable version gives no N.N series is dropped.
    EXPECT_TRUE(
        PackageCatalog::packages({formula("mariadb", "123.4.5", {}, {"mariadb@123.4"})}).empty());
}

TEST_F(PackageCatalogTests, EntriesOutsideTheCoreTapOrWithoutStableVersionAreSkipped) {
    auto missingTap = formula("nginx", "1.27.0");
    missingTap.tap.reset();
    auto otherTap = formula("nginx", "1.27.0");
    otherTap.tap = "someone/core";
    EXPECT_TRUE(PackageCatalog::packages({missingTap, otherTap, formula("httpd", std::nullopt),
                                          formula("php-cs-fixer", "3.0.0")})
                    .empty());
}

TEST_F(PackageCatalogTests, DisabledOnlyWhileInstalledAndFirstEntryWins) {
    auto disabled = formula("php@8.2", "8.2.29");
    disabled.disabled = true;
    EXPECT_TRUE(PackageCatalog::packages({disabled}).empty());

    disabled.installed.push_back({"8.2.20"});
    auto packages = PackageCatalog::packages({disabled, formula("php@8.2", "9.9.9")});
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_TRUE(packages[0].disabled);
    EXPECT_EQ(packages[0].availableVersion, "8.2.29");
    EXPECT_EQ(packages[0].title(), "8.2 (8.2.20) \u00B7 disabled");
}

TEST_F(PackageCatalogTests, NewestInstalledVersionAndSortOrder) {
    auto php83 = formula("php@8.3", "8.3.10", {"8.3.9", "8.3.10", "8.3.2"});
    auto httpd = formula("httpd", "2.4.65", {"2.4.9", "2.4.10"});
    auto packages = PackageCatalog::packages(
        {formula("nginx", "1.27.0"), httpd, php83, formula("php@8.9", "8.9.0"),
         formula("php@8.10", "8.10.0"), formula("mariadb@10.6", "10.6.23"),
         formula("mariadb@10.11", "10.11.13", {"10.11.13_1", "11.4.2"})});
    EXPECT_EQ(ids(packages), (std::vector<std::string>{"mariadb@10.11", "mariadb@10.6", "php@8.10",
                                                       "php@8.9", "php@8.3", "nginx", "httpd"}));
    EXPECT_EQ(packages[0].installedVersion, "10.11.13_1"); // 11.4.2 is another series
    EXPECT_EQ(packages[4].installedVersion, "8.3.10");
    EXPECT_EQ(packages[6].installedVersion, "2.4.10"); // web servers keep every version
}

TEST_F(PackageCatalogTests, Titles) {
    BrewPackage httpd{"httpd", PackageFamily::webserver, "2.4.66", "2.4.65"};
    EXPECT_EQ(httpd.title(), "Apache (2.4.65)");
    EXPECT_EQ(PackageCatalog::fallback()[11].title(), "nginx");
    BrewPackage mariadb{"mariadb@10.6", PackageFamily::mariaDB, "10.6.23"};
    mariadb.deprecated = true;
    EXPECT_EQ(mariadb.title(), "10.6 (10.6.23) \u00B7 deprecated");
    mariadb.disabled = true;
    EXPECT_EQ(mariadb.title(), "10.6 (10.6.23) \u00B7 disabled");
    EXPECT_EQ(BrewPackage::savedSelection("php@8.1", PackageFamily::php).title(),
              "8.1 \u00B7 disabled");
    UserDefaults::standard()->set(std::string(AppLanguages::preferenceKey), "de");
    EXPECT_EQ(mariadb.title(), "10.6 (10.6.23) \u00B7 deaktiviert");
}

TEST_F(PackageCatalogTests, FormulaInformationDecoding) {
    auto response = FormulaResponse::fromJSON({{"formulae", {entry()}}, {"casks", json::array()}});
    ASSERT_EQ(response.formulae.size(), 1u);
    const auto& php = response.formulae[0];
    EXPECT_EQ(php.name, "php");
    EXPECT_EQ(php.tap, "homebrew/core");
    EXPECT_EQ(php.aliases, std::vector<std::string>{"php@8.4"});
    EXPECT_EQ(php.versioned_formulae, std::vector<std::string>{"php@8.3"});
    EXPECT_EQ(php.versions.stable, "8.4.7");
    ASSERT_EQ(php.installed.size(), 1u);
    EXPECT_EQ(php.installed[0].version, "8.4.6");

    auto nullable = entry();
    nullable["tap"] = nullptr;
    nullable["versions"].erase("stable");
    auto decoded = FormulaInfo::fromJSON(nullable);
    EXPECT_FALSE(decoded.tap || decoded.versions.stable);

    // Each of these breaks the typed shape.
    std::vector<std::function<void(json&)>> faults{
        [](json& e) { e.erase("name"); },
        [](json& e) { e["aliases"] = nullptr; },
        [](json& e) { e["versioned_formulae"] = json::array({1}); },
        [](json& e) { e.erase("versions"); },
        [](json& e) { e["versions"]["stable"] = 8.4; },
        [](json& e) { e["installed"] = json::array({json::object()}); },
        [](json& e) { e["deprecated"] = 0; },
        [](json& e) { e["disabled"] = "false"; },
        [](json& e) { e["tap"] = 1; },
    };
    for (std::size_t i = 0; i < faults.size(); ++i) {
        auto broken = entry();
        faults[i](broken);
        EXPECT_THROW(FormulaResponse::fromJSON({{"formulae", {broken}}}), JsonDecodingError) << i;
    }
    EXPECT_THROW(FormulaResponse::fromJSON(json::object()), JsonDecodingError);
}

} // namespace
