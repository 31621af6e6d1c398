// The hosts transaction with root-owned files, as it runs in the helper.
#include "VessoraHelper/HostsFile.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "HelperTestSupport.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>

namespace vessora {
namespace {

using helpertest::baseHosts;
using helpertest::readFile;
using helpertest::writeFile;

class HostsFileRootTest : public ::testing::Test {
protected:
    std::optional<helpertest::TemporaryFolder> folder;
    HostsFile::Location location; // owner root

    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root";
        folder.emplace();
        location.folder = folder->path();
        writeFile(location.hosts(), baseHosts, 0644);
    }

    std::string applyFailure(const std::vector<std::string>& names) {
        try {
            HostsFile::apply(location, 501, names);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }
};

TEST_F(HostsFileRootTest, TheReplacementKeepsOwnerGroupAndMode) {
    ASSERT_EQ(::chown(location.hosts().c_str(), 0, 60003), 0);
    ASSERT_EQ(::chmod(location.hosts().c_str(), 04640), 0);
    EXPECT_EQ(applyFailure({"shop.test"}), "");
    struct stat status {};
    ::stat(location.hosts().c_str(), &status);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_gid, 60003u);
    EXPECT_EQ(status.st_mode & 07777, 0640u); // no set-user-id carried over
    struct stat backup {};
    ::stat(location.backup().c_str(), &backup);
    EXPECT_EQ(backup.st_uid, 0u);
    EXPECT_EQ(backup.st_mode & 07777, 0600u);
}

TEST_F(HostsFileRootTest, FilesOfOtherUsersAreRefused) {
    ASSERT_EQ(::chown(location.hosts().c_str(), 60001, 0), 0);
    EXPECT_EQ(applyFailure({"shop.test"}), HostsFile::unsafeHosts);
    ASSERT_EQ(::chown(location.hosts().c_str(), 0, 0), 0);

    ASSERT_EQ(::chown(location.lock().c_str(), 60001, 0), 0);
    EXPECT_EQ(applyFailure({"shop.test"}), HostsFile::unsafeLock);
    EXPECT_EQ(readFile(location.hosts()), baseHosts);
}

TEST_F(HostsFileRootTest, ABindMountedHostsFileIsNotReplaced) {
    const auto mounted = folder->path() / "mounted";
    writeFile(mounted, baseHosts, 0644);
    // In a private mount namespace of a child, so nothing outlives the test.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(mounted.c_str(), location.hosts().c_str(), nullptr, MS_BIND, nullptr) != 0)
            ::_exit(10);
        if (applyFailure({"shop.test"}) != HostsFile::replaceFailed)
            ::_exit(1);
        if (!helpertest::namesStartingWith(location.folder, HostsFile::Location::stagingPrefix)
                 .empty())
            ::_exit(2);
        ::_exit(readFile(location.hosts()) == baseHosts ? 0 : 3);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(mounted), baseHosts);
}

} // namespace
} // namespace vessora
