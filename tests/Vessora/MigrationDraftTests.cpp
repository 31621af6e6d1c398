// The import wizard's rules without widgets: when each step may continue,
// the packages it needs, the request it hands the engine and the texts of
// its review and result.
#include "Vessora/Sheets/MigrationDraft.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vessora {
namespace {

using Row = MigrationDraft::Row;

StackProfile named(const std::string& id, const std::string& name) {
    StackProfile profile = StackProfile::defaults().front();
    profile.id = id;
    profile.name = name;
    return profile;
}

// Eighty user-perceived characters; the last is `last`.
std::string eightyEndingWith(const std::string& last) {
    return std::string(79, 'a') + last;
}

TEST(MigrationDraftTest, TheProjectStepNeedsAFreeCleanNameAFolderAndARelativeWebFolder) {
    const std::vector<StackProfile> profiles{named("shop", "Shop"), named("cafe", "cafe")};
    const std::string thumbsUp = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // U+1F44D U+1F3FD
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";     // two regional indicators
    struct Case {
        std::string name;
        bool folder;
        std::string publicDirectory;
        bool complete;
        bool clashes;
    };
    const std::vector<Case> cases{
        {"Client portal", true, "", true, false},
        {"Client portal", false, "", false, false},
        // Blank, clashing (case, surrounding blanks, accents), long, control.
        {"", true, "", false, false},
        {"   ", true, "", false, false},
        {"Shop", true, "", false, true},
        {" shop ", true, "", false, true},
        {"SHOP", true, "", false, true},
        {"Café", true, "", false, true},
        {"Shöp", true, "", false, true},
        {"Shops", true, "", true, false},
        {eightyEndingWith("a"), true, "", true, false},
        {eightyEndingWith("a") + "a", true, "", false, false},
        {eightyEndingWith(thumbsUp), true, "", true, false},
        {eightyEndingWith(flag), true, "", true, false},
        {eightyEndingWith(thumbsUp) + "a", true, "", false, false},
        {"  " + eightyEndingWith("a") + "\n", true, "", true, false},
        {"Client\tportal", true, "", false, false},
        {"Client portal\n", true, "", true, false},
        {"Client\xE2\x80\x8Bportal", true, "", false, false}, // zero-width space (Cf)
        // The web folder, as typed.
        {"Client portal", true, "public", true, false},
        {"Client portal", true, "web/public", true, false},
        {"Client portal", true, "/public", false, false},
        {"Client portal", true, "public/", false, false},
        {"Client portal", true, "../site", false, false},
        {"Client portal", true, "a/./b", false, false},
        {"Client portal", true, "pub\tlic", false, false},
    };
    for (const Case& c : cases) {
        MigrationDraft draft;
        draft.setName(c.name);
        if (c.folder)
            draft.setFolder("/home/me/sites/portal");
        draft.setPublicDirectory(c.publicDirectory);
        const std::string label = "\"" + c.name + "\" in \"" + c.publicDirectory + "\"";
        EXPECT_EQ(draft.projectComplete(profiles), c.complete) << label;
        EXPECT_EQ(draft.canContinue({profiles, {}, false, false}), c.complete) << label;
        EXPECT_EQ(draft.nameClashes(profiles), c.clashes) << label;
    }
}

TEST(MigrationDraftTest, ChoosingAFolderNamesOnlyABlankName) {
    MigrationDraft draft;
    draft.setName("  \n");
    draft.chooseFolder("/home/me/sites/portal/");
    EXPECT_EQ(draft.folder(), "/home/me/sites/portal");
    EXPECT_EQ(draft.name(), "portal");

    draft.setName(" My shop ");
    draft.setPublicDirectory("public");
    draft.setMode(ProjectImportMode::copy);
    draft.setDatabaseName("shop");
    draft.chooseFolder("/srv/other");
    EXPECT_EQ(draft.folder(), "/srv/other");
    EXPECT_EQ(draft.name(), " My shop ");
    EXPECT_EQ(draft.publicDirectory(), "public");
    EXPECT_EQ(draft.mode(), ProjectImportMode::copy);
    EXPECT_EQ(draft.databaseName(), "shop");
}

TEST(MigrationDraftTest, TheDatabaseStepTakesTheNameAsTyped) {
    MigrationDraft draft;
    draft.setStep(MigrationDraft::databaseStep);
    EXPECT_TRUE(draft.canContinue({}));
    for (const std::string& name : std::vector<std::string>{"shop", "_shop-2", "S"}) {
        draft.setDatabaseName(name);
        EXPECT_TRUE(draft.canContinue({})) << name;
    }
    for (const std::string& name :
         std::vector<std::string>{"", " shop", "shop ", "1shop", "mysql", "SYS", "vessora_internal",
                                  "sh op", std::string(65, 'a')}) {
        draft.setDatabaseName(name);
        EXPECT_FALSE(draft.validDatabaseName()) << name;
        EXPECT_FALSE(draft.canContinue({})) << name;
    }
}

TEST(MigrationDraftTest, TheRuntimeStepWantsKnownPackagesInstalledOrInstallableWhileNothingRuns) {
    MigrationDraft draft;
    draft.setStep(MigrationDraft::runtimeStep);
    EXPECT_EQ(draft.packages(), (std::vector<std::string>{"nginx", "php@8.4", "mariadb@11.4"}));
    const std::map<std::string, bool> all{
        {"nginx", true}, {"php@8.4", true}, {"mariadb@11.4", true}, {"httpd", false}};
    const std::map<std::string, bool> phpFalse{
        {"nginx", true}, {"php@8.4", false}, {"mariadb@11.4", true}};
    const std::map<std::string, bool> phpAbsent{{"nginx", true}, {"mariadb@11.4", true}};
    EXPECT_TRUE(draft.missing(all).empty());
    EXPECT_EQ(draft.missing(phpFalse), std::vector<std::string>{"php@8.4"});
    EXPECT_EQ(draft.missing(phpAbsent), std::vector<std::string>{"php@8.4"});

    struct Case {
        std::map<std::string, bool> installed;
        bool known;
        bool installMissing;
        bool running;
        bool complete;
    };
    const std::vector<Case> cases{
        // Everything installed: whatever the box and the environments say.
        {all, true, false, false, true},
        {all, true, true, false, true},
        {all, true, false, true, true},
        {all, true, true, true, true},
        // Not known yet: never, even with nothing missing.
        {all, false, false, false, false},
        {phpFalse, false, true, false, false},
        // Something missing: only when installing is allowed and nothing runs.
        {phpFalse, true, false, false, false},
        {phpFalse, true, true, false, true},
        {phpFalse, true, true, true, false},
        {phpAbsent, true, false, false, false},
        {phpAbsent, true, true, false, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        draft.setInstallMissing(c.installMissing);
        EXPECT_EQ(draft.canContinue({{}, c.installed, c.known, c.running}), c.complete)
            << "case " << i;
    }

    // phpMyAdmin is one more package, missing unless installed.
    draft.setPhpMyAdmin(true);
    EXPECT_EQ(draft.packages().back(), "phpmyadmin");
    EXPECT_EQ(draft.missing(all), std::vector<std::string>{"phpmyadmin"});
    draft.setInstallMissing(false);
    EXPECT_FALSE(draft.canContinue({{}, all, true, false}));
    auto withAdmin = all;
    withAdmin["phpmyadmin"] = true;
    EXPECT_TRUE(draft.canContinue({{}, withAdmin, true, true}));

    // The other formulae as chosen, in their order.
    draft.setWebserver("httpd");
    draft.setPHP("php@8.2");
    draft.setMariaDB("mariadb@10.11");
    EXPECT_EQ(draft.packages(),
              (std::vector<std::string>{"httpd", "php@8.2", "mariadb@10.11", "phpmyadmin"}));
    EXPECT_EQ(draft.missing(withAdmin),
              (std::vector<std::string>{"httpd", "php@8.2", "mariadb@10.11"}));

    // The review never holds anything back.
    draft.setStep(MigrationDraft::reviewStep);
    EXPECT_TRUE(draft.canContinue({}));
}

TEST(MigrationDraftTest, TheRequestCarriesTheDraftTrimmingOnlyTheName) {
    MigrationDraft draft;
    EXPECT_EQ(draft.request(), std::nullopt);

    draft.setName("\t My shop \n");
    draft.setFolder("/home/me/shop");
    draft.setPublicDirectory(" public ");
    draft.setDatabaseName(" shop ");
    std::optional<MigrationRequest> request = draft.request();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->name, "My shop");
    EXPECT_EQ(request->projectFolder, "/home/me/shop");
    EXPECT_EQ(request->publicDirectory, " public ");
    EXPECT_EQ(request->mode, ProjectImportMode::existing);
    EXPECT_EQ(request->databaseName, " shop ");
    EXPECT_EQ(request->sqlFile, std::nullopt);
    EXPECT_EQ(request->php, "php@8.4");
    EXPECT_EQ(request->mariaDB, "mariadb@11.4");
    EXPECT_EQ(request->webserver, "nginx");
    EXPECT_FALSE(request->phpMyAdminEnabled);
    EXPECT_FALSE(request->httpsEnabled);
    EXPECT_FALSE(request->installMissingPackages);

    draft.setMode(ProjectImportMode::copy);
    draft.setSQL("/home/me/dumps/shop.sql");
    draft.setPHP("php@8.2");
    draft.setMariaDB("mariadb@10.11");
    draft.setWebserver("httpd");
    draft.setPhpMyAdmin(true);
    draft.setHTTPS(true);
    draft.setInstallMissing(true);
    request = draft.request();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->mode, ProjectImportMode::copy);
    EXPECT_EQ(request->sqlFile, "/home/me/dumps/shop.sql");
    EXPECT_EQ(request->php, "php@8.2");
    EXPECT_EQ(request->mariaDB, "mariadb@10.11");
    EXPECT_EQ(request->webserver, "httpd");
    EXPECT_TRUE(request->phpMyAdminEnabled);
    EXPECT_TRUE(request->httpsEnabled);
    EXPECT_TRUE(request->installMissingPackages);
}

