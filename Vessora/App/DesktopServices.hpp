// What the interface hands to the desktop: opening a web address in the
// default browser, opening a file or folder with its default application,
// and showing a file selected in the file manager. One replaceable instance,
// so tests record what would open instead of opening it.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vessora {

class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // Each returns whether the desktop accepted the request.
    virtual bool openURL(const std::string& url) = 0;
    virtual bool openPath(const std::filesystem::path& path) = 0;
    // The file selected in the file manager through the freedesktop
    // FileManager1 interface on the session bus where a file manager offers
    // it, else its folder opened. Asks without waiting for the answer, so
    // it returns true once the request is on its way; `refused` runs later
    // on the main thread when neither the file manager nor the folder's
    // opener took it.
    virtual bool showInFileManager(const std::filesystem::path& path,
                                   std::function<void()> refused) = 0;

    // The desktop's own services unless a test set others.
    static DesktopServices& current();
    // None restores the desktop's own.
    static void setCurrent(std::shared_ptr<DesktopServices> services);
};

} // namespace vessora
