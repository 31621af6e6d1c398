// The application's own images and links, all from the resource bundle
// beside the string tables: the sidebar logo
// "Branding/vessora-icon-dark-v1.png", and the application icon
// "Branding/hicolor/<size>/apps/vessora.png" at each size drawn (the same
// files the desktop's hicolor theme gets on install).
#pragma once

#include <QIcon>
#include <QPixmap>

#include <string>

namespace vessora::Branding {

// The maker's donation page, opened by the sidebar's support link.
std::string supportURL();

// Starts reading the images on a thread of their own, so the window that
// shows them need not wait for their decoding. Call it once the application
// object exists; the images are read at first use without it.
void prefetch();

// The sidebar logo, loaded once; a null pixmap when the file is missing.
const QPixmap& icon();

// The application icon at every size, loaded once; null when no size is
// found.
const QIcon& appIcon();

// The same up to 256 pixels, for the windows: X copies each size into a
// window's properties, twice as the window is made, and the largest size
// alone would be a megabyte per copy that no window manager draws.
const QIcon& windowIcon();

} // namespace vessora::Branding
