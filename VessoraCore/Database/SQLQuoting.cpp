#include "VessoraCore/Database/SQLQuoting.hpp"

namespace vessora::SQLQuoting {

namespace {

std::string enclosed(std::string_view text, char quote) {
    std::string result(1, quote);
    for (const char c : text) {
        result += c;
        if (c == quote)
            result += quote;
    }
    return result + quote;
}

} // namespace

std::string stringLiteral(std::string_view text) {
    return enclosed(text, '\'');
}

std::string accountLiteral(std::string_view name, std::string_view host) {
    return stringLiteral(name) + "@" + stringLiteral(host);
}

std::string identifier(std::string_view name) {
    return enclosed(name, '`');
}

std::string escapedSchema(std::string_view database) {
    std::string result;
    for (const char c : database) {
        if (c == '_')
            result += '\\';
        result += c;
    }
    return result;
}

std::string grantPattern(std::string_view database) {
    return identifier(escapedSchema(database));
}

} // namespace vessora::SQLQuoting
