// The helper's registration status read from a stand-in systemd on a private
// bus: the unit's properties mapped as "systemctl show" maps them, no
// process started for it, and notFound when nothing answers.
#include "Vessora/App/SystemdBusServiceManager.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/PrivateBus.hpp"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <mutex>

namespace vessora {
namespace {

namespace fs = std::filesystem;

// The unit object of systemd: answers Properties.GetAll with the states set.
class FakeUnit : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::lock_guard lock(mutex_);
        calls_.push_back(message);
        QVariantMap properties{{"Id", QString(SystemdServiceManager::socketUnit)},
                               {"LoadState", load_},
                               {"UnitFileState", file_},
                               {"ActiveState", active_}};
        connection.send(message.createReply(QVariant::fromValue(properties)));
        return true;
    }

    void set(const QString& load, const QString& file, const QString& active) {
        std::lock_guard lock(mutex_);
        load_ = load;
        file_ = file;
        active_ = active;
    }
    std::vector<QDBusMessage> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    QString load_ = "loaded", file_ = "enabled", active_ = "active";
    std::vector<QDBusMessage> calls_;
};

class SystemdBusServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists("/usr/bin/dbus-daemon"));
        client = bus.connect("vessora-systemd-client");
        ASSERT_TRUE(client.isConnected()) << bus.log();
        // A systemctl that leaves a trace if anything runs it.
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        PrivateFile::writeWithMode(stands.path() / "systemctl",
                                   "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/ran\"\n", 0755);
        ::setenv("PATH", (stands.path().string() + ":" + savedPath).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", savedPath.c_str(), 1); }

    void offerSystemd() {
        QDBusConnection service = bus.connect("vessora-systemd");
        ASSERT_TRUE(service.isConnected()) << bus.log();
        ASSERT_TRUE(service.registerVirtualObject(
            SystemdBusServiceManager::unitPath(SystemdServiceManager::socketUnit), &unit));
        ASSERT_TRUE(service.registerService("org.freedesktop.systemd1"));
    }

    // Off the main thread, which keeps the stand-in answering.
    ServiceStatus status(SystemdBusServiceManager& manager) {
        auto reading = std::async(std::launch::async, [&] { return manager.status(); });
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            20000));
        return reading.get();
    }

    PrivateBus bus;
    QDBusConnection client{QString()};
    FakeUnit unit;
    TemporaryFolder stands{"vessora-systemctl"};
    std::string savedPath;
};

TEST_F(SystemdBusServiceManagerTest, UnitStatesMapAsTheShowCommandsDoWithoutStartingIt) {
    offerSystemd();
    SystemdBusServiceManager manager(SystemdServiceManager::socketUnit, client);
    EXPECT_EQ(status(manager), ServiceStatus::enabled);
    unit.set("loaded", "enabled", "failed");
    EXPECT_EQ(status(manager), ServiceStatus::requiresApproval);
    unit.set("loaded", "linked-runtime", "reloading");
    EXPECT_EQ(status(manager), ServiceStatus::enabled);
    unit.set("masked", "masked", "inactive");
    EXPECT_EQ(status(manager), ServiceStatus::notRegistered);
    unit.set("not-found", "", "inactive");
    EXPECT_EQ(status(manager), ServiceStatus::notFound);

    const auto calls = unit.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].path(), "/org/freedesktop/systemd1/unit/vessora_2ehost_2dservice_2esocket");
    EXPECT_EQ(calls[0].interface(), "org.freedesktop.DBus.Properties");
    EXPECT_EQ(calls[0].member(), "GetAll");
    EXPECT_EQ(calls[0].arguments(), QVariantList{QString("org.freedesktop.systemd1.Unit")});
    EXPECT_FALSE(fs::exists(stands.path() / "ran"));
}

TEST_F(SystemdBusServiceManagerTest, NoSystemdOnTheBusOrNoBusReadsAsNotFound) {
    SystemdBusServiceManager manager(SystemdServiceManager::socketUnit, client);
    EXPECT_EQ(status(manager), ServiceStatus::notFound);
    SystemdBusServiceManager unconnected(
        SystemdServiceManager::socketUnit,
        QDBusConnection::connectToBus(
            QString::fromStdString("unix:path=" + (stands.path() / "no-bus").string()),
            "vessora-no-bus"));
    EXPECT_EQ(status(unconnected), ServiceStatus::notFound);
    QDBusConnection::disconnectFromBus("vessora-no-bus");
    EXPECT_FALSE(fs::exists(stands.path() / "ran"));
}

TEST(SystemdUnitPathTest, BytesOutsideLettersAndLaterDigitsAreEscaped) {
    EXPECT_EQ(SystemdBusServiceManager::unitPath("a1-b.c_d"),
              "/org/freedesktop/systemd1/unit/a1_2db_2ec_5fd");
    EXPECT_EQ(SystemdBusServiceManager::unitPath("1x"), "/org/freedesktop/systemd1/unit/_31x");
    EXPECT_EQ(SystemdBusServiceManager::unitPath(""), "/org/freedesktop/systemd1/unit/_");
}

} // namespace
} // namespace vessora
