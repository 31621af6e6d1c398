#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kOutside =
    "The web directory must be outside Vessora’s data folder and cannot contain it.";
const std::string kMissing =
    "The selected web directory is missing or cannot be read. Choose an existing folder.";
const std::string kOccupied =
    "The private web-directory link is occupied by a file. No project files were changed.";

class WebDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        root = folder.path() / "Vessora";
        site = folder.path() / "site";
        fs::create_directories(root / "studio/tools");
        fs::create_directories(root / "studio/project/web");
        fs::create_directories(site);
    }

    StackPaths custom(const fs::path& documentRoot) const {
        StackProfile profile = StackProfile::defaults().at(0);
        profile.documentRoot = documentRoot.string();
        return StackPaths(root, profile);
    }

    StackPaths project(const std::string& subdirectory) const {
        StackProfile profile = StackProfile::defaults().at(0);
        profile.projectSubdirectory = subdirectory;
        return StackPaths(root, profile);
    }

    static std::string failure(const StackPaths& paths) {
        try {
            WebDirectory::validate(paths);
        } catch (const VessoraError& error) {
            return error.what();
        }
        return "no error";
    }

    TemporaryFolder folder;
    fs::path root;
    fs::path site;
};

TEST_F(WebDirectoryTest, ManagedFolderNeedsNoCheckAndNoLink) {
    StackPaths paths(root, StackProfile::defaults().at(0));
    // The managed folder does not even have to exist yet.
    EXPECT_NO_THROW(WebDirectory::validate(paths));
    EXPECT_NO_THROW(WebDirectory::prepareMount(paths));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "studio/tools/web-root")));
}

TEST_F(WebDirectoryTest, RefusesFoldersThatOverlapTheDataRoot) {
    EXPECT_EQ(failure(custom(root)), kOutside);
    EXPECT_EQ(failure(custom(root / "studio/public")), kOutside);
    EXPECT_EQ(failure(custom(folder.path())), kOutside); // holds the data root
    EXPECT_EQ(failure(custom("/")), kOutside);
    // ".." pieces are folded before the comparison.
    EXPECT_EQ(failure(custom(site / ".." / "Vessora" / "studio")), kOutside);
    // A link outside that resolves into the data root is the data root.
    fs::create_directory_symlink(root / "studio", folder.path() / "shortcut");
    EXPECT_EQ(failure(custom(folder.path() / "shortcut")), kOutside);
    // A data root reached through a link is compared resolved as well.
    fs::create_directory_symlink(root, folder.path() / "root-alias");
    StackProfile profile = StackProfile::defaults().at(0);
    profile.documentRoot = (root / "studio").string();
    EXPECT_EQ(failure(StackPaths(folder.path() / "root-alias", profile)), kOutside);

    EXPECT_EQ(failure(custom(site)), "no error");
    // A neighbour whose name merely starts like the data root is outside it.
    fs::create_directory(folder.path() / "Vessora-site");
    EXPECT_EQ(failure(custom(folder.path() / "Vessora-site")), "no error");
}

TEST_F(WebDirectoryTest, ProjectFoldersMayLieInTheOwnProjectCopyOnly) {
    EXPECT_EQ(failure(project("web")), "no error");
    EXPECT_EQ(failure(project("")), "no error");
    // A link in the copy that leads to another environment's files.
    fs::create_directories(root / "legacy/public");
    fs::create_directory_symlink(root / "legacy/public", root / "studio/project/escape");
    EXPECT_EQ(failure(project("escape")), kOutside);
    // A link in the copy that leads out of the data root is a custom folder.
    fs::create_directory_symlink(site, root / "studio/project/outside");
    EXPECT_EQ(failure(project("outside")), "no error");
    EXPECT_EQ(failure(project("missing")), kMissing);
}

TEST_F(WebDirectoryTest, RefusesMissingFilesAndUnreadableFolders) {
    EXPECT_EQ(failure(custom(folder.path() / "missing")), kMissing);
    std::ofstream(folder.path() / "file.txt") << "x";
    EXPECT_EQ(failure(custom(folder.path() / "file.txt")), kMissing);
    fs::create_directory_symlink(folder.path() / "gone", folder.path() / "dangling");
    EXPECT_EQ(failure(custom(folder.path() / "dangling")), kMissing);

    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    ::chmod(site.c_str(), 0300);
    EXPECT_EQ(failure(custom(site)), kMissing);
}

TEST_F(WebDirectoryTest, PrepareMountPointsThePrivateLinkAtTheWebFolder) {
    const fs::path link = root / "studio/tools/web-root";
    WebDirectory::prepareMount(custom(site));
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), site);

    // An old link pointing elsewhere is replaced.
    WebDirectory::prepareMount(project("web"));
    EXPECT_EQ(fs::read_symlink(link), root / "studio/project/web");

    // A link whose target vanished is the engine's own and is replaced too.
    fs::remove(link);
    fs::create_directory_symlink(folder.path() / "gone", link);
    WebDirectory::prepareMount(custom(site));
    EXPECT_EQ(fs::read_symlink(link), site);

    // A failed validation leaves the link alone.
    EXPECT_THROW(WebDirectory::prepareMount(custom(folder.path() / "missing")), VessoraError);
    EXPECT_EQ(fs::read_symlink(link), site);
}

TEST_F(WebDirectoryTest, PrepareMountNeverTouchesAFileOrFolderInPlaceOfTheLink) {
    const fs::path link = root / "studio/tools/web-root";
    for (bool asFolder : {true, false}) {
        if (asFolder) {
            fs::create_directory(link);
            std::ofstream(link / "index.php") << "<?php echo 1;";
        } else {
            std::ofstream(link) << "user data";
        }
        FolderSnapshot before = snapshotFolder(root);
        try {
            WebDirectory::prepareMount(custom(site));
            ADD_FAILURE() << "an occupied link was replaced";
        } catch (const VessoraError& error) {
            EXPECT_EQ(std::string(error.what()), kOccupied);
        }
        EXPECT_EQ(snapshotFolder(root), before);
        fs::remove_all(link);
    }
}

} // namespace
} // namespace vessora
