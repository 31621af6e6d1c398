#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/UnicodeWhitespace.hpp"

#include <algorithm>
#include <set>

namespace vessora::ManagedHosts {
namespace {

// The pieces between line feeds: n line feeds give n + 1 pieces.
std::vector<std::string_view> pieces(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (true) {
        const std::size_t feed = text.find('\n', start);
        if (feed == std::string_view::npos) {
            result.push_back(text.substr(start));
            return result;
        }
        result.push_back(text.substr(start, feed - start));
        start = feed + 1;
    }
}

std::string lowercasedASCII(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// The text without the user's own section; throws when that section is damaged.
std::string withoutSection(std::string_view text, std::string_view beginLine,
                           std::string_view endLine) {
    const auto damaged = [] { throw HostServiceError(HostServiceError::hostsSectionDamaged); };
    const auto all = pieces(text);
    std::string kept;
    kept.reserve(text.size());
    bool inside = false;
    bool seen = false;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string_view trimmed = UnicodeWhitespace::trimmed(all[i]);
        if (trimmed == beginLine) {
            if (inside || seen)
                damaged();
            inside = seen = true;
        } else if (trimmed == endLine) {
            if (!inside)
                damaged();
            inside = false;
        } else if (inside) {
            if (trimmed.starts_with(beginPrefix) || trimmed.starts_with(endPrefix))
                damaged();
        } else {
            kept += all[i];
            if (i + 1 < all.size())
                kept += '\n';
        }
    }
    if (inside)
        damaged();
    return kept;
}

// The requested names that a hand-written 127.0.0.1 line already holds;
// throws when a requested name stands in any other entry.
std::set<std::string> alreadyPresent(std::string_view kept,
                                     const std::vector<std::string>& hostnames) {
    const std::set<std::string, std::less<>> requested(hostnames.begin(), hostnames.end());
    const bool anySection = kept.find(beginPrefix) != std::string_view::npos;
    std::set<std::string> present;
    for (std::string_view line : pieces(kept)) {
        line = line.substr(0, line.find('#'));
        const auto fields = UnicodeWhitespace::fields(line);
        if (fields.size() < 2)
            continue;
        for (std::size_t i = 1; i < fields.size(); ++i) {
            std::string name = lowercasedASCII(fields[i]);
            if (!requested.contains(name))
                continue;
            if (fields[0] != "127.0.0.1" || anySection)
                throw HostServiceError(HostServiceError::hostnameTaken);
            present.insert(std::move(name));
        }
    }
    return present;
}

} // namespace

std::string section(std::uint32_t userID, const std::vector<std::string>& hostnames) {
    if (hostnames.empty())
        return {};
    const std::string user = std::to_string(userID);
    std::string text;
    text.append(beginPrefix).append(user).append("\n");
    for (const auto& name : hostnames)
        text.append("127.0.0.1\t").append(name).append("\n");
    text.append(endPrefix).append(user).append("\n");
    return text;
}

std::string replacing(std::string_view text, std::uint32_t userID,
                      const std::vector<std::string>& hostnames) {
    HostServiceRequest(hostnames, false).validate();
    const std::string user = std::to_string(userID);
    const std::string beginLine = std::string(beginPrefix) + user;
    const std::string endLine = std::string(endPrefix) + user;

    std::string kept = withoutSection(text, beginLine, endLine);
    const auto present = alreadyPresent(kept, hostnames);
    std::vector<std::string> names;
    for (const auto& name : hostnames) {
        if (!present.contains(name))
            names.push_back(name);
    }
    if (names.empty())
        return kept;
    std::sort(names.begin(), names.end());
    if (!kept.empty() && kept.back() != '\n')
        kept += '\n';
    kept += section(userID, names);
    return kept;
}

} // namespace vessora::ManagedHosts
