#include "VessoraCore/Storage/StackPaths.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const fs::path kRoot = "/Users/a/Library/Application Support/Vessora";

StackProfile studio() {
    return StackProfile::defaults().at(0);
}

TEST(StackPathsTest, DerivesTheEnvironmentLayoutUnderTheDataRoot) {
    StackPaths paths(kRoot, studio());
    const fs::path e = kRoot / "studio";
    EXPECT_EQ(paths.directory(), e);
    EXPECT_EQ(paths.data(), e / "data/mariadb@11.4");
    EXPECT_EQ(paths.apacheConfig(), e / "config/httpd.conf");
    EXPECT_EQ(paths.healthScript(), e / "tools/health/health.php");
    EXPECT_EQ(paths.phpMyAdminConfig(), e / "config/phpmyadmin.inc.php");
    EXPECT_EQ(paths.tlsImportCertificate(), e / "config/tls/identity/localhost.cer");
    EXPECT_EQ(paths.migrationReport(), e / "migration-report.json");

    // A change of MariaDB series gets a data directory of its own.
    StackProfile other = studio();
    other.mariaDB = "mariadb@10.11";
    EXPECT_EQ(StackPaths(kRoot, other).data(), e / "data/mariadb@10.11");
}

TEST(StackPathsTest, WebFolderFollowsDocumentRootThenProjectSubdirectory) {
    const fs::path e = kRoot / "studio";

    StackPaths managed(kRoot, studio());
    EXPECT_EQ(managed.web(), e / "public");
    EXPECT_EQ(managed.servedWeb(), e / "public");

    StackProfile project = studio();
    project.projectSubdirectory = "web";
    EXPECT_EQ(StackPaths(kRoot, project).web(), e / "project/web");
    EXPECT_EQ(StackPaths(kRoot, project).servedWeb(), e / "tools/web-root");

    project.projectSubdirectory = "";
    EXPECT_EQ(StackPaths(kRoot, project).web(), e / "project");
    EXPECT_EQ(StackPaths(kRoot, project).servedWeb(), e / "tools/web-root");

    StackProfile custom = studio();
    custom.documentRoot = "/Users/a/site/";
    EXPECT_EQ(StackPaths(kRoot, custom).web(), fs::path("/Users/a/site"));
    EXPECT_EQ(StackPaths(kRoot, custom).servedWeb(), e / "tools/web-root");
}

TEST(StackPathsTest, CookieNamesDependOnTheResolvedDataRootAndId) {
    StackPaths paths("/data/root", studio());
    // First 8 bytes of SHA-256("/data/root/studio").
    EXPECT_EQ(paths.phpMyAdminSessionCookieName(), "Vessora_pma_4ef0912fee48ce78");
    EXPECT_EQ(paths.phpMyAdminSecureSessionCookieName(),
              "__Secure-Vessora_pma_4ef0912fee48ce78_https");
    // Standardized first: the same root written differently gives the same name.
    EXPECT_EQ(StackPaths("/data/./other/../root/", studio()).phpMyAdminSessionCookieName(),
              paths.phpMyAdminSessionCookieName());

    EXPECT_NE(
        StackPaths("/data/root", StackProfile::defaults().at(1)).phpMyAdminSessionCookieName(),
        paths.phpMyAdminSessionCookieName());
    EXPECT_NE(StackPaths("/data/root2", studio()).phpMyAdminSessionCookieName(),
              paths.phpMyAdminSessionCookieName());

    TemporaryFolder folder;
    fs::create_directory(folder.path() / "real");
    fs::create_directory_symlink(folder.path() / "real", folder.path() / "alias");
    EXPECT_EQ(StackPaths(folder.path() / "alias", studio()).phpMyAdminSessionCookieName(),
              StackPaths(folder.path() / "real", studio()).phpMyAdminSessionCookieName());
    EXPECT_TRUE(std::regex_match(
        StackPaths(folder.path() / "alias", studio()).phpMyAdminSessionCookieName(),
        std::regex("Vessora_pma_[0-9a-f]{16}")));
}

} // namespace
} // namespace vessora
