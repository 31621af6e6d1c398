// The owner rule of the HTTPS identity's folders: a folder that belongs to
// another user is refused. Changing an owner needs root.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kIdentity = "The local HTTPS identity is incomplete, unsafe, or does not "
                              "match. Stop the environment and renew its certificate.";
constexpr uid_t kNobody = 65534;

template <typename Call>
std::string messageOf(Call call) {
    try {
        call();
    } catch (const VessoraError& error) {
        return error.what();
    }
    return "(no VessoraError)";
}

TEST(LocalHTTPSRootTest, FoldersOfAnotherUserAreRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing a folder's owner needs root";
    UserDefaults::setStandard(UserDefaults::inMemory());
    TemporaryFolder folder("vessora-https-owner");
    StackProfile profile = StackProfile::defaults().at(0);
    profile.httpsEnabled = true;
    profile.httpsPort = 8443;
    StackPaths studio(folder.path() / "Vessora", profile);
    LocalHTTPS::prepare(studio, false);
    FolderSnapshot before = snapshotFolder(studio.tls());

    for (const fs::path& owned : {studio.config(), studio.tlsIdentity()}) {
        ASSERT_EQ(::chown(owned.c_str(), kNobody, kNobody), 0);
        EXPECT_EQ(messageOf([&] { LocalHTTPS::prepare(studio, true); }), kIdentity) << owned;
        EXPECT_EQ(messageOf([&] { LocalHTTPS::info(studio); }), kIdentity) << owned;
        EXPECT_EQ(snapshotFolder(studio.tls()), before) << owned;
        ASSERT_EQ(::chown(owned.c_str(), 0, 0), 0);
    }
    EXPECT_NO_THROW(LocalHTTPS::prepare(studio, false));
}

} // namespace
} // namespace vessora
