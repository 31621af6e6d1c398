// HTTPS identities made on a full file system. There openssl exits 0 and
// leaves empty or missing files, so creation, renewal and a hostname change
// must say that the certificate could not be written and why, and leave the
// identity in force and the records exactly as they were. The data root
// lies on a small tmpfs of the test's own, which only root may mount.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UniqueFd.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPage = 4096;

const std::string kNoSpace =
    "The local HTTPS certificate could not be written: No space left on device.";

// A tmpfs of 1 MiB mounted for the test's lifetime.
class SmallDisk {
public:
    explicit SmallDisk(fs::path at) : at_(std::move(at)) {
        fs::create_directory(at_);
        if (::mount("vessora-test", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=1m,mode=0700") == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    const fs::path& path() const { return at_; }

    // Fills the file system up to `pages` free pages.
    void fill(std::size_t pages) {
        UniqueFd fd(::open(filler().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd) << std::strerror(errno);
        const std::string chunk(kPage, 'x');
        while (::write(fd.get(), chunk.data(), chunk.size()) == ssize_t(chunk.size())) {
        }
        const auto size = fs::file_size(filler());
        ASSERT_GE(size, pages * kPage);
        fs::resize_file(filler(), size - pages * kPage);
        ASSERT_EQ(freeBytes(), pages * kPage);
    }
    void empty() { fs::remove(filler()); }

    std::size_t freeBytes() const {
        struct statvfs status {};
        EXPECT_EQ(::statvfs(at_.c_str(), &status), 0);
        return std::size_t(status.f_bavail) * status.f_frsize;
    }

private:
    fs::path filler() const { return at_ / "filler"; }

    fs::path at_;
    bool mounted_ = false;
    std::string error_;
};

class StackEngineHttpsFullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a tmpfs needs root";
        if (!disk.mounted())
            GTEST_SKIP() << "could not mount a tmpfs: " << disk.error();
        UserDefaults::setStandard(UserDefaults::inMemory());
        fs::create_directory(web());
        auto options = StackEngineTesting::quickOptions(disk.path() / "Vessora", brew.brew(),
                                                        std::make_shared<FakeHostService>());
        options.portAvailable = onlyPorts(freePorts(8));
        engine = std::make_unique<StackEngine>(options);
    }
    void TearDown() override {
        if (engine)
            fs::remove_all(engine->socketDirectory());
        engine.reset();
        UserDefaults::setStandard(nullptr);
    }

    fs::path web() const { return folder.path() / "web"; }
    std::optional<std::string> hostnameOf(const std::string& id) const {
        for (const StackProfile& profile : engine->allProfiles())
            if (profile.id == id)
                return profile.hostname;
        return std::nullopt;
    }

    // With a web folder of its own, creation writes no welcome page: the
    // certificate is the first file it needs room for.
    std::string create(const std::string& name, std::optional<std::string> hostname) {
        return thrownMessage([&] {
            created = engine->create(name, "php@8.4", "mariadb@11.4", false, "nginx", true,
                                     web().string(), "app", hostname, false, false);
        });
    }

    TemporaryFolder folder{"vessora-full-disk"};
    SmallDisk disk{folder.path() / "disk"};
    BrewStandIn brew;
    std::unique_ptr<StackEngine> engine;
    StackProfile created;
};

TEST_F(StackEngineHttpsFullDiskTest, ACertificateThatCannotBeWrittenSaysWhyAndChangesNothing) {
    ASSERT_EQ(create("Shop", std::string("a.test")), "");
    const StackProfile shop = created;
    const StackPaths paths(engine->root(), shop);
    StackProfile renamed = shop;
    renamed.hostname = "b.test";

    // No room at all, room for the key alone, and for the key and its
    // certificate but not the DER copy.
    for (std::size_t pages : {0, 1, 2}) {
        SCOPED_TRACE(std::to_string(pages) + " free pages");
        disk.fill(pages);
        ASSERT_FALSE(HasFatalFailure());
        const FolderSnapshot identity = snapshotFolder(paths.tls());
        const FolderSnapshot root = snapshotFolder(engine->root());
        const std::size_t environments = engine->allProfiles().size();

        EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(shop.id); }), kNoSpace);
        EXPECT_EQ(snapshotFolder(paths.tls()), identity);
        EXPECT_EQ(thrownMessage([&] { engine->update(renamed); }), kNoSpace);
        EXPECT_EQ(hostnameOf(shop.id), shop.hostname);
        EXPECT_EQ(create("Second", std::nullopt), kNoSpace);
        EXPECT_EQ(engine->allProfiles().size(), environments);

        // Identity, records and every other file as they were.
        EXPECT_EQ(snapshotFolder(engine->root()), root);
        EXPECT_EQ(disk.freeBytes(), pages * kPage);
        disk.empty();
    }

    // With room again the identity kept through it all still serves, and
    // each operation goes through.
    EXPECT_EQ(thrownMessage([&] { LocalHTTPS::prepare(paths, false); }), "");
    EXPECT_EQ(thrownMessage([&] { engine->renewCertificate(shop.id); }), "");
    EXPECT_EQ(thrownMessage([&] { engine->update(renamed); }), "");
    EXPECT_EQ(create("Second", std::nullopt), "");
    EXPECT_EQ(
        thrownMessage([&] { LocalHTTPS::prepare(StackPaths(engine->root(), renamed), false); }),
        "");
}

} // namespace
} // namespace vessora
