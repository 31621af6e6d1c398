#include "VessoraCore/Import/SQLDumpDelimiter.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vessora::SQLDumpDelimiter {

namespace {

constexpr std::string_view command = "DELIMITER ";

bool allowed(UChar32 c) {
    return !u_hasBinaryProperty(c, UCHAR_ALPHABETIC) &&
           u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) == U_NT_NONE &&
           !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) && c != '\'' && c != '"' && c != '`' &&
           c != '\\';
}

[[noreturn]] void refuse() {
    throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
}

} // namespace

bool isCommand(std::string_view line) {
    const std::string text = UnicodeText::trimmed(line.substr(0, examinedLine));
    if (text.size() < command.size())
        return false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != command[i])
            return false;
    }
    return true;
}

std::string delimiter(std::string_view line) {
    const std::string text = UnicodeText::trimmed(line.substr(0, examinedLine));
    const std::string result = UnicodeText::trimmed(std::string_view(text).substr(command.size()));
    // Bytes that do not decode would reach the client as they are, not as
    // the replacement character: refused like any other odd delimiter.
    if (result.empty() || result.size() > longest || !UnicodeText::isValidUTF8(result))
        refuse();
    const auto* bytes = reinterpret_cast<const uint8_t*>(result.data());
    const auto length = static_cast<int32_t>(result.size());
    for (int32_t offset = 0; offset < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        if (c < 0 || !allowed(c))
            refuse();
    }
    return result;
}

} // namespace vessora::SQLDumpDelimiter
