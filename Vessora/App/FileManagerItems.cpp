#include "Vessora/App/FileManagerItems.hpp"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vessora::FileManagerItems {

void show(const QDBusConnection& bus, const std::filesystem::path& file, Fallback fallback,
          std::chrono::milliseconds timeout) {
    const std::filesystem::path folder = file.parent_path();
    if (!bus.isConnected()) {
        fallback(folder);
        return;
    }
    auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                               "/org/freedesktop/FileManager1",
                                               "org.freedesktop.FileManager1", "ShowItems");
    // No startup notification id: the file manager raises its own window.
    call << QStringList{QUrl::fromLocalFile(QString::fromStdString(file.string()))
                            .toString(QUrl::FullyEncoded)}
         << QString();
    // The window never waits for a file manager that is slow to start.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, static_cast<int>(timeout.count())), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, folder, fallback = std::move(fallback)] {
                         if (watcher->isError())
                             fallback(folder);
                         watcher->deleteLater();
                     });
}

} // namespace vessora::FileManagerItems
