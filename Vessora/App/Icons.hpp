// Icons by their freedesktop names. The desktop's icon theme answers first;
// where no theme is named (the offscreen platform names none) the
// Adwaita theme is used, and so is it for a name the desktop's theme lacks;
// after it an image bundled with the program under "Icons/<name>.png" in
// the resource folder.
#pragma once

#include <QColor>
#include <QIcon>

#include <string>

namespace vessora::Icons {

// Starts reading the theme's folders of symbolic images on a thread of its
// own; symbolic() otherwise reads each the first time it looks there. Call
// it once the application object exists.
void prefetch();

QIcon named(const std::string& freedesktopName);

// The theme's symbolic (single-colour) form of the icon, drawn in `colour`,
// the way desktops tint symbolic icons to the text beside them. Themes keep
// these as "<name>-symbolic.symbolic.png", which a name lookup never finds;
// where the theme has none, the icon of named() is used as it is.
QIcon symbolic(const std::string& freedesktopName, const QColor& colour);
// The same, drawn in `disabledColour` where its control is disabled.
QIcon symbolic(const std::string& freedesktopName, const QColor& colour,
               const QColor& disabledColour);

} // namespace vessora::Icons
