#include "VessoraCore/Import/SQLDumpDelimiter.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/SQLDumpClientText.hpp"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vessora::SQLDumpDelimiter {

namespace {

using SQLDumpClientText::isBlank;

bool allowed(UChar32 c) {
    return !u_hasBinaryProperty(c, UCHAR_ALPHABETIC) &&
           u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) == U_NT_NONE &&
           !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) && !u_iscntrl(c) && c != '\'' && c != '"' &&
           c != '`' && c != '\\';
}

[[noreturn]] void refuse() {
    throw VessoraError(L10n::text("The dump uses an unsupported SQL delimiter."));
}

std::size_t skipBlanks(std::string_view text, std::size_t at) {
    while (at < text.size() && isBlank(static_cast<unsigned char>(text[at])))
        ++at;
    return at;
}

bool isPlainName(std::string_view word) {
    constexpr std::string_view name = "delimiter";
    if (word.size() != name.size())
        return false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        if ((word[k] | 0x20) != name[k])
            return false;
    }
    return true;
}

void check(std::string_view delimiter) {
    // Bytes that do not decode would reach the client as they are, not as
    // the replacement character: refused like any other odd delimiter.
    if (delimiter.empty() || !UnicodeText::isValidUTF8(delimiter))
        refuse();
    // The client takes a character of several bytes whole, never looking
    // for a delimiter at its start: one that begins so would never end a
    // statement there.
    if (static_cast<unsigned char>(delimiter.front()) >= 0x80)
        refuse();
    const auto* bytes = reinterpret_cast<const uint8_t*>(delimiter.data());
    const auto length = static_cast<int32_t>(delimiter.size());
    for (int32_t offset = 0; offset < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        if (c < 0 || !allowed(c))
            refuse();
    }
}

} // namespace

bool isCommand(std::string_view text) {
    return SQLDumpClientText::startsWithCommandName(text.substr(skipBlanks(text, 0)));
}

std::string delimiter(std::string_view text, bool line) {
    if (text.size() > examinedLine)
        refuse();
    const std::size_t nameStart = skipBlanks(text, 0);
    std::size_t nameEnd = nameStart;
    while (nameEnd < text.size() && !isBlank(static_cast<unsigned char>(text[nameEnd])))
        ++nameEnd;
    if (!isPlainName(text.substr(nameStart, nameEnd - nameStart)))
        refuse();
    const std::size_t start = skipBlanks(text, nameEnd);
    const std::size_t end = std::min(text.find(' ', start), text.size());
    if (skipBlanks(text, end) != text.size())
        refuse(); // more after the delimiter, which the client would ignore
    // A statement's text may end in a line feed that the client adds and
    // keeps in the delimiter: only one ended by a space is certain.
    if (!line && end == text.size())
        refuse();
    std::string result(text.substr(start, end - start));
    const bool carriageReturn =
        line && end == text.size() && result.size() > 1 && result.back() == '\r';
    check(std::string_view(result).substr(0, result.size() - (carriageReturn ? 1 : 0)));
    if (result.size() > longest)
        refuse();
    return result;
}

} // namespace vessora::SQLDumpDelimiter
