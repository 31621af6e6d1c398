#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Records/EnvironmentPorts.hpp"

#include <gtest/gtest.h>

#include <set>

namespace vessora {
namespace {

class EnvironmentPortsTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
};

StackProfile recordOn(std::int64_t http, std::int64_t php, std::int64_t database,
                      std::optional<std::int64_t> https = std::nullopt) {
    StackProfile profile = StackProfile::defaults().front();
    profile.httpPort = http;
    profile.phpPort = php;
    profile.databasePort = database;
    profile.httpsPort = https;
    return profile;
}

TEST_F(EnvironmentPortsTest, FirstPortsWhenEverythingIsFree) {
    auto ports = EnvironmentPorts::allocate({}, false, [](std::int64_t) { return true; });
    EXPECT_EQ(ports.http, 8080);
    EXPECT_EQ(ports.php, 9080);
    EXPECT_EQ(ports.database, 13300);
    EXPECT_FALSE(ports.https);

    ports = EnvironmentPorts::allocate({}, true, [](std::int64_t) { return true; });
    EXPECT_EQ(ports.https, 8443);
}

TEST_F(EnvironmentPortsTest, SkipsReservedAndRefusedPortsAndAsksOnlyAboutCandidates) {
    // HTTPS port kept while HTTPS is off still counts as reserved.
    std::vector<StackProfile> existing{recordOn(8080, 9080, 13300, 8443)};
    std::vector<std::int64_t> asked;
    auto ports = EnvironmentPorts::allocate(existing, true, [&](std::int64_t port) {
        asked.push_back(port);
        return port != 8081;
    });
    EXPECT_EQ(ports.http, 8082);
    EXPECT_EQ(ports.php, 9081);
    EXPECT_EQ(ports.database, 13301);
    EXPECT_EQ(ports.https, 8444);
    EXPECT_EQ(asked, (std::vector<std::int64_t>{8081, 8082, 9081, 13301, 8444}));
}

TEST_F(EnvironmentPortsTest, LaterSearchesSkipPortsFoundEarlierAndTheRouterPorts) {
    // Everything from 8080 up to 8447 is taken: HTTP lands above the router's
    // HTTPS port, and the HTTPS search must not take the HTTP port again.
    std::vector<StackProfile> existing;
    for (std::int64_t port = 8080; port < 8448; ++port) {
        existing.push_back(recordOn(port, 40000 + port, 50000 + port));
    }
    std::set<std::int64_t> offered;
    auto ports = EnvironmentPorts::allocate(existing, true, [&](std::int64_t port) {
        offered.insert(port);
        return true;
    });
    EXPECT_EQ(ports.http, 8449);
    EXPECT_EQ(ports.https, 8450);
    EXPECT_EQ(offered.count(8088) + offered.count(8448), 0U);
}

TEST_F(EnvironmentPortsTest, RunningOutOfPortsThrows) {
    EXPECT_THROW(EnvironmentPorts::allocate({}, false, [](std::int64_t) { return false; }),
                 VessoraError);
    std::int64_t highest = 0;
    int databaseAsks = 0;
    try {
        // HTTP, PHP and MariaDB get their first port; nothing else is free,
        // and the HTTPS search must not hand out the MariaDB port again.
        EnvironmentPorts::allocate({}, true, [&](std::int64_t port) {
            highest = std::max(highest, port);
            databaseAsks += port == 13300 ? 1 : 0;
            return port == 8080 || port == 9080 || port == 13300;
        });
        ADD_FAILURE() << "expected no free HTTPS port";
    } catch (const VessoraError& error) {
        EXPECT_STREQ(error.what(), "No free ports were found for a new environment.");
    }
    EXPECT_EQ(databaseAsks, 1);
    EXPECT_EQ(highest, 65535);
}

} // namespace
} // namespace vessora
