#include "VessoraHostProtocol/LocalHostname.hpp"

#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/UnicodeWhitespace.hpp"

#include <string_view>

namespace vessora::LocalHostname {
namespace {

bool validLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    return true;
}

bool valid(const std::string& text) {
    const auto normal = normalized(text);
    if (!normal || *normal != text || text.size() > maxLength)
        return false;
    std::size_t labels = 0;
    std::string_view last;
    std::string_view rest = text;
    while (true) {
        const std::size_t dot = rest.find('.');
        last = rest.substr(0, dot);
        ++labels;
        if (!validLabel(last))
            return false;
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    return labels >= 2 && (last == "test" || last == "local" || last == "localhost");
}

} // namespace

std::optional<std::string> normalized(std::optional<std::string> text) {
    if (!text)
        return std::nullopt;
    std::string result(UnicodeWhitespace::trimmed(*text));
    if (result.empty())
        return std::nullopt;
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

void validate(const std::string& text) {
    if (!valid(text))
        throw HostServiceError(HostServiceError::invalidHostname);
}

} // namespace vessora::LocalHostname