TEST(MigrationDraftTest, TheReviewSummarizesTheDraft) {
    MigrationDraft draft;
    EXPECT_EQ(draft.reviewRows(), (std::vector<Row>{
                                      {"Name", ""},
                                      {"Project", ""},
                                      {"Project files", "Use existing folder"},
                                      {"Web folder", "."},
                                      {"Database", "vessora"},
                                      {"SQL file", "None — empty database"},
                                      {"Runtime", "nginx · php@8.4 · mariadb@11.4"},
                                  }));

    draft.setName("  Shop\n");
    draft.setFolder("/home/me/shop");
    draft.setMode(ProjectImportMode::copy);
    draft.setPublicDirectory("web/public");
    draft.setDatabaseName(" shop");
    draft.setSQL("/home/me/dumps/shop-2024.sql");
    draft.setHTTPS(true);
    EXPECT_EQ(draft.reviewRows(), (std::vector<Row>{
                                      {"Name", "Shop"},
                                      {"Project", "/home/me/shop"},
                                      {"Project files", "Copy into Vessora"},
                                      {"Web folder", "web/public"},
                                      {"Database", " shop"},
                                      {"SQL file", "shop-2024.sql"},
                                      {"Runtime", "nginx · php@8.4 · mariadb@11.4 · HTTPS"},
                                  }));
    draft.setPhpMyAdmin(true);
    EXPECT_EQ(draft.runtimeSummary(), "nginx · php@8.4 · mariadb@11.4 · HTTPS · phpMyAdmin");
    draft.setHTTPS(false);
    EXPECT_EQ(draft.runtimeSummary(), "nginx · php@8.4 · mariadb@11.4 · phpMyAdmin");
}

