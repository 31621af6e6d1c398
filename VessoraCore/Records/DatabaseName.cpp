#include "VessoraCore/Records/DatabaseName.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <array>
#include <string>

namespace vessora::DatabaseName {

namespace {

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool matchesPattern(std::string_view name) {
    if (name.empty() || name.size() > 64) {
        return false;
    }
    if (!isLetter(name.front()) && name.front() != '_') {
        return false;
    }
    for (char c : name) {
        if (!isLetter(c) && !isDigit(c) && c != '_' && c != '-') {
            return false;
        }
    }
    return true;
}

bool isReserved(std::string_view name) {
    static constexpr std::array<std::string_view, 5> reserved{
        "mysql", "information_schema", "performance_schema", "sys", "vessora_internal"};
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    for (std::string_view system : reserved) {
        if (lower == system) {
            return true;
        }
    }
    return false;
}

} // namespace

std::size_t grantLength(std::string_view name) {
    std::size_t length = name.size();
    for (char c : name)
        if (c == '_' || c == '%')
            ++length;
    return length;
}

void validate(std::string_view name) {
    validateStored(name);
    if (grantLength(name) > 64)
        throw VessoraError(L10n::text("This database name is too long for its access grants, which "
                                      "count each underscore twice. Use at most 64 characters, "
                                      "underscores counted twice."));
}

void validateStored(std::string_view name) {
    if (!matchesPattern(name) || isReserved(name)) {
        throw VessoraError(L10n::text("Use 1–64 letters, numbers, underscores or hyphens for the "
                                      "database name. Start with a letter or underscore. System "
                                      "names are reserved."));
    }
}

} // namespace vessora::DatabaseName
