#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Records/MigrationReport.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vessora {
namespace {

using nlohmann::json;

MigrationReport sampleReport() {
    MigrationReport report;
    report.environmentID = "env-0f8fad5b-d9cb-469f-a165-70867728950e";
    report.environmentName = "Shop";
    report.sourceProject = "/home/user/Projects/shop";
    report.publicDirectory = "public";
    report.mode = ProjectImportMode::copy;
    report.databaseName = "shop";
    report.sqlStatements = 0;
    report.message = "Migration in progress.";
    report.createdAt = ReferenceDate::date(781234567.25);
    report.php = "php@8.4";
    report.mariaDB = "mariadb@11.4";
    report.webserver = "httpd";
    return report;
}

void expectSameReport(const MigrationReport& actual, const MigrationReport& expected) {
    EXPECT_EQ(actual.toJSON(), expected.toJSON());
}

TEST(MigrationReportTest, ReportWithoutDumpLeavesOutTheDumpKeysBothWays) {
    MigrationReport report = sampleReport();
    json encoded = report.toJSON();
    for (const char* key : {"sqlFileName", "sourceDatabase", "tableCount"}) {
        EXPECT_FALSE(encoded.contains(key)) << key;
    }
    EXPECT_EQ(encoded.size(), 13U);
    EXPECT_EQ(encoded["mode"], "copy");
    EXPECT_DOUBLE_EQ(encoded["createdAt"].get<double>(), 781234567.25);

    MigrationReport decoded = MigrationReport::fromJSON(encoded);
    EXPECT_FALSE(decoded.sqlFileName || decoded.sourceDatabase || decoded.tableCount);
    EXPECT_EQ(decoded.mode, ProjectImportMode::copy);
    expectSameReport(decoded, report);

    report.sqlFileName = "shop.sql";
    report.sourceDatabase = "shop_live";
    report.sqlStatements = 1200;
    report.tableCount = 42;
    report.succeeded = true;
    report.mode = ProjectImportMode::existing;
    expectSameReport(
        MigrationReport::fromJSON(JsonFields::parse(JsonFields::pretty(report.toJSON()))), report);
}

TEST(MigrationReportTest, DecodingRefusesMissingWrongAndUnknownValues) {
    json base = sampleReport().toJSON();
    for (const auto& [key, value] : base.items()) {
        json missing = base;
        missing.erase(key);
        EXPECT_THROW(MigrationReport::fromJSON(missing), JsonDecodingError) << key;
    }
    std::vector<std::pair<const char*, json>> wrong{{"mode", "move"},
                                                    {"mode", "Copy"},
                                                    {"succeeded", "true"},
                                                    {"sqlStatements", 1.5},
                                                    {"createdAt", "2025-01-01"},
                                                    {"tableCount", "3"},
                                                    {"sqlFileName", 7}};
    for (const auto& [key, value] : wrong) {
        json record = base;
        record[key] = value;
        EXPECT_THROW(MigrationReport::fromJSON(record), JsonDecodingError) << key << " " << value;
    }
    json extra = base;
    extra["sqlFileName"] = nullptr;
    extra["futureKey"] = {1, 2};
    extra["createdAt"] = 781234567; // whole seconds are a number too
    EXPECT_FALSE(MigrationReport::fromJSON(extra).sqlFileName);
}

TEST(MigrationReportTest, SaveWritesSortedIndentedPrivateFileReplacingTheOldOne) {
    TemporaryFolder folder;
    auto file = folder.path() / "migration-report.json";
    MigrationReport report = sampleReport();
    report.sqlFileName = "a-rather-long-dump-name-that-makes-the-first-file-longer.sql";
    report.save(file);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);

    report = sampleReport();
    report.succeeded = true;
    report.message = "Stack verification passed.";
    report.save(file);

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600U);

    std::string text = PrivateFile::read(file);
    EXPECT_EQ(text.find("sqlFileName"), std::string::npos);
    EXPECT_EQ(text.rfind("{\n  \"createdAt\": ", 0), 0U) << text;
    EXPECT_LT(text.find("\"createdAt\""), text.find("\"databaseName\""));
    EXPECT_LT(text.find("\"databaseName\""), text.find("\"environmentID\""));
    EXPECT_LT(text.find("\"environmentName\""), text.find("\"mariaDB\""));
    EXPECT_LT(text.find("\"succeeded\""), text.find("\"webserver\""));

    MigrationReport loaded = MigrationReport::fromJSON(JsonFields::parse(text));
    EXPECT_TRUE(loaded.succeeded);
    expectSameReport(loaded, report);
}

TEST(MigrationReportTest, SaveKeepsReportsOfFoldersWhoseNamesAreNotUTF8) {
    TemporaryFolder folder;
    auto file = folder.path() / "migration-report.json";
    MigrationReport report = sampleReport();
    report.sourceProject = "/home/user/caf\xE9";
    report.save(file);
    EXPECT_EQ(MigrationReport::fromJSON(JsonFields::parse(PrivateFile::read(file))).sourceProject,
              "/home/user/caf\xEF\xBF\xBD");
}

TEST(MigrationReportTest, SaveIntoMissingFolderThrows) {
    TemporaryFolder folder;
    EXPECT_ANY_THROW(sampleReport().save(folder.path() / "missing" / "migration-report.json"));
}

} // namespace
} // namespace vessora
