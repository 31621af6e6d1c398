// Showing a file in the file manager over D-Bus, against a private bus
// daemon with a stand-in file manager: the freedesktop call it makes, and
// the folder it falls back to when no file manager answers - all without
// the caller waiting.
#include "Vessora/App/FileManagerItems.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Vessora/Support/PrivateBus.hpp"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const QString fileManagerService = "org.freedesktop.FileManager1";
const QString fileManagerPath = "/org/freedesktop/FileManager1";

// The file manager's object: records each call and answers as told.
class FakeFileManager : public QDBusVirtualObject {
public:
    enum class Answer { reply, error, silence };

    explicit FakeFileManager(Answer answer) : answer_(answer) {}

    QString introspect(const QString&) const override { return {}; }

    // The bus may deliver on its own thread.
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(message);
        }
        if (answer_ == Answer::reply)
            connection.send(message.createReply());
        else if (answer_ == Answer::error)
            connection.send(message.createErrorReply("org.freedesktop.DBus.Error.Failed",
                                                     "No window could be opened."));
        return true;
    }

    std::vector<QDBusMessage> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    Answer answer_;
    mutable std::mutex mutex_;
    std::vector<QDBusMessage> calls_;
};

class FileManagerItemsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists("/usr/bin/dbus-daemon"));
        client = bus.connect("vessora-client");
        ASSERT_TRUE(client.isConnected()) << bus.log();
    }

    // Puts a file manager on the bus that answers as told.
    void offerFileManager(FakeFileManager& manager) {
        QDBusConnection service = bus.connect("vessora-file-manager");
        ASSERT_TRUE(service.isConnected()) << bus.log();
        ASSERT_TRUE(service.registerVirtualObject(fileManagerPath, &manager));
        ASSERT_TRUE(service.registerService(fileManagerService));
    }

    // Runs show() and counts the folders it falls back to.
    void show(const QDBusConnection& connection,
              std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        FileManagerItems::show(
            connection, file, [this](const fs::path& folder) { fallbacks.push_back(folder); },
            timeout);
    }

    PrivateBus bus;
    QDBusConnection client{QString()};
    const fs::path file = "/srv/my shop/config/tls/identity/localhost.cer";
    std::vector<fs::path> fallbacks;
};

TEST_F(FileManagerItemsTest, AFileManagerOnTheBusShowsTheFileSelected) {
    FakeFileManager manager(FakeFileManager::Answer::reply);
    offerFileManager(manager);
    show(client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.calls().empty(); }, 10000));
    const QDBusMessage call = manager.calls().front();
    EXPECT_EQ(call.interface(), "org.freedesktop.FileManager1");
    EXPECT_EQ(call.member(), "ShowItems");
    EXPECT_EQ(call.path(), fileManagerPath);
    ASSERT_EQ(call.arguments().size(), 2);
    // URIs go encoded.
    EXPECT_EQ(call.arguments()[0].toStringList().join("|").toStdString(),
              "file:///srv/my%20shop/config/tls/identity/localhost.cer");
    EXPECT_EQ(call.arguments()[1].toString().toStdString(), "");
    // The answer arrives; nothing else opens.
    QTest::qWait(200);
    EXPECT_TRUE(fallbacks.empty());
    EXPECT_EQ(manager.calls().size(), 1u);
}

TEST_F(FileManagerItemsTest, WithoutAFileManagerTheFolderOpensAfterTheBusSaysSo) {
    show(client);
    // The caller did not wait for the bus.
    EXPECT_TRUE(fallbacks.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallbacks.empty(); }, 10000));
    EXPECT_EQ(fallbacks, std::vector<fs::path>{"/srv/my shop/config/tls/identity"});
}

TEST_F(FileManagerItemsTest, AFileManagerThatFailsOrStaysSilentLeavesItToTheFolder) {
    FakeFileManager failing(FakeFileManager::Answer::error);
    offerFileManager(failing);
    show(client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallbacks.empty(); }, 10000));
    EXPECT_EQ(failing.calls().size(), 1u);
    EXPECT_EQ(fallbacks, std::vector<fs::path>{"/srv/my shop/config/tls/identity"});
}

TEST_F(FileManagerItemsTest, AFileManagerThatNeverAnswersLeavesItToTheFolderAfterTheLimit) {
    FakeFileManager silent(FakeFileManager::Answer::silence);
    offerFileManager(silent);
    show(client, 300ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallbacks.empty(); }, 10000));
    EXPECT_EQ(silent.calls().size(), 1u);
    EXPECT_EQ(fallbacks.size(), 1u);
}

TEST_F(FileManagerItemsTest, WithoutASessionBusTheFolderOpensAtOnce) {
    const QDBusConnection none =
        QDBusConnection::connectToBus(QString("unix:path=/nonexistent/bus"), "vessora-none");
    ASSERT_FALSE(none.isConnected());
    show(none);
    EXPECT_EQ(fallbacks, std::vector<fs::path>{"/srv/my shop/config/tls/identity"});
    QDBusConnection::disconnectFromBus("vessora-none");
}

} // namespace
} // namespace vessora
