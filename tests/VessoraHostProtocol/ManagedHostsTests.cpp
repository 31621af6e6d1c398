#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

const std::string damaged = "The Vessora hosts section is damaged. Restore it before continuing.";
const std::string conflict =
    "A hostname is already present in another hosts entry. Choose a different name.";

const std::string systemLines = "127.0.0.1\tlocalhost\n::1\tlocalhost\n";

// The sentence replacing() throws, or "" when it succeeds.
std::string refusal(std::string_view text, std::uint32_t user,
                    const std::vector<std::string>& names) {
    try {
        ManagedHosts::replacing(text, user, names);
        return "";
    } catch (const HostServiceError& error) {
        return error.what();
    }
}

} // namespace

TEST(ManagedHosts, SectionText) {
    EXPECT_EQ(ManagedHosts::section(501, {"a.test", "b.test"}),
              "# BEGIN Vessora user 501\n127.0.0.1\ta.test\n127.0.0.1\tb.test\n"
              "# END Vessora user 501\n");
    EXPECT_EQ(ManagedHosts::section(0, {"a.test"}),
              "# BEGIN Vessora user 0\n127.0.0.1\ta.test\n# END Vessora user 0\n");
    EXPECT_EQ(ManagedHosts::section(4294967295u, {"a.test"}),
              "# BEGIN Vessora user 4294967295\n127.0.0.1\ta.test\n"
              "# END Vessora user 4294967295\n");
    EXPECT_EQ(ManagedHosts::section(501, {}), "");
}

TEST(ManagedHosts, AppendsASortedSectionToAFileWithoutOne) {
    EXPECT_EQ(ManagedHosts::replacing(systemLines, 501, {"b.test", "a.test"}),
              systemLines + ManagedHosts::section(501, {"a.test", "b.test"}));
}

TEST(ManagedHosts, EmptyFileBecomesExactlyTheSection) {
    EXPECT_EQ(ManagedHosts::replacing("", 501, {"shop.test"}),
              ManagedHosts::section(501, {"shop.test"}));
    EXPECT_EQ(ManagedHosts::replacing("", 501, {}), "");
}

TEST(ManagedHosts, AddsALineFeedAfterALastLineWithoutOne) {
    EXPECT_EQ(ManagedHosts::replacing("127.0.0.1 localhost", 501, {"shop.test"}),
              "127.0.0.1 localhost\n" + ManagedHosts::section(501, {"shop.test"}));
    // Without names nothing is added, not even the line feed.
    EXPECT_EQ(ManagedHosts::replacing("127.0.0.1 localhost", 501, {}), "127.0.0.1 localhost");
}

TEST(ManagedHosts, ReplacingTwiceGivesTheSameText) {
    const std::string once = ManagedHosts::replacing(systemLines, 501, {"a.test", "b.test"});
    EXPECT_EQ(ManagedHosts::replacing(once, 501, {"a.test", "b.test"}), once);
}

TEST(ManagedHosts, OnlyTheUsersSectionAndNoNamesBecomesEmpty) {
    EXPECT_EQ(ManagedHosts::replacing(ManagedHosts::section(501, {"a.test"}), 501, {}), "");
}

TEST(ManagedHosts, RemovingNamesLeavesTheRestByteForByte) {
    const std::string text = systemLines + ManagedHosts::section(501, {"a.test"});
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {}), systemLines);
}

TEST(ManagedHosts, SectionInTheMiddleMovesToTheEnd) {
    const std::string before = "# head\n127.0.0.1 localhost\n";
    const std::string after = "10.0.0.5 nas\n# tail";
    const std::string text = before + ManagedHosts::section(501, {"old.test"}) + after;
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {"new.test"}),
              before + after + "\n" + ManagedHosts::section(501, {"new.test"}));
}

TEST(ManagedHosts, OtherUsersSectionsStayUntouched) {
    const std::string others =
        ManagedHosts::section(502, {"theirs.test"}) + ManagedHosts::section(5012, {"more.test"});
    const std::string text = systemLines + ManagedHosts::section(501, {"mine.test"}) + others;
    const std::string result = ManagedHosts::replacing(text, 501, {"mine.test", "new.test"});
    EXPECT_EQ(result, systemLines + others + ManagedHosts::section(501, {"mine.test", "new.test"}));
    // Each user edits only their own section.
    EXPECT_EQ(ManagedHosts::replacing(result, 502, {}),
              systemLines + ManagedHosts::section(5012, {"more.test"}) +
                  ManagedHosts::section(501, {"mine.test", "new.test"}));
}

TEST(ManagedHosts, KeepsCarriageReturnsAndRecognisesMarkersBesideThem) {
    const std::string text = "127.0.0.1 localhost\r\n# BEGIN Vessora user 501\r\n"
                             "127.0.0.1\told.test\r\n# END Vessora user 501\r\n::1 localhost\r\n";
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {"new.test"}),
              "127.0.0.1 localhost\r\n::1 localhost\r\n" +
                  ManagedHosts::section(501, {"new.test"}));
    // A CRLF file without a final line break.
    EXPECT_EQ(ManagedHosts::replacing("127.0.0.1 localhost\r\n::1 localhost", 501, {"a.test"}),
              "127.0.0.1 localhost\r\n::1 localhost\n" + ManagedHosts::section(501, {"a.test"}));
}

