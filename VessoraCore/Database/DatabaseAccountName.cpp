#include "VessoraCore/Database/DatabaseAccountName.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <array>
#include <string>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace vessora::DatabaseAccountName {

namespace {

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string lowercased(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

} // namespace

bool matchesPattern(std::string_view name) {
    if (name.empty() || name.size() > 80)
        return false;
    if (!isLetter(name.front()) && name.front() != '_')
        return false;
    for (const char c : name)
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '_' && c != '-')
            return false;
    return true;
}

bool reserved(std::string_view name, std::string_view administrator) {
    static constexpr std::array<std::string_view, 6> builtIn{"root",   "mysql",   "mariadb.sys",
                                                             "public", "vessora", "vessora_admin"};
    const std::string lower = lowercased(name);
    for (const std::string_view reservedName : builtIn)
        if (lower == reservedName)
            return true;
    return lower == lowercased(administrator);
}

void validateNew(std::string_view name, std::string_view administrator) {
    if (!matchesPattern(name) || reserved(name, administrator))
        throw VessoraError(L10n::text("Use 1–80 letters, numbers, underscores or hyphens for the "
                                      "user name. Start with a letter or underscore. Built-in "
                                      "names are reserved."));
}

} // namespace vessora::DatabaseAccountName
