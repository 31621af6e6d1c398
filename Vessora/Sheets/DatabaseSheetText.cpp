#include "Vessora/Sheets/DatabaseSheetText.hpp"

#include "VessoraCore/Foundation/UnicodeText.hpp"

#include <QString>

namespace vessora::DatabaseSheetText {

bool same(const std::string& first, const std::string& second) {
    if (first == second)
        return true;
    // Bytes that do not decode are compared as they are.
    if (!UnicodeText::isValidUTF8(first) || !UnicodeText::isValidUTF8(second))
        return false;
    // Compared in composed form, so "é" typed as one or as two code points
    // is the same text.
    return QString::fromStdString(first).normalized(QString::NormalizationForm_C) ==
           QString::fromStdString(second).normalized(QString::NormalizationForm_C);
}

} // namespace vessora::DatabaseSheetText
