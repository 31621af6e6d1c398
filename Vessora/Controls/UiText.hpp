// Conversions between the engine's UTF-8 texts and Qt's strings, so a view
// reads `toQt(L10n::text("Cancel"))` with the key written out in the call.
#pragma once

#include <QString>

#include <string>

namespace vessora {

inline QString toQt(const std::string& text) {
    return QString::fromStdString(text);
}

inline std::string fromQt(const QString& text) {
    return text.toStdString();
}

} // namespace vessora
