#include "Vessora/App/DesktopServices.hpp"

#include "Vessora/App/FileManagerItems.hpp"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <mutex>

namespace vessora {

namespace {

bool openLocal(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

class SystemDesktopServices final : public DesktopServices {
public:
    bool openURL(const std::string& url) override {
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    }

    bool openPath(const std::filesystem::path& path) override { return openLocal(path); }

    bool showInFileManager(const std::filesystem::path& path,
                           std::function<void()> refused) override {
        // The answer may come after these services were replaced.
        FileManagerItems::show(QDBusConnection::sessionBus(), path,
                               [refused = std::move(refused)](const std::filesystem::path& folder) {
                                   if (!openLocal(folder) && refused)
                                       refused();
                               });
        return true;
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
