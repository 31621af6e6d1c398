#include "Vessora/App/DesktopServices.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <mutex>

namespace vessora {

namespace {

class SystemDesktopServices final : public DesktopServices {
public:
    bool openURL(const std::string& url) override {
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    }

    bool openPath(const std::filesystem::path& path) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }

    bool showInFileManager(const std::filesystem::path& path) override {
        auto bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
            call << QStringList{QUrl::fromLocalFile(QString::fromStdString(path)).toString()}
                 << QString();
            // Short: a missing file manager must not hold the window.
            if (bus.call(call, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage)
                return true;
        }
        return openPath(path.parent_path());
    }
};

std::mutex instanceMutex;
std::shared_ptr<DesktopServices>& instance() {
    static std::shared_ptr<DesktopServices> services;
    return services;
}

} // namespace

DesktopServices& DesktopServices::current() {
    std::lock_guard lock(instanceMutex);
    auto& services = instance();
    if (!services)
        services = std::make_shared<SystemDesktopServices>();
    return *services;
}

void DesktopServices::setCurrent(std::shared_ptr<DesktopServices> services) {
    std::lock_guard lock(instanceMutex);
    instance() = std::move(services);
}

} // namespace vessora
