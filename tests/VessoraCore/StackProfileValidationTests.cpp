#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace vessora {
namespace {

const std::string nameOrVersion = "Invalid environment name or unsupported version.";
const std::string portsMessage = "All environment ports must be unique and between 1024 and 65535.";
const std::string hostnameRule =
    "Use a local hostname such as project.test (letters, numbers and hyphens).";

class StackProfileValidationTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }

    // A valid record whose id and ports differ from every other one made here.
    StackProfile make(const std::string& name) {
        StackProfile profile;
        std::string uuid = Uuid::random();
        std::transform(uuid.begin(), uuid.end(), uuid.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        profile.id = "env-" + uuid;
        profile.name = name;
        profile.php = "php@8.4";
        profile.mariaDB = "mariadb@11.4";
        profile.httpPort = 20000 + next_;
        profile.phpPort = 30000 + next_;
        profile.databasePort = 40000 + next_;
        ++next_;
        return profile;
    }

    // The message validation throws, or "" when the list passes.
    static std::string failure(const std::vector<StackProfile>& profiles) {
        try {
            StackProfile::validate(profiles);
        } catch (const VessoraError& error) {
            return error.what();
        } catch (const HostServiceError& error) {
            return std::string("host: ") + error.what();
        }
        return "";
    }

private:
    int next_ = 0;
};

TEST_F(StackProfileValidationTest, IDRuleAcceptsOnlyCanonicalLowerCaseUUIDs) {
    EXPECT_TRUE(StackProfile::isValidID("studio"));
    EXPECT_TRUE(StackProfile::isValidID("legacy"));
    EXPECT_TRUE(StackProfile::isValidID("env-0f8fad5b-d9cb-469f-a165-70867728950e"));
    for (const char* id :
         {"Studio", "", "env-", "env-0F8FAD5B-D9CB-469F-A165-70867728950E",
          "env-0f8fad5b-d9cb-469f-a165-70867728950", "env-{0f8fad5b-d9cb-469f-a165-70867728950e}",
          "env-0f8fad5bd9cb-469f-a165-70867728950e-", "env-0f8fad5g-d9cb-469f-a165-70867728950e",
          "ENV-0f8fad5b-d9cb-469f-a165-70867728950e",
          "env-0f8fad5b-d9cb-469f-a165-70867728950e "}) {
        EXPECT_FALSE(StackProfile::isValidID(id)) << id;
    }
    EXPECT_EQ(Uuid::parse("0F8FAD5B-D9CB-469F-A165-70867728950E"),
              "0f8fad5b-d9cb-469f-a165-70867728950e");

    std::string random = Uuid::random();
    ASSERT_TRUE(Uuid::parse(random));
    EXPECT_EQ(random[14], '4'); // version 4
    EXPECT_NE(random, Uuid::random());
    EXPECT_TRUE(StackProfile::isValidID("env-" + *Uuid::parse(random)));
}

