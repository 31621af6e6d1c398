#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/UserTrash.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <regex>
#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class UserTrashTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }

    fs::path makeItem(const std::string& name, const std::string& content) {
        fs::path item = folder.path() / "data" / name;
        fs::create_directories(item);
        std::ofstream(item / "index.php") << content;
        return item;
    }

    std::string info(const std::string& name) {
        return PrivateFile::read(trash.root() / "info" / (name + ".trashinfo"));
    }

    TemporaryFolder folder;
    UserTrash trash{folder.path() / "Trash"};
};

// Restores an environment variable when the test ends.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(UserTrashTest, MovesTheItemAndDescribesItWithATrashInfoFile) {
    fs::path item = makeItem("studio", "<?php");
    FolderSnapshot before = snapshotFolder(item);
    std::time_t started = std::time(nullptr);

    EXPECT_EQ(trash.trashItem(item), trash.root() / "files/studio");

    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(snapshotFolder(trash.root() / "files/studio"), before);
    std::smatch match;
    std::string text = info("studio");
    ASSERT_TRUE(
        std::regex_match(text, match,
                         std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d{2}-"
                                    "\\d{2}T\\d{2}:\\d{2}:\\d{2})\n")))
        << text;
    EXPECT_EQ(match[1].str(), item.string());
    // The date is local time, within the seconds this test took.
    std::tm local{};
    ASSERT_NE(::strptime(match[2].str().c_str(), "%Y-%m-%dT%H:%M:%S", &local), nullptr);
    local.tm_isdst = -1;
    std::time_t recorded = std::mktime(&local);
    EXPECT_GE(recorded, started - 1);
    EXPECT_LE(recorded, std::time(nullptr) + 1);
}

TEST_F(UserTrashTest, EncodesThePathAsAURL) {
    fs::path item = makeItem("50% café & more", "x");
    trash.trashItem(item);
    std::string text = info("50% café & more");
    std::string expected = "Path=" + UserTrash::encodePath(folder.path().string()) +
                           "/data/50%25%20caf%C3%A9%20%26%20more\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(UserTrash::encodePath("/a b/c~d_e-f.g"), "/a%20b/c~d_e-f.g");
}

TEST_F(UserTrashTest, AnItemMovedAsideOnItsWayRecordsWhereItCameFrom) {
    // Deleted environments pass through a journal folder first; a restore
    // must put them back where they were.
    fs::path aside = makeItem(".pending-deletions/studio", "<?php");
    const fs::path origin = folder.path() / "data/studio";
    EXPECT_EQ(trash.trashItem(aside, origin), trash.root() / "files/studio");
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_NE(info("studio").find("\nPath=" + UserTrash::encodePath(origin.string()) + "\n"),
              std::string::npos)
        << info("studio");

    // The name follows the origin too, collisions included.
    fs::path second = makeItem("staging", "second");
    EXPECT_EQ(trash.trashItem(second, origin), trash.root() / "files/studio.2");
    EXPECT_NE(info("studio.2").find("Path=" + UserTrash::encodePath(origin.string())),
              std::string::npos);
}

TEST_F(UserTrashTest, CollidingNamesGetANumberAndLeftoversKeepTheirNames) {
    trash.trashItem(makeItem("studio", "first"));
    // An item left without its info file still owns "studio.2".
    fs::create_directories(trash.root() / "files/studio.2");
    // An info file left without its item still owns "studio.3".
    std::ofstream(trash.root() / "info/studio.3.trashinfo") << "";

    EXPECT_EQ(trash.trashItem(makeItem("studio", "second")), trash.root() / "files/studio.4");

    EXPECT_EQ(PrivateFile::read(trash.root() / "files/studio/index.php"), "first");
    EXPECT_EQ(PrivateFile::read(trash.root() / "files/studio.4/index.php"), "second");
    EXPECT_TRUE(fs::is_empty(trash.root() / "files/studio.2"));
    EXPECT_FALSE(fs::exists(trash.root() / "info/studio.2.trashinfo"));
    EXPECT_NE(info("studio.4").find("Path=" + (folder.path() / "data/studio").string()),
              std::string::npos);
}

TEST_F(UserTrashTest, FailuresLeaveItemAndTrashUnchanged) {
    EXPECT_THROW(trash.trashItem(folder.path() / "missing"), fs::filesystem_error);
    EXPECT_TRUE(snapshotFolder(trash.root() / "info").empty());

    // Another file system: refused, nothing copied.
    if (!onDifferentFileSystems("/dev/shm", folder.path()))
        GTEST_SKIP() << "no second file system to move from";
    std::string pattern = "/dev/shm/vessora-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    fs::path item = fs::path(pattern) / "studio";
    fs::create_directories(item);
    std::string message;
    try {
        trash.trashItem(item);
    } catch (const VessoraError& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "Could not move " + item.string() +
                           " to the Trash because it is on another file system.");
    EXPECT_TRUE(fs::is_directory(item));
    EXPECT_TRUE(snapshotFolder(trash.root() / "info").empty());
    EXPECT_TRUE(snapshotFolder(trash.root() / "files").empty());
    fs::remove_all(pattern);
}

TEST(UserTrashDefaultRootTest, FollowsXdgDataHomeElseTheHomeFolder) {
    ScopedEnvironment home("HOME", "/home/tester");
    {
        ScopedEnvironment data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(UserTrash::defaultRoot(), fs::path("/srv/data/Trash"));
        EXPECT_EQ(UserTrash().root(), fs::path("/srv/data/Trash"));
    }
    {
        // A relative value is invalid and ignored.
        ScopedEnvironment data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(UserTrash::defaultRoot(), fs::path("/home/tester/.local/share/Trash"));
    }
    ScopedEnvironment data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(UserTrash::defaultRoot(), fs::path("/home/tester/.local/share/Trash"));
}

} // namespace
} // namespace vessora
