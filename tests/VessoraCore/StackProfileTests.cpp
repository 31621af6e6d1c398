#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Records/InstallationStatus.hpp"
#include "VessoraCore/Records/StackProfile.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

namespace vessora {
namespace {

using nlohmann::json;

json studioJSON() {
    return json{
        {"id", "studio"},   {"name", "Studio"}, {"php", "php@8.4"},     {"mariaDB", "mariadb@11.4"},
        {"httpPort", 8080}, {"phpPort", 9084},  {"databasePort", 13307}};
}

StackProfile routedShop() {
    StackProfile profile = StackProfile::defaults().front();
    profile.hostname = "shop.test";
    profile.virtualHost = true;
    profile.httpsEnabled = true;
    profile.httpsPort = 8443;
    return profile;
}

TEST(StackProfileJSONTest, RequiredKeysAloneTakeDefaultsAndEncodeBackWithoutOptionals) {
    StackProfile profile = StackProfile::fromJSON(studioJSON());
    EXPECT_EQ(profile, StackProfile::defaults().front());
    EXPECT_EQ(profile.webserver, "nginx");
    EXPECT_EQ(profile.databaseName, "vessora");
    EXPECT_FALSE(profile.phpMyAdminEnabled || profile.httpsEnabled || profile.virtualHost ||
                 profile.standardPorts);
    EXPECT_FALSE(profile.httpsPort || profile.documentRoot || profile.projectSubdirectory ||
                 profile.hostname);

    json encoded = profile.toJSON();
    EXPECT_EQ(encoded.size(), 13U); // seventeen fields less the four optional ones
    for (const char* key : {"httpsPort", "documentRoot", "projectSubdirectory", "hostname"}) {
        EXPECT_FALSE(encoded.contains(key)) << key;
    }
    EXPECT_TRUE(encoded["phpMyAdminEnabled"].is_boolean());
    EXPECT_TRUE(encoded["httpPort"].is_number_integer());
}

TEST(StackProfileJSONTest, EveryFieldSurvivesARoundTripThroughText) {
    StackProfile profile = routedShop();
    profile.id = "env-0f8fad5b-d9cb-469f-a165-70867728950e";
    profile.name = "Café Ünïcode";
    profile.phpMyAdminEnabled = true;
    profile.webserver = "httpd";
    profile.documentRoot = "/srv/www/shop";
    profile.projectSubdirectory = "web/public";
    profile.databaseName = "shop-db";
    profile.standardPorts = true;
    StackProfile decoded =
        StackProfile::fromJSON(JsonFields::parse(JsonFields::pretty(profile.toJSON())));
    EXPECT_EQ(decoded, profile);
    EXPECT_EQ(std::hash<StackProfile>{}(decoded), std::hash<StackProfile>{}(profile));

    std::unordered_set<StackProfile> set{profile, decoded, StackProfile::defaults().front()};
    EXPECT_EQ(set.size(), 2U);
}

TEST(StackProfileJSONTest, DecodingIsStrictAboutMissingNullAndWrongTypes) {
    for (const char* key :
         {"id", "name", "php", "mariaDB", "httpPort", "phpPort", "databasePort"}) {
        json missing = studioJSON();
        missing.erase(key);
        EXPECT_THROW(StackProfile::fromJSON(missing), JsonDecodingError) << key;
        json null = studioJSON();
        null[key] = nullptr;
        EXPECT_THROW(StackProfile::fromJSON(null), JsonDecodingError) << key;
    }

    json nullWebserver = studioJSON();
    nullWebserver["webserver"] = nullptr;
    nullWebserver["hostname"] = nullptr;
    nullWebserver["unknownKey"] = 42;
    StackProfile profile = StackProfile::fromJSON(nullWebserver);
    EXPECT_EQ(profile.webserver, "nginx");
    EXPECT_FALSE(profile.hostname);

    std::vector<std::pair<const char*, json>> wrong{{"virtualHost", "yes"},
                                                    {"phpMyAdminEnabled", 1},
                                                    {"httpPort", "8080"},
                                                    {"httpPort", 8080.5},
                                                    {"httpsPort", 8443.0},
                                                    {"databaseName", 7},
                                                    {"documentRoot", json::array()},
                                                    {"name", false},
                                                    {"phpPort", 18446744073709551615ULL}};
    for (const auto& [key, value] : wrong) {
        json record = studioJSON();
        record[key] = value;
        EXPECT_THROW(StackProfile::fromJSON(record), JsonDecodingError) << key << " " << value;
    }
    EXPECT_THROW(StackProfile::fromJSON(json::array()), JsonDecodingError);
}

TEST(StackProfileTest, BuiltInEnvironments) {
    auto defaults = StackProfile::defaults();
    ASSERT_EQ(defaults.size(), 2U);
    EXPECT_EQ(defaults[0].id, "studio");
    EXPECT_EQ(defaults[0].reservedPorts(), (std::vector<std::int64_t>{8080, 9084, 13307}));
    EXPECT_EQ(defaults[1].id, "legacy");
    EXPECT_EQ(defaults[1].name, "Legacy");
    EXPECT_EQ(defaults[1].php, "php@8.3");
    EXPECT_EQ(defaults[1].mariaDB, "mariadb@10.11");
    EXPECT_EQ(defaults[1].reservedPorts(), (std::vector<std::int64_t>{8081, 9083, 13308}));
    EXPECT_NO_THROW(StackProfile::validate(defaults));
}

TEST(StackProfileTest, URLsFollowHostnameRouterAndStandardPorts) {
    StackProfile plain = StackProfile::defaults().front();
    EXPECT_EQ(plain.url(), "http://127.0.0.1:8080");
    EXPECT_EQ(plain.siteURL(), "http://127.0.0.1:8080");
    EXPECT_EQ(plain.phpMyAdminURL(), "http://127.0.0.1:8080/phpmyadmin/");
    EXPECT_FALSE(plain.httpsURL());

    plain.httpsEnabled = true;
    plain.httpsPort = 8443;
    EXPECT_EQ(plain.phpMyAdminURL(), "https://127.0.0.1:8443/phpmyadmin/");
    EXPECT_EQ(plain.backendHTTPSURL(), "https://127.0.0.1:8443");

    StackProfile routed = routedShop();
    EXPECT_EQ(routed.url(), "http://shop.test:8088");
    EXPECT_EQ(routed.httpsURL(), "https://shop.test:8448");
    EXPECT_EQ(routed.siteURL(), "https://shop.test:8448");
    EXPECT_EQ(routed.phpMyAdminURL(), "https://shop.test:8448/phpmyadmin/");
    EXPECT_EQ(routed.backendURL(), "http://127.0.0.1:8080");
    EXPECT_EQ(routed.backendHTTPSURL(), "https://127.0.0.1:8443");

    routed.standardPorts = true;
    EXPECT_EQ(routed.url(), "http://shop.test");
    EXPECT_EQ(routed.httpsURL(), "https://shop.test");
    routed.httpsEnabled = false;
    EXPECT_EQ(routed.phpMyAdminURL(), "http://shop.test/phpmyadmin/");

    StackProfile hostnameOnly = StackProfile::defaults().front();
    hostnameOnly.hostname = "shop.test";
    EXPECT_EQ(hostnameOnly.url(), "http://shop.test:8080");
}

TEST(StackProfileTest, KeptHTTPSPortIsReservedButNotListenedOn) {
    StackProfile profile = StackProfile::defaults().front();
    profile.httpsPort = 8443;
    EXPECT_FALSE(profile.httpsURL());
    EXPECT_FALSE(profile.backendHTTPSURL());
    EXPECT_EQ(profile.reservedPorts(), (std::vector<std::int64_t>{8080, 9084, 13307, 8443}));
    EXPECT_EQ(profile.listeningPorts(), (std::vector<std::int64_t>{8080, 9084, 13307}));
    profile.httpsEnabled = true;
    EXPECT_EQ(profile.listeningPorts(), profile.reservedPorts());
}

TEST(StackProfileTest, FormulaeAndInstallationReadiness) {
    StackProfile profile = StackProfile::defaults().front();
    EXPECT_EQ(profile.formulae(), (std::vector<std::string>{"nginx", "php@8.4", "mariadb@11.4"}));
    profile.virtualHost = true; // nginx already serves, no second entry
    EXPECT_EQ(profile.formulae().size(), 3U);

    profile.webserver = "httpd";
    profile.phpMyAdminEnabled = true;
    EXPECT_EQ(profile.formulae(), (std::vector<std::string>{"httpd", "php@8.4", "mariadb@11.4",
                                                            "phpmyadmin", "nginx"}));

    InstallationStatus status;
    status.installed = {{"httpd", true}, {"php@8.4", true}, {"phpmyadmin", true}, {"nginx", true}};
    EXPECT_FALSE(status.ready(profile));
    status.installed["mariadb@11.4"] = false;
    EXPECT_FALSE(status.ready(profile));
    status.installed["mariadb@11.4"] = true;
    EXPECT_TRUE(status.ready(profile));
}

TEST(StackProfileTest, VersionChoicesComeFromTheBuiltInCatalogue) {
    EXPECT_EQ(StackProfile::phpVersions(),
              (std::vector<std::string>{"php@8.5", "php@8.4", "php@8.3", "php@8.2", "php@8.1"}));
    EXPECT_EQ(StackProfile::databaseVersions(),
              (std::vector<std::string>{"mariadb@13.0", "mariadb@12.3", "mariadb@11.8",
                                        "mariadb@11.4", "mariadb@10.11", "mariadb@10.6"}));
}

} // namespace
} // namespace vessora
