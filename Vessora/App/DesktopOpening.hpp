// What a view opens on the desktop goes through here, never straight to
// DesktopServices: when the desktop refuses (no browser, no file manager, no
// application for the file), an alert over the asking view's window says
// what could not be opened, with the address or path selectable so the user
// can copy it and open it by hand.
#pragma once

#include <filesystem>
#include <string>

class QWidget;

namespace vessora::DesktopOpening {

// A web address in the default browser.
void openURL(QWidget* asker, const std::string& url);
// A file in its default application, a folder in the file manager.
void openPath(QWidget* asker, const std::filesystem::path& path);
// The file selected in the file manager (or its folder opened).
void showInFileManager(QWidget* asker, const std::filesystem::path& path);

} // namespace vessora::DesktopOpening
