#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "HelperTestSupport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace vessora {
namespace {

using helpertest::baseHosts;
using helpertest::readFile;
using helpertest::writeFile;

class HostsFileTest : public ::testing::Test {
protected:
    helpertest::TemporaryFolder folder;
    HostsFile::Location location = helpertest::ownLocation(folder.path());

    std::string applyFailure(std::uint32_t user, const std::vector<std::string>& names) {
        try {
            HostsFile::apply(location, user, names);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }
    std::vector<std::string> stagingLeftovers() const {
        return helpertest::namesStartingWith(folder.path(), HostsFile::Location::stagingPrefix);
    }
};

TEST_F(HostsFileTest, ReplacesTheSectionAndBacksUpTheFirstVersionOnce) {
    writeFile(location.hosts(), baseHosts);
    HostsFile::apply(location, 501, {"shop.test"});
    EXPECT_EQ(readFile(location.hosts()),
              std::string(baseHosts) + ManagedHosts::section(501, {"shop.test"}));
    EXPECT_EQ(readFile(location.backup()), baseHosts);

    HostsFile::apply(location, 501, {"b.test", "a.test"});
    EXPECT_EQ(readFile(location.hosts()),
              std::string(baseHosts) + ManagedHosts::section(501, {"a.test", "b.test"}));
    EXPECT_EQ(readFile(location.backup()), baseHosts);

    // An empty list runs the same transaction and removes the section.
    HostsFile::apply(location, 501, {});
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
    EXPECT_EQ(readFile(location.backup()), baseHosts);
    EXPECT_TRUE(std::filesystem::exists(location.lock()));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(HostsFileTest, UnchangedTextWritesNothing) {
    writeFile(location.hosts(), baseHosts);
    struct stat before {};
    ::stat(location.hosts().c_str(), &before);
    HostsFile::apply(location, 501, {});
    struct stat after {};
    ::stat(location.hosts().c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(HostsFileTest, SizeLimits) {
    const auto padded = [](std::size_t size) { return "#" + std::string(size - 2, 'x') + "\n"; };
    writeFile(location.hosts(), padded(HostsFile::maxSize));
    EXPECT_EQ(applyFailure(501, {}), "");

    writeFile(location.hosts(), padded(HostsFile::maxSize + 1));
    EXPECT_EQ(applyFailure(501, {}), HostsFile::unsafeHosts);
    writeFile(location.hosts(), "");
    EXPECT_EQ(applyFailure(501, {}), HostsFile::unsafeHosts);

    // A new section that would push the file past the limit is refused
    // before anything is written, so the file stays usable.
    const std::string nearlyFull = padded(HostsFile::maxSize - 10);
    writeFile(location.hosts(), nearlyFull);
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::tooLarge);
    EXPECT_EQ(readFile(location.hosts()), nearlyFull);
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(HostsFileTest, ModesAndOwnership) {
    for (const mode_t unsafe : {0664, 0646}) {
        writeFile(location.hosts(), baseHosts, unsafe);
        EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::unsafeHosts) << unsafe;
        EXPECT_EQ(readFile(location.hosts()), baseHosts);
    }
    for (const mode_t safe : {0644, 0600}) {
        writeFile(location.hosts(), baseHosts, safe);
        EXPECT_EQ(applyFailure(501, {"shop.test"}), "") << safe;
        struct stat status {};
        ::stat(location.hosts().c_str(), &status);
        EXPECT_EQ(status.st_mode & 07777, safe);
        EXPECT_EQ(status.st_uid, ::geteuid());
    }

    struct stat lockStatus {};
    ::stat(location.lock().c_str(), &lockStatus);
    EXPECT_EQ(lockStatus.st_mode & 0777, 0600u);

    HostsFile::Location foreign = location;
    foreign.owner = ::geteuid() + 1;
    writeFile(location.hosts(), baseHosts);
    EXPECT_THROW(
        {
            try {
                HostsFile::apply(foreign, 501, {"shop.test"});
            } catch (const HostServiceError& error) {
                EXPECT_STREQ(error.what(), HostsFile::unsafeLock);
                throw;
            }
        },
        HostServiceError);
}

TEST_F(HostsFileTest, LinksAreRefused) {
    writeFile(folder.path() / "real", baseHosts);
    std::filesystem::create_symlink(folder.path() / "real", location.hosts());
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::openFailed);

    std::filesystem::remove(location.hosts());
    std::filesystem::create_hard_link(folder.path() / "real", location.hosts());
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::unsafeHosts);
    EXPECT_EQ(readFile(folder.path() / "real"), baseHosts);

    std::filesystem::remove(location.hosts());
    writeFile(location.hosts(), baseHosts);
    std::filesystem::remove(location.lock());
    std::filesystem::create_symlink(folder.path() / "elsewhere", location.lock());
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::lockFailed);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "elsewhere"));

    std::filesystem::remove(location.lock());
    std::filesystem::create_directory(location.lock());
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::lockFailed);
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
}