TEST_F(StackProfileValidationTest, IDsAreCheckedForDuplicatesBeforeForm) {
    const std::string message = "Invalid or duplicate environment ID.";
    StackProfile upper = make("Upper");
    std::transform(upper.id.begin(), upper.id.end(), upper.id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    upper.id.replace(0, 4, "env-");
    EXPECT_EQ(failure({upper}), message);

    StackProfile first = make("First");
    StackProfile second = make("Second");
    second.id = first.id;
    second.name = " broken";
    EXPECT_EQ(failure({first, second}), message);
    EXPECT_EQ(failure({}), "");
}

TEST_F(StackProfileValidationTest, HostnameVirtualHostAndStandardPorts) {
    StackProfile shop = make("Shop");
    shop.hostname = "shop.test";
    EXPECT_EQ(failure({shop}), "");

    StackProfile other = make("Other");
    other.hostname = "shop.test";
    EXPECT_EQ(failure({shop, other}), "This hostname is already used by another environment.");

    shop.standardPorts = true;
    EXPECT_EQ(failure({shop}), "Standard web ports require a virtual host.");
    shop.virtualHost = true;
    EXPECT_EQ(failure({shop}), "");

    StackProfile noHost = make("No host");
    noHost.virtualHost = true;
    noHost.standardPorts = true;
    EXPECT_EQ(failure({noHost}), "Enter a hostname before enabling virtual hosts.");

    for (const char* hostname :
         {"Shop.test", " shop.test", "shop", "shop.dev", "caf\xC3\xA9.test", "shop\xFF.test"}) {
        StackProfile bad = make("Bad");
        bad.hostname = hostname;
        EXPECT_EQ(failure({bad}), "host: " + hostnameRule) << hostname;
    }
}

TEST_F(StackProfileValidationTest, WebFolderRules) {
    const std::string project = "Choose a public directory inside the project folder.";
    const std::string absolute = "Choose an absolute web directory without control characters.";

    StackProfile both = make("Both");
    both.documentRoot = "/srv/www";
    both.projectSubdirectory = "web";
    EXPECT_EQ(failure({both}), project);

    for (const char* accepted : {"", "web/public", "web", ".well-known/x", "caf\xC3\xA9"}) {
        StackProfile profile = make("Sub");
        profile.projectSubdirectory = accepted;
        EXPECT_EQ(failure({profile}), "") << accepted;
    }
    for (const char* refused : {"web/", "/web", "a/../b", "./web", "..", "a//b", "web\npublic",
                                "web\xE2\x80\x8Bpublic", "web\xC3"}) {
        StackProfile profile = make("Sub");
        profile.projectSubdirectory = refused;
        EXPECT_EQ(failure({profile}), project) << refused;
        EXPECT_FALSE(MigrationRequest::validRelativeDirectory(refused)) << refused;
    }

    StackProfile root = make("Root");
    root.documentRoot = "/srv/www/shop";
    EXPECT_EQ(failure({root}), "");
    for (const char* refused :
         {"", "srv/www", "/srv/\twww", "/srv/\xE2\x80\xAEwww", "/srv/\xFFwww"}) {
        root.documentRoot = refused;
        EXPECT_EQ(failure({root}), absolute) << refused;
    }
}

TEST_F(StackProfileValidationTest, NameAndVersionRules) {
    std::vector<std::string> refusedNames{"",
                                          " Shop",
                                          "Shop ",
                                          "\xC2\xA0Shop",
                                          "Shop\n",
                                          "  ",
                                          "Sh\top",
                                          "Shop\xE2\x80\x8B",
                                          "Shop\xC3\x28",
                                          std::string(81, 'a')};
    for (const auto& name : refusedNames) {
        EXPECT_EQ(failure({make(name)}), nameOrVersion) << name;
    }
    EXPECT_EQ(failure({make(std::string(80, 'a'))}), "");
    EXPECT_EQ(failure({make("Caf\xC3\xA9 Shop")}), "");

    // 80 characters as the user sees them, each of several code points.
    std::string flags;
    std::string accents;
    for (int index = 0; index < 80; ++index) {
        flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"; // regional indicators D E
        accents += "e\xCC\x81";
    }
    EXPECT_EQ(UnicodeText::characterCount(flags), 80U);
    EXPECT_EQ(failure({make(flags)}), "");
    EXPECT_EQ(failure({make(accents)}), "");
    EXPECT_EQ(failure({make(accents + "e")}), nameOrVersion);

    std::vector<std::pair<std::string, std::string>> versions{
        {"webserver", "apache"},      {"php", "php@8"},
        {"php", "PHP@8.4"},           {"mariaDB", "mysql@8.0"},
        {"mariaDB", "mariadb@100.1"}, {"php", "mariadb@11.4"}};
    for (const auto& [field, value] : versions) {
        StackProfile profile = make("Versions");
        if (field == "webserver") {
            profile.webserver = value;
        } else if (field == "php") {
            profile.php = value;
        } else {
            profile.mariaDB = value;
        }
        EXPECT_EQ(failure({profile}), nameOrVersion) << value;
    }
    StackProfile apache = make("Apache");
    apache.webserver = "httpd";
    EXPECT_EQ(failure({apache}), "");
}

TEST_F(StackProfileValidationTest, NamesCollideIgnoringCaseAndDiacritics) {
    EXPECT_EQ(failure({make("Caf\xC3\xA9"), make("CAFE")}), "An environment named \xE2\x80\x9C"
                                                            "CAFE\xE2\x80\x9D already exists.");
    // Precomposed and decomposed spellings, sharp s and its folding.
    EXPECT_NE(failure({make("Caf\xC3\xA9"), make("cafe\xCC\x81")}), "");
    EXPECT_NE(failure({make("Stra\xC3\x9F"
                            "e"),
                       make("STRASSE")}),
              "");
    EXPECT_EQ(failure({make("Shop"), make("Shop 2")}), "");
}

TEST_F(StackProfileValidationTest, HTTPSAndPortRules) {
    StackProfile https = make("HTTPS");
    https.httpsEnabled = true;
    EXPECT_EQ(failure({https}), "Choose an HTTPS port before enabling local HTTPS.");

    StackProfile first = make("First");
    StackProfile second = make("Second");
    first.httpsPort = 8443;
    second.httpsPort = 8443;
    EXPECT_EQ(failure({first, second}), portsMessage);

    StackProfile ports = make("Ports");
    ports.httpPort = 1024;
    ports.databasePort = 65535;
    EXPECT_EQ(failure({ports}), "");
    for (std::int64_t bad : {std::int64_t{1023}, std::int64_t{65536}, std::int64_t{-8080}}) {
        ports.phpPort = bad;
        EXPECT_EQ(failure({ports}), portsMessage) << bad;
    }
    ports.phpPort = ports.httpPort; // clash inside one record
    EXPECT_EQ(failure({ports}), portsMessage);
}

TEST_F(StackProfileValidationTest, RouterPortsAreReservedOnlyWhileSomethingIsRouted) {
    const std::string router = "Ports 8088 and 8448 are reserved for the shared virtual host "
                               "router. Choose different environment ports.";
    StackProfile routed = make("Routed");
    routed.hostname = "shop.test";
    routed.virtualHost = true;
    StackProfile direct = make("Direct");
    direct.httpPort = 8088;
    EXPECT_EQ(failure({direct}), "");
    EXPECT_EQ(failure({routed, direct}), router);
    direct.httpPort = 20999;
    direct.httpsPort = 8448; // kept while HTTPS is off, still reserved
    EXPECT_EQ(failure({direct, routed}), router);
}

TEST_F(StackProfileValidationTest, RulesRunInOrder) {
    // Several faults at once: the earliest rule speaks.
    StackProfile profile = make(" bad name");
    profile.virtualHost = true;
    profile.databaseName = "mysql";
    profile.httpsEnabled = true;
    EXPECT_EQ(failure({profile}), "Enter a hostname before enabling virtual hosts.");
    profile.virtualHost = false;
    EXPECT_EQ(failure({profile}), "Use 1–64 letters, numbers, underscores or hyphens for the "
                                  "database name. Start with a letter or underscore. System "
                                  "names are reserved.");
    profile.databaseName = "shop";
    EXPECT_EQ(failure({profile}), nameOrVersion);
    profile.name = "Good";
    EXPECT_EQ(failure({profile}), "Choose an HTTPS port before enabling local HTTPS.");
}

TEST_F(StackProfileValidationTest, DatabaseNames) {
    for (const std::string& name :
         std::vector<std::string>{"_app", "shop-db", "a", "Shop_2", std::string(64, 'x')}) {
        EXPECT_NO_THROW(DatabaseName::validate(name)) << name;
    }
    for (const std::string& name : std::vector<std::string>{
             "1shop", "", std::string(65, 'x'), "Sys", "MySQL", "vessora_internal",
             "INFORMATION_SCHEMA", "performance_schema", "-shop", "shop db", "shop.db",
             "caf\xC3\xA9", std::string("shop\0x", 6)}) {
        EXPECT_THROW(DatabaseName::validate(name), VessoraError) << name;
    }
    StackProfile profile = make("DB");
    profile.databaseName = "sys";
    EXPECT_EQ(failure({profile}), "Use 1–64 letters, numbers, underscores or hyphens for the "
                                  "database name. Start with a letter or underscore. System "
                                  "names are reserved.");
}

// The grants write each "_" as "\_", and the server refuses a name over 64
// characters there: a new name must fit once escaped, a stored one still loads.
TEST_F(StackProfileValidationTest, ANewNameMustFitItsGrantsOnceEscaped) {
    const std::string grants = "This database name is too long for its access grants, which "
                               "count each underscore twice. Use at most 64 characters, "
                               "underscores counted twice.";
    const std::string tenUnderscores = "a_b_c_d_e_f_g_h_i_j_" + std::string(40, 'x'); // 60
    ASSERT_EQ(tenUnderscores.size(), 60u);
    EXPECT_EQ(DatabaseName::grantLength(tenUnderscores), 70u);
    EXPECT_EQ(thrownMessage([&] { DatabaseName::validate(tenUnderscores); }), grants);
    const std::string fits = "a_b_" + std::string(58, 'x'); // 62 + 2 escapes
    EXPECT_NO_THROW(DatabaseName::validate(fits));
    EXPECT_EQ(thrownMessage([&] { DatabaseName::validate(fits + "y"); }), grants);
    EXPECT_NO_THROW(DatabaseName::validate(std::string(64, '-').replace(0, 1, "a")));

    // The record rule keeps reading what was stored before.
    StackProfile profile = make("Stored");
    profile.databaseName = tenUnderscores;
    EXPECT_NO_THROW(StackProfile::validate({profile}));
    EXPECT_NO_THROW(DatabaseName::validateStored(tenUnderscores));
}

} // namespace
} // namespace vessora
