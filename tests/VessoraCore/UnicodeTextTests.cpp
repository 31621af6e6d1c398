// The control-character set every text rule shares (names, folders,
// passwords): general categories Cc and Cf, and text that is not UTF-8.
#include "VessoraCore/Foundation/UnicodeText.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

TEST(UnicodeTextTest, ControlSetIsCcAndCfAndBrokenUTF8) {
    for (const std::string& text : {
             std::string("tab\there"),
             std::string("line\nbreak"),
             std::string("nul\0byte", 8),
             std::string("del\x7F"),
             std::string("next\xC2\x85line"), // U+0085, Cc
             std::string("soft\xC2\xAD"
                         "hy"),                    // U+00AD, Cf
             std::string("zero\xE2\x80\x8Bwidth"), // U+200B, Cf
             std::string("\xEF\xBB\xBF"
                         "bom"),             // U+FEFF, Cf
             std::string("rtl\xE2\x80\xAE"), // U+202E, Cf
             std::string("broken\xC3"),
             std::string("overlong\xC0\xAF"),
             std::string("surrogate\xED\xA0\x80"),
         })
        EXPECT_TRUE(UnicodeText::containsControl(text)) << text;

    for (const std::string& text : {
             std::string(""), std::string(" spaces at both ends "),
             std::string("quotes ' \" ` and \\ backslash"),
             std::string("Grüße, café, 東京, 🙂"),
             std::string("no\xC2\xA0"
                         "break space"),               // U+00A0, Zs
             std::string("line\xE2\x80\xA8separator"), // U+2028, Zl
         })
        EXPECT_FALSE(UnicodeText::containsControl(text)) << text;
}

} // namespace
} // namespace vessora