TEST(ManagedHosts, RecognisesMarkersWithBlanksAround) {
    const std::string text =
        " \t# BEGIN Vessora user 501 \n127.0.0.1 a.test\n\t# END Vessora user 501\u00a0\n";
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {}), "");
}

TEST(ManagedHosts, ForeignEditsAroundAndInsideTheSectionAreHandled) {
    // Lines added inside the section by hand are dropped with it; lines
    // around it stay where they are.
    const std::string text = "# admin note\n# BEGIN Vessora user 501\n127.0.0.1\ta.test\n"
                             "10.1.1.1 hand-added.example\n# END Vessora user 501\n"
                             "192.168.1.2 printer\n";
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {"a.test"}),
              "# admin note\n192.168.1.2 printer\n" + ManagedHosts::section(501, {"a.test"}));
}

TEST(ManagedHosts, DamagedSections) {
    const std::string section = ManagedHosts::section(501, {"a.test"});
    EXPECT_EQ(refusal(section + section, 501, {}), damaged); // second begin line
    EXPECT_EQ(refusal("# END Vessora user 501\n", 501, {}), damaged);
    EXPECT_EQ(refusal("# BEGIN Vessora user 501\n127.0.0.1 a.test\n", 501, {}), damaged);
    EXPECT_EQ(refusal("# BEGIN Vessora user 501\n# BEGIN Vessora user 5012\n"
                      "# END Vessora user 501\n",
                      501, {}),
              damaged);
    EXPECT_EQ(refusal("# BEGIN Vessora user 501\n# END Vessora user 7\n# END Vessora user 501\n",
                      501, {}),
              damaged);
    EXPECT_EQ(refusal("# BEGIN Vessora user 501\n# BEGIN Vessora user x\n"
                      "# END Vessora user 501\n",
                      501, {}),
              damaged);
    // Another user's broken section is not this user's business.
    EXPECT_EQ(refusal("# BEGIN Vessora user 502\n", 501, {}), "");
    EXPECT_EQ(ManagedHosts::replacing("# END Vessora user 502\n", 501, {}),
              "# END Vessora user 502\n");
}

TEST(ManagedHosts, NameValidationComesFirst) {
    EXPECT_EQ(refusal("# END Vessora user 501\n", 501, {"Bad"}),
              "Use a local hostname such as project.test (letters, numbers and hyphens).");
    EXPECT_EQ(refusal("", 501, {"a.test", "a.test"}), "Invalid local host configuration.");
    std::vector<std::string> many;
    for (int i = 0; i < 201; ++i)
        many.push_back(std::to_string(i) + ".n.test");
    EXPECT_EQ(refusal("", 501, many), "Invalid local host configuration.");
}

TEST(ManagedHosts, DamageComesBeforeConflicts) {
    EXPECT_EQ(refusal("10.0.0.5 a.test\n# END Vessora user 501\n", 501, {"a.test"}), damaged);
}

TEST(ManagedHosts, NamesUnderOtherAddressesConflict) {
    EXPECT_EQ(refusal("10.0.0.5 a.test\n", 501, {"a.test"}), conflict);
    EXPECT_EQ(refusal("::1 localhost a.test\n", 501, {"a.test"}), conflict);
    EXPECT_EQ(refusal("127.0.0.2\tA.Test\n", 501, {"a.test"}), conflict);
    EXPECT_EQ(refusal("127.0.0.1 a.test\n", 501, {"b.test"}), "");
}

TEST(ManagedHosts, AHandWrittenLoopbackLineSatisfiesTheName) {
    const std::string text = "127.0.0.1 localhost Shop.Test\n";
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {"shop.test"}), text);
    EXPECT_EQ(ManagedHosts::replacing(text, 501, {"shop.test", "api.test"}),
              text + ManagedHosts::section(501, {"api.test"}));
}

TEST(ManagedHosts, AnyOtherSectionMakesEveryMatchAConflict) {
    const std::string other = ManagedHosts::section(502, {"x.test"});
    EXPECT_EQ(refusal("127.0.0.1 shop.test\n" + other, 501, {"shop.test"}), conflict);
    EXPECT_EQ(refusal(ManagedHosts::section(502, {"shop.test"}), 501, {"shop.test"}), conflict);
    // The user's own old section holds no conflict: it is removed first.
    EXPECT_EQ(refusal(other + ManagedHosts::section(501, {"shop.test"}), 501, {"shop.test"}), "");
}

TEST(ManagedHosts, CommentsHoldNoEntries) {
    EXPECT_EQ(refusal("# 10.0.0.5 shop.test\n", 501, {"shop.test"}), "");
    EXPECT_EQ(refusal("10.0.0.5 nas # shop.test\n", 501, {"shop.test"}), "");
    EXPECT_EQ(refusal("10.0.0.5 shop.test# trailing\n", 501, {"shop.test"}), conflict);
}

TEST(ManagedHosts, SingleFieldLinesAreSkipped) {
    EXPECT_EQ(refusal("shop.test\n", 501, {"shop.test"}), "");
}
