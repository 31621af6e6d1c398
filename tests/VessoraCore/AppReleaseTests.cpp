#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace vessora {
namespace {

nlohmann::json feedObject() {
    return {{"schemaVersion", 1},
            {"version", "1.4.0"},
            {"build", 27},
            {"minimumMacOS", "14.0"},
            {"sha256", "0123456789abcdef" + std::string(48, 'f')},
            {"homebrewAvailable", true}};
}

bool refused(const std::string& bytes) {
    try {
        AppRelease::decode(bytes);
        return false;
    } catch (const UpdateCheckError& error) {
        EXPECT_STREQ(error.what(), "Could not verify the release information. Try again later.");
        return true;
    }
}

bool refusedWith(const char* key, const nlohmann::json& value) {
    auto object = feedObject();
    object[key] = value;
    return refused(object.dump());
}

ReleaseVersion version(const std::string& text, std::int64_t build) {
    return ReleaseVersion::make(text, build).value();
}

AppRelease release(const std::string& text, std::int64_t build, const std::string& minimum) {
    auto object = feedObject();
    object["version"] = text;
    object["build"] = build;
    object["minimumMacOS"] = minimum;
    return AppRelease::decode(object.dump());
}

class AppReleaseTest : public ::testing::Test {
protected:
    // The error's sentence is looked up in the interface language.
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }
};

TEST_F(AppReleaseTest, DecodesTheSixKeysAndIgnoresOthers) {
    auto object = feedObject();
    object["releaseNotes"] = "ignored";
    object["extra"] = nlohmann::json::array({1, 2});
    const AppRelease decoded = AppRelease::decode(object.dump());
    EXPECT_EQ(decoded.schemaVersion, 1);
    EXPECT_EQ(decoded.version, "1.4.0");
    EXPECT_EQ(decoded.build, 27);
    EXPECT_EQ(decoded.minimumMacOS, "14.0");
    EXPECT_EQ(decoded.sha256, "0123456789abcdef" + std::string(48, 'f'));
    EXPECT_TRUE(decoded.homebrewAvailable);
    EXPECT_EQ(decoded.releaseVersion(), version("1.4.0", 27));
    // Its own encoding decodes again to the same record, with only the six keys.
    EXPECT_EQ(AppRelease::decode(decoded.encode()), decoded);
    EXPECT_EQ(nlohmann::json::parse(decoded.encode()), feedObject());
}

TEST_F(AppReleaseTest, EveryRuleRefusesTheWholeRelease) {
    EXPECT_TRUE(refusedWith("schemaVersion", 2));
    EXPECT_TRUE(refusedWith("schemaVersion", 0));
    for (const char* text : {"1.2", "1.2.3.4", "1.02.3", "1.2.1000000", "1..3", "v1.2.3"})
        EXPECT_TRUE(refusedWith("version", text)) << text;
    EXPECT_TRUE(refusedWith("build", 0));
    EXPECT_TRUE(refusedWith("build", 2147483648LL));
    for (const char* minimum : {"13.6", "14", "14.0.1.2", "014.0", "14..0", ""})
        EXPECT_TRUE(refusedWith("minimumMacOS", minimum)) << minimum;
    EXPECT_FALSE(refusedWith("minimumMacOS", "14.0.1"));
    EXPECT_FALSE(refusedWith("minimumMacOS", "26.1"));
    EXPECT_TRUE(refusedWith("sha256", std::string(64, 'A')));
    EXPECT_TRUE(refusedWith("sha256", std::string(63, 'a')));
    EXPECT_TRUE(refusedWith("sha256", std::string(65, 'a')));
    EXPECT_TRUE(refusedWith("sha256", std::string(63, 'a') + "g"));
    EXPECT_TRUE(refusedWith("sha256", std::string(63, 'a') + "\n"));
}

