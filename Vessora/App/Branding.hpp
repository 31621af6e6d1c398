// The application's own images and links. The sidebar logo is
// "Branding/vessora-icon-dark-v1.png" beside the string tables; the
// application icon is "vessora" from the icon theme (installed in hicolor),
// else the copy bundled under "Icons/vessora.png".
#pragma once

#include <QIcon>
#include <QPixmap>

#include <string>

namespace vessora::Branding {

// The maker's donation page, opened by the sidebar's support link.
std::string supportURL();

// The sidebar logo, loaded once; a null pixmap when the file is missing.
const QPixmap& icon();

// The window and application icon.
QIcon appIcon();

} // namespace vessora::Branding
