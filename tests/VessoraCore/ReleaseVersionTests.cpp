#include "VessoraCore/Updates/ReleaseVersion.hpp"

#include <gtest/gtest.h>

namespace vessora {
namespace {

ReleaseVersion version(const std::string& text, std::int64_t build) {
    auto made = ReleaseVersion::make(text, build);
    EXPECT_TRUE(made) << text << " " << build;
    return made.value();
}

TEST(ReleaseVersionTest, PartsFollowTheNumberRule) {
    using Parts = std::vector<std::int64_t>;
    EXPECT_EQ(ReleaseVersion::parts("1.2.3", {3}), (Parts{1, 2, 3}));
    EXPECT_EQ(ReleaseVersion::parts("0.0.999999", {3}), (Parts{0, 0, 999999}));
    EXPECT_EQ(ReleaseVersion::parts("14.2", {2, 3}), (Parts{14, 2}));
    EXPECT_EQ(ReleaseVersion::parts("14.2", {3}), std::nullopt);
    for (const char* refused : {"1.02.3", "1.2.1000000", "1..3", ".1.2", "1.2.", "1.2.-3", "1.2.+3",
                                "1.2. 3", "1.2.3 ", "1.2.3\n", "1.2.x", "1.2.\xd9\xa3", ""}) {
        EXPECT_EQ(ReleaseVersion::parts(refused, {3}), std::nullopt) << refused;
    }
    EXPECT_EQ(ReleaseVersion::parts("", {1}), std::nullopt);
    EXPECT_EQ(ReleaseVersion::parts("7", {1}), (Parts{7}));
}

TEST(ReleaseVersionTest, MakeNeedsThreePartsAndABuildInRange) {
    const auto made = ReleaseVersion::make("1.2.3", 1);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->version(), "1.2.3");
    EXPECT_EQ(made->build(), 1);
    EXPECT_EQ(made->components(), (std::array<std::int64_t, 3>{1, 2, 3}));
    EXPECT_TRUE(ReleaseVersion::make("1.2.3", 2147483647));
    for (const char* text : {"1.2", "1.2.3.4", "1.02.3", "1.2.1000000", "1..3"})
        EXPECT_FALSE(ReleaseVersion::make(text, 1)) << text;
    for (std::int64_t build : {std::int64_t(0), std::int64_t(-1), std::int64_t(2147483648)})
        EXPECT_FALSE(ReleaseVersion::make("1.2.3", build)) << build;
    EXPECT_EQ(version("1.4.0", 27).displayText(), "1.4.0 (27)");
}

TEST(ReleaseVersionTest, OrdersNumericallyThenByBuild) {
    EXPECT_LT(version("1.9.9", 100), version("1.10.0", 1));
    EXPECT_LT(version("1.2.0", 6), version("1.2.0", 7));
    EXPECT_GT(version("2.0.0", 1), version("1.999999.999999", 2147483647));
    EXPECT_LE(version("1.2.0", 7), version("1.2.0", 7));
    EXPECT_GE(version("1.2.0", 7), version("1.2.0", 7));
    EXPECT_FALSE(version("1.2.0", 7) < version("1.2.0", 7));
}

TEST(ReleaseVersionTest, BuildInfoOfTheRunningProgram) {
    EXPECT_EQ(ReleaseVersion::fromBuildInfo("1.4.0", "27"), version("1.4.0", 27));
    EXPECT_EQ(ReleaseVersion::fromBuildInfo("1.4.0", "+27"), version("1.4.0", 27));
    // A development build: missing, empty, non-numeric, zero, out of range,
    // or a version of two parts.
    EXPECT_FALSE(ReleaseVersion::fromBuildInfo(std::nullopt, "27"));
    EXPECT_FALSE(ReleaseVersion::fromBuildInfo("1.4.0", std::nullopt));
    for (const char* build : {"", "abc", "0", "-3", "27 ", " 27", "2.7", "+", "-", "++1",
                              "2147483648", "99999999999999999999"})
        EXPECT_FALSE(ReleaseVersion::fromBuildInfo("1.4.0", build)) << build;
    EXPECT_FALSE(ReleaseVersion::fromBuildInfo("1.4", "27"));
    EXPECT_FALSE(ReleaseVersion::fromBuildInfo("", "27"));
}

} // namespace
} // namespace vessora
