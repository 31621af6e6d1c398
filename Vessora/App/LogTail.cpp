#include "Vessora/App/LogTail.hpp"

#include "VessoraCore/Process/LogText.hpp"

#include <QString>
#include <QTextBoundaryFinder>

#include <system_error>

namespace vessora::LogTail {

std::string lastCharacters(const std::filesystem::path& file, std::size_t characters,
                           std::uintmax_t start) {
    std::error_code error;
    const std::uintmax_t fileSize = std::filesystem::file_size(file, error);
    const std::uintmax_t size = start > fileSize ? fileSize : fileSize - start;
    if (error || size == 0 || characters == 0)
        return "";
    // Most log characters are one byte; four per character covers most text
    // in one read.
    std::uintmax_t chunk = characters * 4;
    try {
        for (;;) {
            const bool whole = chunk >= size;
            const QString text =
                QString::fromStdString(LogText::tail(file, static_cast<std::size_t>(chunk), start));
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
            finder.toEnd();
            std::size_t counted = 0;
            qsizetype first = text.size();
            while (counted < characters) {
                const qsizetype previous = finder.toPreviousBoundary();
                if (previous < 0)
                    break;
                first = previous;
                ++counted;
            }
            // A character that reaches back to the chunk's start may have
            // been cut: only the whole file proves it complete.
            if (whole || (counted == characters && first > 0))
                return text.mid(first).toStdString();
            chunk *= 4;
        }
    } catch (const std::exception&) {
        return "";
    }
}

} // namespace vessora::LogTail
