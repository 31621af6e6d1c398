// The systemd service manager against stand-in pkexec and systemctl programs
// put first on PATH; they log their command lines beside themselves.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/LocalAddresses/SystemdServiceManager.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vessora {
namespace {

namespace fs = std::filesystem;

class SystemdServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        PrivateFile::writeWithMode(bin() / "pkexec",
                                   "#!/bin/sh\n"
                                   "here=$(dirname \"$0\")\n"
                                   "echo \"pkexec $*\" >> \"$here/log\"\n"
                                   "if [ -f \"$here/pkexec-status\" ]; then exit $(cat "
                                   "\"$here/pkexec-status\"); fi\n"
                                   "exec \"$@\"\n",
                                   0755);
        PrivateFile::writeWithMode(bin() / "systemctl",
                                   "#!/bin/sh\n"
                                   "here=$(dirname \"$0\")\n"
                                   "echo \"systemctl $*\" >> \"$here/log\"\n"
                                   "[ \"$1\" = show ] && cat \"$here/show\"\n"
                                   "if [ -f \"$here/systemctl-status\" ]; then echo 'Unit is "
                                   "masked.'; exit $(cat \"$here/systemctl-status\"); fi\n"
                                   "exit 0\n",
                                   0755);
        ::setenv("PATH", (bin().string() + ":" + savedPath).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", savedPath.c_str(), 1); }

    fs::path bin() const { return folder.path(); }
    std::string log() const {
        return fs::exists(bin() / "log") ? PrivateFile::read(bin() / "log") : "";
    }
    void show(const std::string& load, const std::string& file, const std::string& active) {
        PrivateFile::write(bin() / "show", "LoadState=" + load + "\nUnitFileState=" + file +
                                               "\nActiveState=" + active + "\n");
    }

    TemporaryFolder folder{"vessora-systemd"};
    std::string savedPath;
    // The folder stands in for systemd's own: systemd runs.
    SystemdServiceManager manager{SystemdServiceManager::socketUnit, folder.path()};
};

// A registration that cannot run says what local addresses need, never
// only the launch error, and runs nothing.
void expectNeedsSystemdAndPkexec(SystemdServiceManager& manager) {
    try {
        manager.registerService();
        ADD_FAILURE() << "no error";
    } catch (const ServiceManagerError& error) {
        EXPECT_EQ(error.code(), ServiceManagerError::Code::failed);
        EXPECT_EQ(std::string(error.what()),
                  "Local addresses need the system service manager (systemd) and polkit’s pkexec; "
                  "without them your environments keep working on 127.0.0.1 with their ports.");
    }
}

TEST_F(SystemdServiceManagerTest, UnitStatesMapToRegistrationStatus) {
    show("loaded", "enabled", "active");
    EXPECT_EQ(manager.status(), ServiceStatus::enabled);
    EXPECT_EQ(log(), "systemctl show --property=LoadState,UnitFileState,ActiveState "
                     "vessora.host-service.socket\n")
        << "the status is read without pkexec";

    show("loaded", "enabled", "failed");
    EXPECT_EQ(manager.status(), ServiceStatus::requiresApproval);
    show("loaded", "linked", "inactive");
    EXPECT_EQ(manager.status(), ServiceStatus::requiresApproval);
    show("loaded", "disabled", "active");
    EXPECT_EQ(manager.status(), ServiceStatus::notRegistered);
    show("masked", "masked", "inactive");
    EXPECT_EQ(manager.status(), ServiceStatus::notRegistered);
    show("not-found", "", "inactive");
    EXPECT_EQ(manager.status(), ServiceStatus::notFound);

    PrivateFile::write(bin() / "systemctl-status", "1");
    show("loaded", "enabled", "active");
    EXPECT_EQ(manager.status(), ServiceStatus::notFound) << "systemctl failed";
}

TEST_F(SystemdServiceManagerTest, RegistrationRunsSystemctlThroughPkexec) {
    const std::string systemctl = (bin() / "systemctl").string();
    manager.registerService();
    manager.unregisterService();
    EXPECT_EQ(log(), "pkexec " + systemctl + " enable --now vessora.host-service.socket\n" +
                         "systemctl enable --now vessora.host-service.socket\n" + "pkexec " +
                         systemctl + " disable --now vessora.host-service.socket\n" +
                         "systemctl disable --now vessora.host-service.socket\n");
}

TEST_F(SystemdServiceManagerTest, DismissedPromptIsNotApprovedOtherFailuresFail) {
    PrivateFile::write(bin() / "pkexec-status", "126");
    try {
        manager.registerService();
        ADD_FAILURE() << "no error";
    } catch (const ServiceManagerError& error) {
        EXPECT_EQ(error.code(), ServiceManagerError::Code::notApproved);
        EXPECT_EQ(std::string(error.what()).rfind("pkexec failed (126):\n", 0), 0u) << error.what();
    }
    manager.openApproval(); // its failure is not reported

    fs::remove(bin() / "pkexec-status");
    PrivateFile::write(bin() / "systemctl-status", "1");
    try {
        manager.unregisterService();
        ADD_FAILURE() << "no error";
    } catch (const ServiceManagerError& error) {
        EXPECT_EQ(error.code(), ServiceManagerError::Code::failed);
        EXPECT_EQ(std::string(error.what()), "systemctl failed (1):\nUnit is masked.\n");
    }
}

TEST_F(SystemdServiceManagerTest, WithoutSystemdTheErrorSaysWhatLocalAddressesNeed) {
    SystemdServiceManager withoutSystemd{SystemdServiceManager::socketUnit,
                                         folder.path() / "no-systemd"};
    expectNeedsSystemdAndPkexec(withoutSystemd);
    EXPECT_EQ(log(), "") << "nothing ran";
}

TEST_F(SystemdServiceManagerTest, WithoutPkexecTheErrorSaysWhatLocalAddressesNeed) {
    // The lookup falls back to /usr/bin: only a machine without polkit there
    // can show a missing pkexec.
    if (fs::exists("/usr/bin/pkexec"))
        GTEST_SKIP() << "/usr/bin/pkexec is installed";
    ::setenv("PATH", bin().c_str(), 1);
    fs::remove(bin() / "pkexec");
    expectNeedsSystemdAndPkexec(manager);
    EXPECT_EQ(log(), "");
}

} // namespace
} // namespace vessora
