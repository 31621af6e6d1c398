// The end of the install log, counted in characters as the user sees them.
#include "Vessora/App/LogTail.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

std::string repeated(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

class LogTailTest : public ::testing::Test {
protected:
    std::string tail(const std::string& content, std::size_t characters) {
        PrivateFile::write(file, content);
        return LogTail::lastCharacters(file, characters);
    }
    TemporaryFolder folder{"vessora-logtail"};
    std::filesystem::path file = folder.path() / "homebrew-install.log";
};

TEST_F(LogTailTest, MissingOrShortLogs) {
    EXPECT_EQ(LogTail::lastCharacters(file, 3000), "");
    EXPECT_EQ(tail("", 3000), "");
    EXPECT_EQ(tail("==> Pouring nginx\n", 3000), "==> Pouring nginx\n");
}

TEST_F(LogTailTest, CountsCombinedCharactersAsOne) {
    const std::string accented = "e\xCC\x81"; // e + combining acute accent
    const std::string log = repeated("x", 5000) + repeated(accented, 10);
    EXPECT_EQ(tail(log, 10), repeated(accented, 10));
    EXPECT_EQ(tail(log, 11), "x" + repeated(accented, 10));
}

TEST_F(LogTailTest, ReadsFurtherBackForLongCharacters) {
    // A family emoji is five code points joined, eighteen bytes, one
    // character: 3000 of them are far more than the first read.
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F"
                               "\x91\xA7";
    ASSERT_EQ(family.size(), 18u);
    const std::string log = "head " + repeated(family, 3000);
    EXPECT_EQ(tail(log, 3000), repeated(family, 3000));
    EXPECT_EQ(tail(log, 3001), " " + repeated(family, 3000));
}

TEST_F(LogTailTest, InvalidBytesShowAsReplacementCharacters) {
    const std::string log = "before \xFF after";
    EXPECT_EQ(tail(log, 3000), "before \xEF\xBF\xBD after");
    EXPECT_EQ(tail(log, 7), "\xEF\xBF\xBD after");
}

TEST_F(LogTailTest, CountsOnlyWhatTheLogGainedPastTheStart) {
    const std::string earlier = "Error: php@8.4: not available\n";
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F"
                               "\x91\xA7";
    PrivateFile::write(file, earlier + repeated(family, 3000));
    // Reading further back for long characters stops at the start.
    EXPECT_EQ(LogTail::lastCharacters(file, 3001, earlier.size()), repeated(family, 3000));
    PrivateFile::write(file, earlier);
    EXPECT_EQ(LogTail::lastCharacters(file, 3000, earlier.size()), "");
    // A log now shorter than the start was replaced: all of it is new.
    PrivateFile::write(file, "fresh\n");
    EXPECT_EQ(LogTail::lastCharacters(file, 3000, earlier.size()), "fresh\n");
}

} // namespace
} // namespace vessora