TEST_F(HostsFileTest, TextThatIsNotUTF8IsLeftAlone) {
    const std::string latin1 = std::string(baseHosts) + "# caf\xE9\n";
    writeFile(location.hosts(), latin1);
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::notUTF8);
    EXPECT_EQ(readFile(location.hosts()), latin1);
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
}

TEST_F(HostsFileTest, CarriageReturnsStayOnForeignLines) {
    const std::string crlf =
        "127.0.0.1 localhost\r\n# BEGIN Vessora user 501\r\n127.0.0.1\told.test\r\n"
        "# END Vessora user 501\r\n10.0.0.5 printer\r\n";
    writeFile(location.hosts(), crlf);
    HostsFile::apply(location, 501, {"shop.test"});
    EXPECT_EQ(readFile(location.hosts()), "127.0.0.1 localhost\r\n10.0.0.5 printer\r\n" +
                                              ManagedHosts::section(501, {"shop.test"}));
}

TEST_F(HostsFileTest, SectionErrorsWriteNothing) {
    const std::string damaged = std::string(baseHosts) + "# BEGIN Vessora user 501\n";
    writeFile(location.hosts(), damaged);
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostServiceError::hostsSectionDamaged);
    EXPECT_EQ(readFile(location.hosts()), damaged);
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
}

TEST_F(HostsFileTest, AWriterIgnoringTheLockMakesTheCallGiveUp) {
    writeFile(location.hosts(), baseHosts);
    // Same bytes, new modification time: the time alone gives it away.
    location.beforeRaceCheck = [&] {
        timespec later[2] = {{0, UTIME_OMIT}, {0, 0}};
        ::clock_gettime(CLOCK_REALTIME, &later[1]);
        later[1].tv_sec += 5;
        ::utimensat(AT_FDCWD, location.hosts().c_str(), later, 0);
    };
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::changedMeanwhile);
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
    EXPECT_TRUE(stagingLeftovers().empty());

    // A replaced file with other content.
    const std::string theirs = std::string(baseHosts) + "10.0.0.9 nas\n";
    location.beforeRaceCheck = [&] {
        writeFile(folder.path() / "theirs", theirs);
        std::filesystem::rename(folder.path() / "theirs", location.hosts());
    };
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::changedMeanwhile);
    EXPECT_EQ(readFile(location.hosts()), theirs);
    EXPECT_TRUE(stagingLeftovers().empty());
    // The backup was made once, before the first attempt's staging.
    EXPECT_EQ(readFile(location.backup()), baseHosts);
}

TEST_F(HostsFileTest, ConcurrentProcessesLoseNoSection) {
    writeFile(location.hosts(), baseHosts);
    constexpr int writers = 6;
    constexpr int rounds = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int round = 0; round < rounds; ++round) {
                const std::string name = "w" + std::to_string(w) + "r" + std::to_string(round);
                try {
                    HostsFile::apply(location, 1000 + w, {name + ".test", name + "x.test"});
                } catch (...) {
                    ++failures;
                }
            }
            ::_exit(failures);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const std::string text = readFile(location.hosts());
    ASSERT_TRUE(text.starts_with(baseHosts));
    // Every writer's last section is there, whole, and nothing else.
    std::size_t expectedSize = std::string(baseHosts).size();
    for (int w = 0; w < writers; ++w) {
        const std::string name = "w" + std::to_string(w) + "r" + std::to_string(rounds - 1);
        const std::string section =
            ManagedHosts::section(1000 + w, {name + ".test", name + "x.test"});
        EXPECT_NE(text.find(section), std::string::npos) << text;
        expectedSize += section.size();
    }
    EXPECT_EQ(text.size(), expectedSize);
    EXPECT_EQ(readFile(location.backup()), baseHosts);
    EXPECT_TRUE(stagingLeftovers().empty());
}

} // namespace
} // namespace vessora
