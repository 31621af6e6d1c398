// The strict version of an installed or published build: a version text of
// exactly three dot-separated numbers (each 0 to 999999, no leading zeros)
// and a build number from 1 to 2147483647. A value exists only when it
// passes these rules.
//
// Order: by the three numbers, then by build; the text itself takes no part
// in ordering, but does in equality (so two values can be neither less nor
// greater and still differ).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

class ReleaseVersion {
public:
    static constexpr std::int64_t maximumBuild = 2147483647;

    // Nothing when the text or the build breaks the rules.
    static std::optional<ReleaseVersion> make(std::string version, std::int64_t build);

    // The running build's own version: the short version text and the build
    // number as text (decimal digits with an optional leading "+" or "-",
    // nothing else). Nothing for a missing text or a value the rules refuse:
    // such a build is a development build.
    static std::optional<ReleaseVersion> fromBuildInfo(const std::optional<std::string>& version,
                                                       const std::optional<std::string>& build);

    // The numbers of a dotted text whose number of parts is one of `counts`;
    // nothing when the count or any part breaks the rules.
    static std::optional<std::vector<std::int64_t>>
    parts(std::string_view text, std::initializer_list<std::size_t> counts);

    const std::string& version() const { return version_; }
    std::int64_t build() const { return build_; }
    const std::array<std::int64_t, 3>& components() const { return components_; }

    // "1.4.0 (27)".
    std::string displayText() const;

    friend bool operator==(const ReleaseVersion&, const ReleaseVersion&) = default;
    friend bool operator<(const ReleaseVersion& a, const ReleaseVersion& b);
    friend bool operator>(const ReleaseVersion& a, const ReleaseVersion& b) { return b < a; }
    friend bool operator<=(const ReleaseVersion& a, const ReleaseVersion& b) { return !(b < a); }
    friend bool operator>=(const ReleaseVersion& a, const ReleaseVersion& b) { return !(a < b); }

private:
    ReleaseVersion(std::string version, std::int64_t build, std::array<std::int64_t, 3> components)
        : version_(std::move(version)), build_(build), components_(components) {}

    std::string version_;
    std::int64_t build_;
    std::array<std::int64_t, 3> components_;
};

} // namespace vessora