TEST_F(AppReleaseTest, WrongTypesAndMissingKeysAreRefused) {
    EXPECT_TRUE(refusedWith("schemaVersion", "1"));
    EXPECT_TRUE(refusedWith("schemaVersion", 1.0));
    EXPECT_TRUE(refusedWith("schemaVersion", true));
    EXPECT_TRUE(refusedWith("version", 1.4));
    EXPECT_TRUE(refusedWith("version", nullptr));
    EXPECT_TRUE(refusedWith("build", "27"));
    EXPECT_TRUE(refusedWith("build", 27.5));
    EXPECT_TRUE(refusedWith("build", 18446744073709551615ULL));
    EXPECT_TRUE(refusedWith("minimumMacOS", 14));
    EXPECT_TRUE(refusedWith("sha256", nlohmann::json::array()));
    EXPECT_TRUE(refusedWith("homebrewAvailable", 1));
    EXPECT_TRUE(refusedWith("homebrewAvailable", "true"));
    const auto complete = feedObject();
    for (const auto& [key, value] : complete.items()) {
        auto object = complete;
        object.erase(key);
        EXPECT_TRUE(refused(object.dump())) << key;
    }
    EXPECT_TRUE(refused("[]"));
    EXPECT_TRUE(refused("\"text\""));
    EXPECT_TRUE(refused(feedObject().dump() + "x"));
    EXPECT_TRUE(refused("{\"version\": \"1.4.0\xff\"}"));
    // Deep nesting is refused without exhausting the stack.
    std::string nested = "{\"extra\":" + std::string(30000, '[') + std::string(30000, ']') + "}";
    EXPECT_TRUE(refused(nested));
}

TEST_F(AppReleaseTest, SizeIsBoundedBeforeParsing) {
    EXPECT_TRUE(refused(""));
    const std::string json = feedObject().dump();
    const std::string exact = json + std::string(AppRelease::maximumSize - json.size(), ' ');
    ASSERT_EQ(exact.size(), 65536u);
    EXPECT_EQ(AppRelease::decode(exact).version, "1.4.0");
    EXPECT_TRUE(refused(exact + " "));
}

TEST_F(AppReleaseTest, AvailabilityComparesVersionsAndTheSystem) {
    const auto installed = version("1.2.0", 6);
    const std::optional<SystemVersion> none;
    EXPECT_EQ(release("1.2.0", 6, "14.0").availability(installed, none),
              UpdateAvailability::current);
    EXPECT_EQ(release("1.1.9", 99, "14.0").availability(installed, none),
              UpdateAvailability::current);
    // A build number alone makes a release newer.
    EXPECT_EQ(release("1.2.0", 7, "14.0").availability(installed, none),
              UpdateAvailability::available);
    // Without a system version every newer release is runnable.
    EXPECT_EQ(release("1.3.0", 1, "99.0").availability(installed, none),
              UpdateAvailability::available);

    const auto needs151 = release("1.3.0", 1, "15.1");
    EXPECT_EQ(needs151.availability(installed, SystemVersion{15, 0, 9}),
              UpdateAvailability::requiresNewerMacOS);
    EXPECT_EQ(needs151.availability(installed, SystemVersion{15, 1, 0}),
              UpdateAvailability::available);
    EXPECT_EQ(needs151.availability(installed, SystemVersion{16, 0, 0}),
              UpdateAvailability::available);
    EXPECT_EQ(release("1.3.0", 1, "15.1.2").availability(installed, SystemVersion{15, 1, 1}),
              UpdateAvailability::requiresNewerMacOS);
    // Not newer: current even on a system too old for it.
    EXPECT_EQ(release("1.2.0", 6, "99.0").availability(installed, SystemVersion{14, 0, 0}),
              UpdateAvailability::current);
}

// The Linux artifact of the release: dpkg's package for this machine, never
// the disk image, and a formula upgrade, since Homebrew on Linux has no casks.
TEST_F(AppReleaseTest, LinuxTakesTheDebianPackageAndAFormulaUpgrade) {
    std::string dpkg;
    {
        const std::unique_ptr<FILE, int (*)(FILE*)> pipe(
            popen("dpkg --print-architecture 2>/dev/null", "r"), pclose);
        ASSERT_NE(pipe, nullptr);
        char buffer[64] = {};
        if (fgets(buffer, sizeof buffer, pipe.get()))
            dpkg = buffer;
    }
    while (!dpkg.empty() && (dpkg.back() == '\n' || dpkg.back() == ' '))
        dpkg.pop_back();
    if (dpkg.empty())
        GTEST_SKIP() << "dpkg is not on this machine to name its architecture.";
    EXPECT_EQ(AppRelease::packageArchitecture(), dpkg);
    EXPECT_EQ(release("1.4.0", 27, "14.0").downloadURL(),
              "https://vessora.app/downloads/Vessora-1.4.0_" + dpkg + ".deb");
    EXPECT_EQ(AppRelease::upgradeCommand(), "brew update\nbrew upgrade ornat77/vessora/vessora");
}

} // namespace
} // namespace vessora
