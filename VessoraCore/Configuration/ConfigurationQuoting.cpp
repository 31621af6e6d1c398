#include "VessoraCore/Configuration/Configuration.hpp"

namespace vessora::Configuration {

namespace {

// Each character is escaped once: a backslash added for a quote is never
// doubled again, as if the replacements ran backslash first.
std::string escaped(std::string_view text, std::string_view special) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\\' || special.find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

std::string quoted2(std::string_view text) {
    return "\"" + escaped(text, "\"") + "\"";
}

std::string quoted3(std::string_view text) {
    return "\"" + escaped(text, "\"$") + "\"";
}

std::string phpLiteral(std::string_view text) {
    return "'" + escaped(text, "'") + "'";
}

} // namespace vessora::Configuration
