#include "VessoraCore/Updates/ReleaseVersion.hpp"

#include <algorithm>
#include <charconv>

namespace vessora {
namespace {

// "0", or one to six digits without a leading zero.
bool isPart(std::string_view piece) {
    if (piece.empty() || piece.size() > 6)
        return false;
    if (!std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return piece == "0" || piece.front() != '0';
}

// A whole decimal integer with an optional sign; nothing on overflow.
std::optional<std::int64_t> integer(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    const std::uint64_t limit = negative ? std::uint64_t(INT64_MAX) + 1 : std::uint64_t(INT64_MAX);
    if (magnitude > limit)
        return std::nullopt;
    if (negative)
        return magnitude == limit ? INT64_MIN : -std::int64_t(magnitude);
    return std::int64_t(magnitude);
}

} // namespace

std::optional<std::vector<std::int64_t>>
ReleaseVersion::parts(std::string_view text, std::initializer_list<std::size_t> counts) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t dot = text.find('.', start);
        pieces.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (std::find(counts.begin(), counts.end(), pieces.size()) == counts.end())
        return std::nullopt;
    std::vector<std::int64_t> numbers;
    for (std::string_view piece : pieces) {
        if (!isPart(piece))
            return std::nullopt;
        numbers.push_back(*integer(piece));
    }
    return numbers;
}

std::optional<ReleaseVersion> ReleaseVersion::make(std::string version, std::int64_t build) {
    const auto numbers = parts(version, {3});
    if (!numbers || build < 1 || build > maximumBuild)
        return std::nullopt;
    return ReleaseVersion(std::move(version), build, {(*numbers)[0], (*numbers)[1], (*numbers)[2]});
}

std::optional<ReleaseVersion>
ReleaseVersion::fromBuildInfo(const std::optional<std::string>& version,
                              const std::optional<std::string>& build) {
    if (!version || !build)
        return std::nullopt;
    const auto number = integer(*build);
    if (!number)
        return std::nullopt;
    return make(*version, *number);
}

std::string ReleaseVersion::displayText() const {
    return version_ + " (" + std::to_string(build_) + ")";
}

bool operator<(const ReleaseVersion& a, const ReleaseVersion& b) {
    if (a.components_ == b.components_)
        return a.build_ < b.build_;
    return a.components_ < b.components_;
}

} // namespace vessora
