#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "HelperTestSupport.hpp"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
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

TEST_F(HostsFileTest, AnInPlaceRewriteThatKeepsTheTimeIsNoticed) {
    writeFile(location.hosts(), baseHosts);
    // Same file, same size, same modification time (as after two writes
    // within one clock tick): only the bytes give it away.
    const std::string theirs = std::string(baseHosts).replace(0, 9, "10.0.0.99");
    ASSERT_EQ(theirs.size(), std::string(baseHosts).size());
    location.beforeRaceCheck = [&] {
        struct stat before {};
        ASSERT_EQ(::stat(location.hosts().c_str(), &before), 0);
        const int fd = ::open(location.hosts().c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, theirs.data(), theirs.size(), 0),
                  static_cast<ssize_t>(theirs.size()));
        ::close(fd);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, location.hosts().c_str(), times, 0), 0);
        struct stat after {};
        ::stat(location.hosts().c_str(), &after);
        ASSERT_EQ(after.st_ino, before.st_ino);
        ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    };
    EXPECT_EQ(applyFailure(501, {"shop.test"}), HostsFile::changedMeanwhile);
    EXPECT_EQ(readFile(location.hosts()), theirs);
    EXPECT_TRUE(stagingLeftovers().empty());
}

// Records the file operations of a call, each with the path of what it
// touched, and can make chosen ones fail.
class FileCallLog {
public:
    std::vector<std::string> entries;
    std::function<bool(const std::string& entry)> fails = [](const std::string&) { return false; };

    FileCalls calls() {
        FileCalls calls;
        calls.write = [this](int fd, const void* bytes, std::size_t size) -> ssize_t {
            // Several writes in a row are one step.
            const std::string entry = "write " + pathOf(fd);
            if (entries.empty() || entries.back() != entry)
                entries.push_back(entry);
            return failed(entry) ? -1 : ::write(fd, bytes, size);
        };
        calls.fchown = [this](int fd, uid_t owner, gid_t group) {
            return record("fchown " + pathOf(fd)) ? -1 : ::fchown(fd, owner, group);
        };
        calls.fchmod = [this](int fd, mode_t mode) {
            return record("fchmod " + pathOf(fd)) ? -1 : ::fchmod(fd, mode);
        };
        calls.fsync = [this](int fd) { return record("fsync " + pathOf(fd)) ? -1 : ::fsync(fd); };
        calls.link = [this](const char* from, const char* to) {
            return record("link " + std::string(from) + " " + to) ? -1 : ::link(from, to);
        };
        calls.rename = [this](const char* from, const char* to) {
            return record("rename " + std::string(from) + " " + to) ? -1 : ::rename(from, to);
        };
        return calls;
    }

    // The path after `verb` in the first entry that starts with it.
    std::string pathAfter(const std::string& verb) const {
        for (const std::string& entry : entries) {
            if (entry.starts_with(verb + " "))
                return entry.substr(verb.size() + 1,
                                    entry.find(' ', verb.size() + 1) - verb.size() - 1);
        }
        return "";
    }

private:
    static std::string pathOf(int fd) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
    }
    bool failed(const std::string& entry) {
        if (!fails(entry))
            return false;
        errno = EIO;
        return true;
    }
    bool record(const std::string& entry) {
        entries.push_back(entry);
        return failed(entry);
    }
};

TEST_F(HostsFileTest, FilesAreFlushedBeforeTheyAreLinkedOrRenamedAndTheFolderAfter) {
    writeFile(location.hosts(), baseHosts);
    FileCallLog log;
    location.calls = log.calls();
    const std::string hosts = location.hosts().string();
    const std::string folderPath = folder.path().string();

    // The first change also writes the backup.
    HostsFile::apply(location, 501, {"shop.test"});
    const std::string backupTemporary = log.pathAfter("link");
    const std::string staging = log.pathAfter("rename");
    const std::string prefix = folderPath + "/" + HostsFile::Location::stagingPrefix;
    EXPECT_TRUE(backupTemporary.starts_with(prefix)) << backupTemporary;
    EXPECT_TRUE(staging.starts_with(prefix)) << staging;
    EXPECT_NE(backupTemporary, staging);
    EXPECT_EQ(log.entries, (std::vector<std::string>{
                               "write " + backupTemporary,
                               "fsync " + backupTemporary,
                               "link " + backupTemporary + " " + location.backup().string(),
                               "write " + staging,
                               "fchown " + staging,
                               "fchmod " + staging,
                               "fsync " + staging,
                               "rename " + staging + " " + hosts,
                               "fsync " + folderPath,
                           }));

    log.entries.clear();
    HostsFile::apply(location, 501, {"blog.test"});
    const std::string next = log.pathAfter("rename");
    EXPECT_TRUE(next.starts_with(prefix)) << next;
    EXPECT_EQ(log.entries, (std::vector<std::string>{
                               "write " + next,
                               "fchown " + next,
                               "fchmod " + next,
                               "fsync " + next,
                               "rename " + next + " " + hosts,
                               "fsync " + folderPath,
                           }));
    EXPECT_EQ(readFile(location.hosts()),
              std::string(baseHosts) + ManagedHosts::section(501, {"blog.test"}));
}

