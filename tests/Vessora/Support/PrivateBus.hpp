// A bus daemon of our own, so no real service takes the calls and nothing is
// activated.
#pragma once

#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <QDBusConnection>
#include <QString>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class PrivateBus {
public:
    PrivateBus() {
        const std::filesystem::path socket = folder_.path() / "bus";
        const std::filesystem::path config = folder_.path() / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                                 "Configuration 1.0//EN\" "
                                 "\"http://www.freedesktop.org/standards/dbus/1.0/"
                                 "busconfig.dtd\">\n"
                                 "<busconfig><type>session</type>"
                                 "<listen>unix:path="
                              << socket.string()
                              << "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        daemon_.emplace(
            "dbus", "/usr/bin/dbus-daemon",
            std::vector<std::string>{"--config-file=" + config.string(), "--nofork", "--nopidfile"},
            folder_.path() / "bus.log");
        address_ = QString::fromStdString("unix:path=" + socket.string());
        QTest::qWaitFor([&] { return std::filesystem::exists(socket) || !daemon_->isRunning(); },
                        10000);
    }

    ~PrivateBus() {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_->terminate();
        daemon_->waitForExit(std::chrono::seconds(10));
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // A new connection to this bus. The daemon makes its socket file before
    // it listens, so a first attempt can be refused: try again, bounded.
    QDBusConnection connect(const QString& name) {
        names_.push_back(name);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (true) {
            QDBusConnection connection = QDBusConnection::connectToBus(address_, name);
            if (connection.isConnected() || std::chrono::steady_clock::now() > until ||
                !daemon_->isRunning())
                return connection;
            QDBusConnection::disconnectFromBus(name);
            QTest::qWait(20);
        }
    }

    std::string log() const {
        std::ifstream file(folder_.path() / "bus.log");
        return {std::istreambuf_iterator<char>(file), {}};
    }

private:
    TemporaryFolder folder_{"vessora-bus"};
    std::optional<ManagedProcess> daemon_;
    QString address_;
    std::vector<QString> names_;
};

} // namespace vessora
