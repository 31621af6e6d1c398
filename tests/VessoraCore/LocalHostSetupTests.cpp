// Helper registration against a fake service manager, with the installed
// tree laid out in a temporary prefix.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/LocalAddresses/LocalHostSetup.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FakeServiceManager : public ServiceManager {
public:
    ServiceStatus current = ServiceStatus::notRegistered;
    // What registerService() throws, and the status it leaves either way.
    std::optional<ServiceManagerError> registerError;
    ServiceStatus afterRegister = ServiceStatus::enabled;
    std::vector<std::string> calls;

    ServiceStatus status() override { return current; }
    void registerService() override {
        calls.push_back("register");
        current = afterRegister;
        if (registerError)
            throw *registerError;
    }
    void unregisterService() override {
        calls.push_back("unregister");
        current = ServiceStatus::notRegistered;
    }
    void openApproval() override { calls.push_back("approval"); }
};

// Root-owned and writable by nobody else: passes as the installed program.
const fs::path installedProgram = "/usr/bin/true";

class LocalHostSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(installation.helper.parent_path());
        fs::create_directories(installation.socketUnit.parent_path());
        PrivateFile::write(installation.helper, "helper program bytes");
        PrivateFile::write(installation.serviceUnit, "[Service]\n");
        PrivateFile::write(installation.socketUnit, "[Socket]\n");
        installation.application = installedProgram;
    }

    LocalHostSetup setup(fs::path running = installedProgram) {
        return LocalHostSetup(
            LocalHostSetup::Options{installation, manager, defaults, std::move(running), 10ms});
    }
    std::optional<std::string> stored() const {
        const auto value = defaults->value(LocalHostSetup::revisionKey);
        return value ? std::optional(value->get<std::string>()) : std::nullopt;
    }

    TemporaryFolder prefix{"vessora-prefix"};
    HelperInstallation installation = HelperInstallation::under(prefix.path());
    std::shared_ptr<FakeServiceManager> manager = std::make_shared<FakeServiceManager>();
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
};

TEST_F(LocalHostSetupTest, OnlyTheInstalledRootOwnedProgramMayRegister) {
    // A program anyone may change fails the signing check, which comes first.
    const fs::path copy = prefix.path() / "Vessora";
    PrivateFile::write(copy, "program");
    ::chmod(copy.c_str(), 0777);
    EXPECT_EQ(thrownMessage([&] { setup(copy).registerHelper(); }),
              "Local host setup requires the signed release of Vessora installed system-wide.");

    installation.application = "/usr/bin/false";
    EXPECT_EQ(thrownMessage([&] { setup().registerHelper(); }),
              "Install the signed Vessora release system-wide to enable local host setup.");
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_FALSE(stored());

    // The installed program reached through a link is still that program.
    installation.application = installedProgram;
    fs::create_symlink(installedProgram, prefix.path() / "link");
    setup(prefix.path() / "link").registerHelper();
    EXPECT_EQ(manager->calls, std::vector<std::string>{"register"});
}

TEST_F(LocalHostSetupTest, CurrentRegistrationIsLeftAloneAndOutdatedOneRenewed) {
    auto current = setup();
    EXPECT_TRUE(current.needsRefresh()) << "nothing stored yet";
    defaults->set(LocalHostSetup::revisionKey, current.revision());
    manager->current = ServiceStatus::enabled;
    current.registerHelper();
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_EQ(stored(), current.revision());

    // A new helper build: unregister, pause, register anew.
    PrivateFile::write(installation.helper, "helper program bytes, version 2");
    auto updated = setup();
    EXPECT_TRUE(updated.needsRefresh());
    manager->current = ServiceStatus::requiresApproval;
    updated.registerHelper();
    EXPECT_EQ(manager->calls, (std::vector<std::string>{"unregister", "register"}));
    EXPECT_FALSE(updated.needsRefresh());
    EXPECT_TRUE(current.needsRefresh()) << "the first instance kept its own revision";
}

TEST_F(LocalHostSetupTest, RefusalWhileAwaitingApprovalIsAccepted) {
    manager->registerError.emplace(ServiceManagerError::Code::notApproved, "pkexec failed (126)");
    manager->afterRegister = ServiceStatus::requiresApproval;
    setup().registerHelper();
    EXPECT_FALSE(setup().needsRefresh());

    // The same refusal while the service is not registered is an error.
    defaults->remove(LocalHostSetup::revisionKey);
    manager->current = ServiceStatus::notFound;
    manager->afterRegister = ServiceStatus::notRegistered;
    EXPECT_EQ(thrownMessage([&] { setup().registerHelper(); }), "pkexec failed (126)");
    EXPECT_FALSE(stored());

    // Another failure is an error even while approval is pending.
    manager->registerError.emplace(ServiceManagerError::Code::failed, "systemctl failed (1)");
    manager->afterRegister = ServiceStatus::requiresApproval;
    manager->current = ServiceStatus::notRegistered;
    EXPECT_THROW(setup().registerHelper(), ServiceManagerError);
    EXPECT_FALSE(stored());
}

TEST_F(LocalHostSetupTest, RevisionCoversHelperAndBothUnits) {
    const std::string first = setup().revision();
    EXPECT_EQ(first.size(), 64u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(setup().revision(), first);

    PrivateFile::write(installation.socketUnit, "[Socket]\nSocketMode=0600\n");
    const std::string second = setup().revision();
    EXPECT_NE(second, first);
    PrivateFile::write(installation.serviceUnit, "[Service]\nUser=root\n");
    EXPECT_NE(setup().revision(), second);

    fs::remove(installation.helper);
    auto missing = setup();
    EXPECT_EQ(missing.revision(), "missing");
    missing.registerHelper();
    EXPECT_EQ(stored(), "missing");
    EXPECT_FALSE(missing.needsRefresh());

    defaults->set(LocalHostSetup::revisionKey, 7);
    EXPECT_TRUE(missing.needsRefresh()) << "a stored value that is not text counts as nothing";
}

} // namespace
} // namespace vessora
