#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"
#include "VessoraHostProtocol/UnicodeWhitespace.hpp"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

const char* const hostnameMessage =
    "Use a local hostname such as project.test (letters, numbers and hyphens).";

bool accepted(const std::string& name) {
    try {
        LocalHostname::validate(name);
        return true;
    } catch (const HostServiceError& error) {
        EXPECT_STREQ(error.what(), hostnameMessage);
        return false;
    }
}

} // namespace

TEST(LocalHostname, NormalizedTrimsAndLowerCases) {
    EXPECT_EQ(LocalHostname::normalized("  Shop.Test\n"), "shop.test");
    EXPECT_EQ(LocalHostname::normalized("\t\r\v\fAPI.Shop.LOCAL \n"), "api.shop.local");
    EXPECT_EQ(LocalHostname::normalized("shop.test"), "shop.test");
    EXPECT_EQ(LocalHostname::normalized("a b.test"), "a b.test"); // inner blanks stay
}

TEST(LocalHostname, NormalizedGivesNothingForNoTextOrOnlyBlanks) {
    EXPECT_EQ(LocalHostname::normalized(std::nullopt), std::nullopt);
    EXPECT_EQ(LocalHostname::normalized(""), std::nullopt);
    EXPECT_EQ(LocalHostname::normalized("   "), std::nullopt);
    EXPECT_EQ(LocalHostname::normalized(" \n\t\r\n"), std::nullopt);
    EXPECT_EQ(LocalHostname::normalized("\u00a0\u3000\u2028"), std::nullopt);
}

TEST(LocalHostname, NormalizedTrimsUnicodeSpaces) {
    // NEL, no-break space, ogham space, en quad ... hair space, line and
    // paragraph separators, narrow no-break, medium mathematical, ideographic.
    const std::string spaces = "\u0085\u00a0\u1680\u2000\u2005\u200a\u2028\u2029\u202f\u205f"
                               "\u3000";
    EXPECT_EQ(LocalHostname::normalized(spaces + "Shop.Test" + spaces), "shop.test");
    // Not white space: zero-width space, byte-order mark.
    EXPECT_EQ(LocalHostname::normalized("\u200bshop.test"), "\u200bshop.test");
    EXPECT_EQ(LocalHostname::normalized("shop.test\ufeff"), "shop.test\ufeff");
}

TEST(LocalHostname, NormalizedLeavesInvalidUTF8AsItIs) {
    EXPECT_EQ(LocalHostname::normalized(std::string(" \xe2\x80 ")), std::string("\xe2\x80"));
    EXPECT_EQ(LocalHostname::normalized(std::string("\xc2")), std::string("\xc2"));
    EXPECT_EQ(LocalHostname::normalized(std::string("\x80\xa0")), std::string("\x80\xa0"));
}

TEST(LocalHostname, AcceptsLocalNames) {
    EXPECT_TRUE(accepted("shop.test"));
    EXPECT_TRUE(accepted("api.shop.local"));
    EXPECT_TRUE(accepted("my-app.localhost"));
    EXPECT_TRUE(accepted("a1.b2.c3.test"));
    EXPECT_TRUE(accepted("0.test"));
}

TEST(LocalHostname, RefusesEverythingElse) {
    for (const char* name :
         {"Shop.test",  " shop.test", "shop.test ", "shop.test\n", "shop",
          "localhost",  "test",       "shop.dev",   "shop..test",  ".test",
          "shop.test.", "-shop.test", "shop-.test", "shop_1.test", "",
          "shop.TEST",  "sh op.test", "shöp.test",  "shop.test\t", "shop.-.test"})
        EXPECT_FALSE(accepted(name)) << name;
}

TEST(LocalHostname, LimitsNameAndLabelLengths) {
    const std::string label63(63, 'a');
    EXPECT_TRUE(accepted(label63 + ".test"));
    EXPECT_FALSE(accepted(label63 + "a.test"));

    // 63 + 1 + 63 + 1 + 63 + 1 + 56 + 1 + 4 = 253 bytes.
    const std::string name253 =
        label63 + "." + label63 + "." + label63 + "." + std::string(56, 'b') + ".test";
    ASSERT_EQ(name253.size(), 253u);
    EXPECT_TRUE(accepted(name253));
    const std::string name254 =
        label63 + "." + label63 + "." + label63 + "." + std::string(57, 'b') + ".test";
    ASSERT_EQ(name254.size(), 254u);
    EXPECT_FALSE(accepted(name254));
}

TEST(UnicodeWhitespace, SplitsIntoFieldsAtAnyWhiteSpace) {
    using Fields = std::vector<std::string_view>;
    EXPECT_EQ(UnicodeWhitespace::fields("127.0.0.1\tshop.test  api.test\r"),
              (Fields{"127.0.0.1", "shop.test", "api.test"}));
    EXPECT_EQ(UnicodeWhitespace::fields("a\u00a0b\u3000c"), (Fields{"a", "b", "c"}));
    EXPECT_EQ(UnicodeWhitespace::fields("  "), Fields{});
    EXPECT_EQ(UnicodeWhitespace::fields(""), Fields{});
    EXPECT_EQ(UnicodeWhitespace::fields("ä"), Fields{"ä"});
}

TEST(UnicodeWhitespace, TrimsOnlyTheEnds) {
    EXPECT_EQ(UnicodeWhitespace::trimmed(" \t# BEGIN Vessora user 501 \r"),
              "# BEGIN Vessora user 501");
    EXPECT_EQ(UnicodeWhitespace::trimmed("\u2029x\u2029"), "x");
    EXPECT_EQ(UnicodeWhitespace::trimmed("ä\u00a0"), "ä");
    EXPECT_EQ(UnicodeWhitespace::trimmed("\u00a0"), "");
}
