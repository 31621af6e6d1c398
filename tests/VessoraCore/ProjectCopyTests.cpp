// The project copy on real trees: links of every kind come through as links
// with their target text, nothing outside the project is read, files keep
// their bytes, modes and times, and special files stop the copy.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/ProjectCopy.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class ProjectCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        fs::create_directories(source / "a/b");
        fs::create_directories(outside / "tree");
        std::ofstream(source / "index.php") << "<?php echo 'shop';";
        std::ofstream(outside / "secret.txt") << "secret";
        std::ofstream(outside / "tree/deep.txt") << "deep";
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    TemporaryFolder folder;
    fs::path source = folder.path() / "project";
    fs::path outside = folder.path() / "outside";
    fs::path target = folder.path() / "env/project";
};

TEST_F(ProjectCopyTest, LinksAreCopiedAsLinksAndNeverFollowed) {
    fs::create_directories(folder.path() / "env");
    // The link that makes a link-following copy recurse without end.
    fs::create_directory_symlink("..", source / "a/b/up");
    fs::create_symlink(outside / "secret.txt", source / "absolute");
    fs::create_directory_symlink("../outside/tree", source / "tree");
    fs::create_symlink("missing.txt", source / "dangling");
    fs::create_symlink("loop-b", source / "loop-a");
    fs::create_symlink("loop-a", source / "loop-b");
    fs::create_symlink("../index.php", source / "a/index");

    ProjectCopy::copy(source, target);

    const FolderSnapshot copied = snapshotFolder(target);
    EXPECT_EQ(copied, snapshotFolder(source));
    EXPECT_EQ(copied, (FolderSnapshot{{"a", "dir"},
                                      {"a/b", "dir"},
                                      {"a/b/up", "link:.."},
                                      {"a/index", "link:../index.php"},
                                      {"absolute", "link:" + (outside / "secret.txt").string()},
                                      {"dangling", "link:missing.txt"},
                                      {"index.php", "file:<?php echo 'shop';"},
                                      {"loop-a", "link:loop-b"},
                                      {"loop-b", "link:loop-a"},
                                      {"tree", "link:../outside/tree"}}));
    // Relative links now resolve inside the copy.
    EXPECT_EQ(fs::canonical(target / "a/b/up"), fs::canonical(target / "a"));
}

TEST_F(ProjectCopyTest, KeepsModesAndTimesAndFillsReadOnlyFolders) {
    fs::create_directories(folder.path() / "env");
    std::ofstream(source / "a/b/tool.sh") << "#!/bin/sh\n";
    fs::permissions(source / "a/b/tool.sh", fs::perms(0751));
    fs::permissions(source / "index.php", fs::perms(0640));
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(source / "index.php", old);
    fs::permissions(source / "a/b", fs::perms(0555));
    fs::last_write_time(source / "a/b", old);

    ProjectCopy::copy(source, target);

    EXPECT_EQ(snapshotFolder(target), snapshotFolder(source));
    const auto mode = [](const fs::path& path) { return fs::status(path).permissions(); };
    EXPECT_EQ(mode(target / "a/b/tool.sh"), fs::perms(0751));
    EXPECT_EQ(mode(target / "index.php"), fs::perms(0640));
    EXPECT_EQ(mode(target / "a/b"), fs::perms(0555));
    EXPECT_EQ(mode(target), mode(source));
    EXPECT_EQ(fs::last_write_time(target / "index.php"), old);
    EXPECT_EQ(fs::last_write_time(target / "a/b"), old);
    // A larger file comes through whole.
    const std::string bytes(3 * 1024 * 1024 + 17, 'x');
    std::ofstream(source / "big.bin", std::ios::binary) << bytes;
    const fs::path again = folder.path() / "again";
    ProjectCopy::copy(source, again);
    EXPECT_EQ(fs::file_size(again / "big.bin"), bytes.size());
    fs::permissions(again / "a/b", fs::perms::owner_all);
}

TEST_F(ProjectCopyTest, SpecialFilesAndAnExistingTargetStopTheCopy) {
    fs::create_directories(folder.path() / "env");
    ASSERT_EQ(::mkfifo((source / "a/pipe").c_str(), 0600), 0);
    EXPECT_EQ(thrownMessage([&] { ProjectCopy::copy(source, target); }),
              "The project contains a special file that cannot be copied. Use the existing "
              "folder instead.");
    fs::remove(source / "a/pipe");

    const std::string message = thrownMessage([&] { ProjectCopy::copy(source, target); });
    EXPECT_NE(message.find("File exists"), std::string::npos) << message;
    EXPECT_EQ(
        thrownMessage([&] { ProjectCopy::copy(source, folder.path() / "none/project"); }).empty(),
        false);
}

} // namespace
} // namespace vessora
