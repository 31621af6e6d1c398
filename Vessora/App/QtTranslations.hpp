// Qt's own texts (standard dialogs, the line edits' context menus) in the
// interface language: Debian's "qtbase_<code>.qm" from Qt's translations
// folder. Loaded once at start, like the system's standard menus follow the
// language chosen at the last start.
#pragma once

#include <string>

namespace vessora::QtTranslations {

// Installs the translation for `code` ("de", "fr", "it") on the running
// application; English needs none. Returns whether one was installed.
bool install(const std::string& code);

} // namespace vessora::QtTranslations