TEST(MigrationDraftTest, TheResultShowsTheTableCountOnlyWhenCounted) {
    MigrationResult result;
    result.profile = named("env-1", "Shop");
    result.profile.databasePort = 3307;
    result.profile.databaseName = "shop";
    const std::vector<Row> four{
        {"Name", "Shop"}, {"Host", "127.0.0.1:3307"}, {"Database", "shop"}, {"User", "vessora"}};
    EXPECT_EQ(MigrationDraft::resultRows(result), four);
    result.report.tableCount = 12;
    std::vector<Row> five = four;
    five.push_back({"Tables and views", "12"});
    EXPECT_EQ(MigrationDraft::resultRows(result), five);
}

TEST(MigrationDraftTest, AResultDecidesTheStateBeforeImporting) {
    MigrationDraft draft;
    EXPECT_EQ(draft.state(), MigrationDraft::State::editing);
    draft.setImporting(true);
    EXPECT_EQ(draft.state(), MigrationDraft::State::importing);
    draft.fail("It broke.");
    EXPECT_EQ(draft.state(), MigrationDraft::State::editing);
    EXPECT_EQ(draft.error(), "It broke.");
    draft.setImporting(true);
    draft.finish(MigrationResult{});
    EXPECT_EQ(draft.state(), MigrationDraft::State::finished);
    EXPECT_FALSE(draft.importing());
    // Only consulted while there is no result.
    draft.setImporting(true);
    EXPECT_EQ(draft.state(), MigrationDraft::State::finished);
}

} // namespace
} // namespace vessora
