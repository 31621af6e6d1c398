// Kept version answers against shell scripts that count their runs: a
// program is asked again whenever its file could have changed, and never
// while it is the same file.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/VersionProbes.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class VersionProbesTests : public ::testing::Test {
protected:
    // A program that notes each run and prints `version`.
    void program(const fs::path& file, const std::string& version) const {
        PrivateFile::writeWithMode(
            file, "#!/bin/sh\necho \"$@\" >> " + runs.string() + "\nprintf " + version + "\n",
            0700);
    }
    std::size_t runCount() const {
        std::ifstream in(runs);
        std::size_t count = 0;
        for (std::string line; std::getline(in, line);)
            ++count;
        return count;
    }

    TemporaryFolder folder{"vessora-probes"};
    fs::path runs = folder.path() / "runs";
    fs::path php = folder.path() / "php";
    VersionProbes probes;
};

TEST_F(VersionProbesTests, AnUnchangedProgramAnswersOnce) {
    program(php, "8.4.2");
    EXPECT_EQ(probes.output(php, {"-v"}), "8.4.2");
    EXPECT_EQ(probes.output(php, {"-v"}), "8.4.2");
    EXPECT_EQ(runCount(), 1u);
    // Other arguments are another question.
    EXPECT_EQ(probes.output(php, {"-r"}), "8.4.2");
    EXPECT_EQ(runCount(), 2u);
}

TEST_F(VersionProbesTests, EveryKindOfChangeAsksAgain) {
    program(php, "8.4.2");
    EXPECT_EQ(probes.output(php, {}), "8.4.2");

    // Replaced by a new file of the same size.
    program(php, "8.4.3");
    EXPECT_EQ(probes.output(php, {}), "8.4.3");
    EXPECT_EQ(runCount(), 2u);

    // Rewritten in place: the same inode and size, only the times differ.
    const auto inode = [&] {
        struct stat status {};
        ::stat(php.c_str(), &status);
        return status.st_ino;
    };
    const auto before = inode();
    {
        std::fstream file(php, std::ios::in | std::ios::out | std::ios::binary);
        const std::string text = PrivateFile::read(php);
        file.seekp(static_cast<std::streamoff>(text.rfind("8.4.3")));
        file << "8.3.9";
    }
    ASSERT_EQ(inode(), before);
    EXPECT_EQ(probes.output(php, {}), "8.3.9");
    EXPECT_EQ(runCount(), 3u);

    // A link pointed elsewhere.
    const fs::path other = folder.path() / "php-other";
    program(other, "8.2.1");
    const fs::path link = folder.path() / "php-link";
    fs::create_symlink(php, link);
    EXPECT_EQ(probes.output(link, {}), "8.3.9");
    fs::remove(link);
    fs::create_symlink(other, link);
    EXPECT_EQ(probes.output(link, {}), "8.2.1");
    EXPECT_EQ(runCount(), 5u);
}

TEST_F(VersionProbesTests, AProgramReplacedByRenameWhileOrAfterItAnsweredIsAskedAgain) {
    struct stat before {};
    const auto sameSizeAndTimes = [&](const fs::path& file) {
        struct stat now {};
        return ::stat(file.c_str(), &now) == 0 && now.st_size == before.st_size &&
               now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
               now.st_mtim.tv_nsec == before.st_mtim.tv_nsec && now.st_ino != before.st_ino;
    };

    // After: a package upgrade renames a new file of the same size over the
    // old one and keeps its modification time.
    program(php, "8.4.2");
    ASSERT_EQ(::stat(php.c_str(), &before), 0);
    EXPECT_EQ(probes.output(php, {}), "8.4.2");
    const fs::path next = folder.path() / ".php.new";
    program(next, "8.4.3");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, next.c_str(), times, 0), 0);
    fs::rename(next, php);
    ASSERT_TRUE(sameSizeAndTimes(php));
    EXPECT_EQ(probes.output(php, {}), "8.4.3");
    EXPECT_EQ(runCount(), 2u);

    // While: the program is replaced in the same way as it answers, so the
    // answer belongs to a file that is gone.
    const fs::path mariadbd = folder.path() / "mariadbd";
    PrivateFile::writeWithMode(mariadbd, "#!/bin/sh\necho \"$@\" >> " + runs.string() + R"(
v=10.11.6
if [ $v = 10.11.6 ]; then
  sed 's/^v=10[.]11[.]6$/v=10.11.7/' "$0" > "$0.new"
  chmod 700 "$0.new"; touch -r "$0" "$0.new"
  mv "$0.new" "$0"
fi
printf $v
)",
                               0700);
    ASSERT_EQ(::stat(mariadbd.c_str(), &before), 0);
    EXPECT_EQ(probes.output(mariadbd, {"--version"}), "10.11.6");
    ASSERT_TRUE(sameSizeAndTimes(mariadbd));
    EXPECT_EQ(probes.output(mariadbd, {"--version"}), "10.11.7");
    EXPECT_EQ(probes.output(mariadbd, {"--version"}), "10.11.7");
    EXPECT_EQ(runCount(), 4u);
}

TEST_F(VersionProbesTests, FailuresAreNeverKept) {
    PrivateFile::writeWithMode(
        php, "#!/bin/sh\necho run >> " + runs.string() + "\necho broken\nexit 4\n", 0700);
    EXPECT_EQ(thrownMessage([&] { probes.output(php, {}); }), "php failed (4):\nbroken\n");
    EXPECT_EQ(thrownMessage([&] { probes.output(php, {}); }), "php failed (4):\nbroken\n");
    EXPECT_EQ(runCount(), 2u);

    // A program that is gone fails as the runner reports it, every time.
    const fs::path gone = folder.path() / "gone";
    EXPECT_NE(thrownMessage([&] { probes.output(gone, {}); }), "");
}

} // namespace
} // namespace vessora
