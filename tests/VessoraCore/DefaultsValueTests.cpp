#include "VessoraCore/Foundation/Base64.hpp"
#include "VessoraCore/Foundation/DefaultsValue.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <openssl/rand.h>

namespace vessora {
namespace {

using nlohmann::json;

TEST(Base64Test, RoundTripsEveryLengthAndRefusesLooseText) {
    for (int length = 0; length < 40; ++length) {
        std::string bytes(static_cast<std::size_t>(length), '\0');
        ASSERT_EQ(RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), length), 1);
        const std::string text = Base64::encode(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(Base64::decode(text), bytes) << text;
    }
    EXPECT_EQ(Base64::encode("Man"), "TWFu");
    EXPECT_EQ(Base64::encode("Ma"), "TWE=");
    EXPECT_EQ(Base64::encode("\xff\xfe"), "//4=");
    for (const char* loose : {"TWFu\n", "TW Fu", "TWE", "TQ=", "T===", "TQ==TWFu", "====", "TW-u"})
        EXPECT_EQ(Base64::decode(loose), std::nullopt) << loose;
}

TEST(DefaultsValueTest, ValuesAreReadOnlyInTheirOwnShape) {
    const Date date = ReferenceDate::date(700000000.25);
    const json stored = DefaultsValue::fromDate(date);
    ASSERT_TRUE(stored.is_object() && stored.size() == 1 && stored.at("date").is_number());
    EXPECT_NEAR(stored.at("date").get<double>(), 700000000.25, 1e-6);
    const auto reread = DefaultsValue::date(stored);
    ASSERT_TRUE(reread);
    EXPECT_LT(std::chrono::abs(*reread - date), std::chrono::microseconds(1));
    EXPECT_EQ(DefaultsValue::date(json{{"date", 5}}), ReferenceDate::date(5));
    EXPECT_EQ(DefaultsValue::bytes(DefaultsValue::fromBytes(std::string_view("a\0b", 3))),
              std::string("a\0b", 3));
    EXPECT_EQ(DefaultsValue::boolean(json(false)), false);

    const std::vector<json> notADate{json(700000000.0),
                                     json("2024-01-01"),
                                     json{{"date", "5"}},
                                     json{{"date", nullptr}},
                                     json{{"date", 5}, {"zone", 1}},
                                     json{{"data", "AA=="}},
                                     json{{"date", 1e300}},
                                     json::array({5})};
    for (const auto& value : notADate)
        EXPECT_EQ(DefaultsValue::date(value), std::nullopt) << value;
    const std::vector<json> notBytes{json("AA=="),
                                     json{{"data", 5}},
                                     json{{"data", "A"}},
                                     json{{"data", "AA==\n"}},
                                     json{{"data", "AA=="}, {"x", 1}},
                                     json{{"date", 5}}};
    for (const auto& value : notBytes)
        EXPECT_EQ(DefaultsValue::bytes(value), std::nullopt) << value;
    for (const auto& value : {json("true"), json(1), json(nullptr), json::object()})
        EXPECT_EQ(DefaultsValue::boolean(value), std::nullopt) << value;
    EXPECT_EQ(DefaultsValue::date(std::nullopt), std::nullopt);
    EXPECT_EQ(DefaultsValue::bytes(std::nullopt), std::nullopt);
    EXPECT_EQ(DefaultsValue::boolean(std::nullopt), std::nullopt);
}

TEST(DefaultsValueTest, SurvivesTheDefaultsFile) {
    TemporaryFolder folder;
    const auto file = folder.path() / "defaults.json";
    const Date date = ReferenceDate::date(712345678.5);
    UserDefaults(file).set("when", DefaultsValue::fromDate(date));
    UserDefaults(file).set("what", DefaultsValue::fromBytes("{\"x\":1}"));
    UserDefaults reread(file);
    const auto when = DefaultsValue::date(reread.value("when"));
    ASSERT_TRUE(when);
    EXPECT_LT(std::chrono::abs(*when - date), std::chrono::microseconds(1));
    EXPECT_EQ(DefaultsValue::bytes(reread.value("what")), "{\"x\":1}");
}

// Each start stores the system languages; the same value again must leave
// the file alone rather than replace it (a rename and a disk flush).
TEST(UserDefaultsTest, AValueAlreadyStoredIsNotWrittenAgain) {
    TemporaryFolder folder;
    const auto file = folder.path() / "defaults.json";
    const auto text = [&file] {
        std::ifstream in(file);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    UserDefaults defaults(file);
    defaults.set("languages", json::array({"de"}));
    // The same values in a shape this store never writes.
    const std::string handWritten = R"({"languages":["de"]})";
    std::ofstream(file) << handWritten;
    defaults.set("languages", json::array({"de"}));
    UserDefaults(file).set("languages", json::array({"de"}));
    EXPECT_EQ(text(), handWritten);

    // Another writer changed it: the same call writes again.
    UserDefaults(file).set("languages", json::array({"fr"}));
    defaults.set("languages", json::array({"de"}));
    EXPECT_EQ(UserDefaults(file).value("languages"), json::array({"de"}));
    // A file that went away is written again too.
    std::filesystem::remove(file);
    defaults.set("languages", json::array({"de"}));
    EXPECT_EQ(UserDefaults(file).value("languages"), json::array({"de"}));
}

} // namespace
} // namespace vessora