TEST_F(HostsFileTest, AFailedWriteOrFlushFailsTheCall) {
    writeFile(location.hosts(), baseHosts);
    FileCallLog log;
    location.calls = log.calls();
    const std::string staged = (folder.path() / HostsFile::Location::stagingPrefix).string();
    const std::string stagingWrite = "write " + staged;
    const std::string stagingFlush = "fsync " + staged;

    // A write refused as on a full disk, the backup's first: the platform's
    // error, no backup, nothing replaced.
    log.fails = [&](const std::string& entry) { return entry.starts_with(stagingWrite); };
    EXPECT_THAT(applyFailure(501, {"shop.test"}), ::testing::HasSubstr("write"));
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
    EXPECT_TRUE(stagingLeftovers().empty());

    // The backup's flush: no backup, nothing replaced.
    log.fails = [&](const std::string& entry) { return entry.starts_with(stagingFlush); };
    EXPECT_NE(applyFailure(501, {"shop.test"}), "");
    EXPECT_FALSE(std::filesystem::exists(location.backup()));
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
    EXPECT_TRUE(stagingLeftovers().empty());

    // The staging file's write and flush (the backup exists by now).
    log.fails = [](const std::string&) { return false; };
    HostsFile::apply(location, 501, {"shop.test"});
    const std::string applied = readFile(location.hosts());
    log.fails = [&](const std::string& entry) { return entry.starts_with(stagingWrite); };
    EXPECT_THAT(applyFailure(501, {"blog.test"}), ::testing::HasSubstr("write"));
    EXPECT_EQ(readFile(location.hosts()), applied);
    EXPECT_TRUE(stagingLeftovers().empty());
    log.fails = [&](const std::string& entry) { return entry.starts_with(stagingFlush); };
    EXPECT_EQ(applyFailure(501, {"blog.test"}), HostsFile::saveFailed);
    EXPECT_EQ(readFile(location.hosts()), applied);
    EXPECT_TRUE(stagingLeftovers().empty());

    // The folder's flush: the new file is in place but may not survive a
    // power loss, so success is not reported.
    const std::string folderFlush = "fsync " + folder.path().string();
    log.fails = [&](const std::string& entry) { return entry == folderFlush; };
    EXPECT_EQ(applyFailure(501, {"blog.test"}), HostsFile::saveFailed);
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(HostsFileTest, StagingFilesOfAKilledCallAreRemovedByTheNext) {
    writeFile(location.hosts(), baseHosts);
    // A writer killed after staging, as by kill -9 or a power loss.
    int reached[2];
    ASSERT_EQ(::pipe2(reached, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        location.beforeRaceCheck = [&] {
            [[maybe_unused]] const ssize_t wrote = ::write(reached[1], "x", 1);
            ::pause();
        };
        HostsFile::apply(location, 501, {"shop.test"});
        ::_exit(1);
    }
    ::close(reached[1]);
    pollfd entry{reached[0], POLLIN, 0};
    EXPECT_EQ(::poll(&entry, 1, 10000), 1);
    ::close(reached[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(stagingLeftovers().size(), 1u) << "the killed call left no staging file";
    EXPECT_EQ(readFile(location.hosts()), baseHosts);

    // Names that only resemble a staging file are not ours to remove.
    const std::vector<std::string> foreign = {
        std::string(HostsFile::Location::stagingPrefix) + "0f3c8a2e-8d1b-4c4e-9a57-1b2c3d4e5f60",
        std::string(HostsFile::Location::stagingPrefix) + "notes"};
    for (const std::string& name : foreign)
        writeFile(folder.path() / name, "kept");

    // Removed under the lock even by a call that changes nothing.
    HostsFile::apply(location, 501, {});
    std::vector<std::string> left = stagingLeftovers();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, foreign);
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
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
