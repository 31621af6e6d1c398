// Moves that never replace anything, also on a file system that refuses the
// no-replace rename (the refusal comes from a stand-in rename call).
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Storage/FileMove.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace vessora {
namespace {

namespace fs = std::filesystem;

int refusingRename(const char*, const char*) {
    errno = EINVAL;
    return -1;
}

int permissionDenied(const char*, const char*) {
    errno = EACCES;
    return -1;
}

std::errc failureOf(const std::function<void()>& move) {
    try {
        move();
    } catch (const fs::filesystem_error& error) {
        return static_cast<std::errc>(error.code().value());
    }
    return std::errc();
}

class FileMoveTest : public ::testing::TestWithParam<bool> {
protected:
    void move(const fs::path& from, const fs::path& to) {
        if (GetParam())
            FileMove::move(from, to, refusingRename);
        else
            FileMove::move(from, to);
    }

    TemporaryFolder folder{"vessora-move"};
};

TEST_P(FileMoveTest, MovesFoldersAndFilesButReplacesNothing) {
    const fs::path data = folder.path() / "studio";
    PrivateFile::createDirectories(data / "public");
    PrivateFile::write(data / "public/index.php", "<?php");
    move(data, folder.path() / "journal-entry");
    EXPECT_FALSE(fs::exists(data));
    EXPECT_EQ(PrivateFile::read(folder.path() / "journal-entry/public/index.php"), "<?php");

    // An empty folder, a file and a dangling link in the way all stay.
    PrivateFile::createDirectories(data);
    PrivateFile::createDirectories(folder.path() / "empty");
    PrivateFile::write(folder.path() / "file", "kept");
    fs::create_symlink(folder.path() / "nowhere", folder.path() / "link");
    for (const char* target : {"empty", "file", "link"}) {
        EXPECT_EQ(failureOf([&] { move(data, folder.path() / target); }), std::errc::file_exists)
            << target;
        EXPECT_TRUE(fs::is_directory(data)) << target;
    }
    EXPECT_TRUE(fs::is_empty(folder.path() / "empty"));
    EXPECT_EQ(PrivateFile::read(folder.path() / "file"), "kept");
    EXPECT_TRUE(fs::is_symlink(folder.path() / "link"));

    EXPECT_EQ(failureOf([&] { move(folder.path() / "missing", folder.path() / "new"); }),
              std::errc::no_such_file_or_directory);
}

INSTANTIATE_TEST_SUITE_P(NoReplaceRenameOfferedOrRefused, FileMoveTest, ::testing::Bool());

TEST(FileMoveRefusalTest, OtherRefusalsOfTheRenamePassThrough) {
    TemporaryFolder folder{"vessora-move"};
    PrivateFile::write(folder.path() / "file", "x");
    EXPECT_EQ(failureOf([&] {
                  FileMove::move(folder.path() / "file", folder.path() / "moved", permissionDenied);
              }),
              std::errc::permission_denied);
    EXPECT_TRUE(fs::exists(folder.path() / "file"));
    EXPECT_FALSE(fs::exists(folder.path() / "moved"));
}

} // namespace
} // namespace vessora
