// Shows a file selected in the desktop's file manager through the
// freedesktop org.freedesktop.FileManager1 interface on the session bus
// ("ShowItems" with the file's URI). The call does not wait: when no file
// manager answers on that bus (none connected, no such service, an error or
// no answer within `timeout`), `fallback` runs on the main thread with the
// folder that holds the file, so the caller can open that instead.
#pragma once

#include <QDBusConnection>

#include <chrono>
#include <filesystem>
#include <functional>

namespace vessora::FileManagerItems {

using Fallback = std::function<void(const std::filesystem::path& folder)>;

void show(const QDBusConnection& bus, const std::filesystem::path& file, Fallback fallback,
          std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace vessora::FileManagerItems
