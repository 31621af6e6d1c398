// Internal to the generators: a text built from whole lines, joined with one
// line feed each and no line feed at the end.
#pragma once

#include <initializer_list>
#include <string>

namespace vessora::Configuration {

inline std::string joinedLines(std::initializer_list<std::string> lines) {
    std::string text;
    bool first = true;
    for (const auto& line : lines) {
        if (!first)
            text += '\n';
        first = false;
        text += line;
    }
    return text;
}

} // namespace vessora::Configuration
