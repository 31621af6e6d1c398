// Icons by their freedesktop names. The desktop's icon theme answers first;
// where no theme is named (the offscreen platform names none) the
// Adwaita theme is used, and after it an image bundled with the
// program under "Icons/<name>.png" in the resource folder.
#pragma once

#include <QIcon>

#include <string>

namespace vessora::Icons {

QIcon named(const std::string& freedesktopName);

} // namespace vessora::Icons
