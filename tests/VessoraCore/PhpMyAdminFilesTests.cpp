#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/PhpMyAdminFiles.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

StackProfile record() {
    StackProfile profile;
    profile.id = "studio";
    profile.name = "Studio";
    profile.php = "php@8.4";
    profile.mariaDB = "mariadb@11.4";
    profile.httpPort = 8080;
    profile.phpPort = 9084;
    profile.databasePort = 13307;
    profile.phpMyAdminEnabled = true;
    return profile;
}

// A formula tree with the two files the copy needs, and an engine data root
// whose environment has its "config" folder, as after the start's preparation.
class PhpMyAdminFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = folder.path() / "share/phpmyadmin";
        fs::create_directories(source / "vendor");
        PrivateFile::writeKeepingMode(source / "index.php", "<?php // phpMyAdmin");
        PrivateFile::writeKeepingMode(source / "vendor/autoload.php", "<?php");
        fs::create_directories(paths.config());
    }

    std::vector<std::string> toolsEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(paths.tools()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path loader() const { return paths.phpMyAdmin() / "config.inc.php"; }
    fs::path marker() const { return paths.config() / "phpmyadmin-source"; }

    TemporaryFolder folder;
    StackPaths paths{folder.path() / "data", record()};
    fs::path source;
};

TEST_F(PhpMyAdminFilesTest, IncompleteSourceChangesNothing) {
    fs::remove(source / "vendor/autoload.php");
    try {
        PhpMyAdminFiles::prepare(paths, source);
        FAIL() << "an incomplete source was accepted";
    } catch (const VessoraError& error) {
        EXPECT_STREQ(error.what(),
                     "The Homebrew phpMyAdmin installation is incomplete. Reinstall phpmyadmin.");
    }
    EXPECT_FALSE(fs::exists(paths.tools()));
    EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(PhpMyAdminFilesTest, CopiesOnceWithItsOwnLoaderAndMarker) {
    PrivateFile::writeKeepingMode(source / "config.inc.php", "<?php $cfg = [];");
    PhpMyAdminFiles::prepare(paths, source);

    EXPECT_EQ(PrivateFile::read(paths.phpMyAdmin() / "index.php"), "<?php // phpMyAdmin");
    EXPECT_EQ(PrivateFile::read(loader()), Configuration::phpMyAdminLoader(paths));
    struct stat info {};
    ASSERT_EQ(::stat(loader().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(PrivateFile::read(source / "config.inc.php"), "<?php $cfg = [];")
        << "the formula's files are never changed";
    EXPECT_EQ(PrivateFile::read(marker()), source.string());
    EXPECT_EQ(toolsEntries(), std::vector<std::string>{"phpmyadmin"}) << "no staging leftovers";

    // Current: a file added to the copy survives, so nothing was copied again.
    PrivateFile::write(paths.phpMyAdmin() / "sentinel", "kept");
    PhpMyAdminFiles::prepare(paths, source);
    EXPECT_TRUE(fs::exists(paths.phpMyAdmin() / "sentinel"));

    // A missing index.php in the copy makes a fresh copy despite the marker.
    fs::remove(paths.phpMyAdmin() / "index.php");
    PhpMyAdminFiles::prepare(paths, source);
    EXPECT_FALSE(fs::exists(paths.phpMyAdmin() / "sentinel"));
    EXPECT_TRUE(fs::exists(paths.phpMyAdmin() / "index.php"));
    EXPECT_EQ(toolsEntries(), std::vector<std::string>{"phpmyadmin"}) << "backup removed";
}

TEST_F(PhpMyAdminFilesTest, StaleLoaderOrOtherSourceMakesAFreshCopy) {
    PhpMyAdminFiles::prepare(paths, source);
    PrivateFile::write(paths.phpMyAdmin() / "sentinel", "kept");

    // As after the data root moved: the loader names the old configuration.
    PrivateFile::write(loader(), "<?php\nrequire '/old/root/studio/config/phpmyadmin.inc.php';\n");
    PhpMyAdminFiles::prepare(paths, source);
    EXPECT_EQ(PrivateFile::read(loader()), Configuration::phpMyAdminLoader(paths));
    EXPECT_FALSE(fs::exists(paths.phpMyAdmin() / "sentinel"));

    auto other = folder.path() / "other/phpmyadmin";
    fs::create_directories(other / "vendor");
    PrivateFile::write(other / "index.php", "<?php // newer");
    PrivateFile::write(other / "vendor/autoload.php", "<?php");
    PhpMyAdminFiles::prepare(paths, other);
    EXPECT_EQ(PrivateFile::read(paths.phpMyAdmin() / "index.php"), "<?php // newer");
    EXPECT_EQ(PrivateFile::read(marker()), other.string());
}

TEST_F(PhpMyAdminFilesTest, ShippedLoaderLinkIsReplacedAndLinkedSourceIsFollowed) {
    fs::create_symlink("/nonexistent/config.inc.php", source / "config.inc.php");
    auto linked = folder.path() / "opt-phpmyadmin";
    fs::create_directory_symlink(source, linked);
    PhpMyAdminFiles::prepare(paths, linked);

    EXPECT_FALSE(fs::is_symlink(paths.phpMyAdmin())) << "a real copy, not a link to the formula";
    EXPECT_FALSE(fs::is_symlink(loader()));
    EXPECT_EQ(PrivateFile::read(loader()), Configuration::phpMyAdminLoader(paths));
    EXPECT_TRUE(fs::is_symlink(source / "config.inc.php"));
    EXPECT_EQ(PrivateFile::read(marker()), linked.string());
}

TEST_F(PhpMyAdminFilesTest, FailedCopyKeepsTheOldCopyAndLeavesNoStaging) {
    PhpMyAdminFiles::prepare(paths, source);
    PrivateFile::write(paths.phpMyAdmin() / "sentinel", "kept");

    auto other = folder.path() / "broken";
    fs::create_directories(other / "vendor");
    PrivateFile::write(other / "index.php", "<?php");
    PrivateFile::write(other / "vendor/autoload.php", "<?php");
    // A named pipe is no file the copy can take over.
    ASSERT_EQ(::mkfifo((other / "pipe").c_str(), 0600), 0);
    EXPECT_THROW(PhpMyAdminFiles::prepare(paths, other), fs::filesystem_error);

    EXPECT_TRUE(fs::exists(paths.phpMyAdmin() / "sentinel"));
    EXPECT_EQ(toolsEntries(), std::vector<std::string>{"phpmyadmin"});
    EXPECT_EQ(PrivateFile::read(marker()), source.string());
}

} // namespace
} // namespace vessora
