#include "VessoraHelper/ServiceCoordinator.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/ManagedHosts.hpp"

#include "HelperTestSupport.hpp"

#include <future>
#include <gtest/gtest.h>

namespace vessora {
namespace {

using helpertest::baseHosts;
using helpertest::readFile;
using Kind = HostServiceWire::ReceivedMessage::Kind;

constexpr std::uint32_t alice = 501;
constexpr std::uint32_t bob = 502;

HostServiceWire::ReceivedMessage message(std::string bytes) {
    HostServiceWire::ReceivedMessage received;
    received.kind = Kind::message;
    received.size = bytes.size();
    received.bytes = std::move(bytes);
    return received;
}

HostServiceWire::ReceivedMessage request(std::vector<std::string> names, bool standardPorts) {
    return message(HostServiceRequest(std::move(names), standardPorts).toJSON());
}

constexpr const char* success = "(success)";

class ServiceCoordinatorTest : public ::testing::Test {
protected:
    helpertest::TemporaryFolder folder;
    HostsFile::Location location = helpertest::ownLocation(folder.path());
    std::uint16_t httpPort = helpertest::freePort();
    std::uint16_t httpsPort = helpertest::freePort();
    std::unique_ptr<ServiceCoordinator> coordinator;

    void SetUp() override {
        helpertest::writeFile(location.hosts(), baseHosts);
        coordinator = std::make_unique<ServiceCoordinator>(
            location, std::vector<RelayEndpoint>{{httpPort, helpertest::freePort()},
                                                 {httpsPort, helpertest::freePort()}});
    }

    // The reply text, or `success`.
    std::string apply(HostServiceWire::ReceivedMessage received, std::uint32_t user,
                      const std::string& lease) {
        auto answer = std::make_shared<std::promise<std::string>>();
        std::future<std::string> future = answer->get_future();
        int calls = 0;
        coordinator->apply(std::move(received), user, lease,
                           [answer, &calls](const std::optional<std::string>& failure) {
                               ++calls;
                               answer->set_value(failure ? *failure : success);
                           });
        if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
            return "(no reply)";
        coordinator->owner(); // let the queue finish the call
        EXPECT_EQ(calls, 1);
        return future.get();
    }
    std::string section() const {
        return readFile(location.hosts()).substr(std::string(baseHosts).size());
    }
};

TEST_F(ServiceCoordinatorTest, OwnerWritesTheSectionAndSwitchesTheRelay) {
    coordinator->connected("A");
    EXPECT_EQ(apply(request({"shop.test"}, true), alice, "A"), success);
    EXPECT_EQ(section(), ManagedHosts::section(alice, {"shop.test"}));
    EXPECT_TRUE(coordinator->relayRunning());
    EXPECT_TRUE(helpertest::listening(httpPort));
    EXPECT_EQ(coordinator->owner(), "A");

    // A relay already running is kept, not started twice (its ports are taken).
    EXPECT_EQ(apply(request({"shop.test", "api.test"}, true), alice, "A"), success);
    EXPECT_TRUE(coordinator->relayRunning());

    EXPECT_EQ(apply(request({"shop.test"}, false), alice, "A"), success);
    EXPECT_FALSE(coordinator->relayRunning());
    EXPECT_FALSE(helpertest::listening(httpPort));
    EXPECT_EQ(section(), ManagedHosts::section(alice, {"shop.test"}));

    // An empty request removes the section and keeps the ownership.
    EXPECT_EQ(apply(request({}, false), alice, "A"), success);
    EXPECT_EQ(section(), "");
    EXPECT_EQ(coordinator->owner(), "A");
}

TEST_F(ServiceCoordinatorTest, OwnershipLastsAsLongAsTheOwnersConnection) {
    coordinator->connected("A");
    coordinator->connected("B");
    EXPECT_EQ(apply(request({"shop.test"}, true), alice, "A"), success);
    EXPECT_EQ(apply(request({"blog.test"}, false), bob, "B"), ServiceCoordinator::ownedElsewhere);
    // Invalid requests are refused before the owner check.
    EXPECT_EQ(apply(request({"Blog.test"}, false), bob, "B"), HostServiceError::invalidHostname);

    coordinator->disconnected("A");
    EXPECT_FALSE(coordinator->relayRunning());
    EXPECT_EQ(coordinator->owner(), std::nullopt);
    EXPECT_EQ(section(), ManagedHosts::section(alice, {"shop.test"}));
    coordinator->disconnected("A"); // a second end changes nothing

    EXPECT_EQ(apply(request({"blog.test"}, false), bob, "B"), success);
    EXPECT_EQ(coordinator->owner(), "B");
    EXPECT_NE(readFile(location.hosts()).find(ManagedHosts::section(bob, {"blog.test"})),
              std::string::npos);
    // A request after its connection ended is no longer answered as a client's.
    EXPECT_EQ(apply(request({"shop.test"}, false), alice, "A"), ServiceCoordinator::invalidClient);
}

TEST_F(ServiceCoordinatorTest, RefusesClientsSizesAndBadRequests) {
    coordinator->connected("A");
    EXPECT_EQ(apply(request({"shop.test"}, false), alice, "unknown"),
              ServiceCoordinator::invalidClient);
    EXPECT_EQ(apply(request({"shop.test"}, false), 0, "A"), ServiceCoordinator::invalidClient);

    HostServiceWire::ReceivedMessage oversized;
    oversized.kind = Kind::oversized;
    oversized.size = HostServiceWire::maxRequestSize + 1;
    EXPECT_EQ(apply(oversized, alice, "A"), ServiceCoordinator::invalidClient);
    // Exactly the limit is decoded: padding after the object is white space.
    std::string padded = HostServiceRequest({"shop.test"}, false).toJSON();
    padded.resize(HostServiceWire::maxRequestSize, ' ');
    EXPECT_EQ(apply(message(padded), alice, "A"), success);

    EXPECT_EQ(apply(message("{\"version\":1}"), alice, "A"), HostServiceDecodingError::missing);
    EXPECT_EQ(apply(message("not json"), alice, "A"), HostServiceDecodingError::corrupt);
    EXPECT_EQ(
        apply(message(R"({"version":1e999999,"hostnames":[],"standardPorts":false})"), alice, "A"),
        HostServiceDecodingError::corrupt);
    EXPECT_EQ(apply(message(R"({"version":2,"hostnames":[],"standardPorts":false})"), alice, "A"),
              HostServiceError::invalidConfiguration);
    EXPECT_EQ(apply(request({}, true), alice, "A"), HostServiceError::invalidConfiguration);
    EXPECT_EQ(section(), ManagedHosts::section(alice, {"shop.test"}));
}

TEST_F(ServiceCoordinatorTest, FailuresLeaveTheRelayAndOwnerAsTheyWere) {
    coordinator->connected("A");
    {
        // A port already taken: the hosts file is not touched.
        helpertest::PortHolder taken;
        ServiceCoordinator blocked(location, {{taken.port(), helpertest::freePort()}});
        blocked.connected("A");
        auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
        blocked.apply(
            request({"shop.test"}, true), alice, "A",
            [answer](const std::optional<std::string>& failure) { answer->set_value(failure); });
        auto future = answer->get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_EQ(future.get(), std::string(HostServiceError::portsUnavailable));
        EXPECT_EQ(blocked.owner(), std::nullopt);
        EXPECT_EQ(readFile(location.hosts()), baseHosts);
    }

    // A hosts step that fails stops the relay this request started.
    const std::string damaged = std::string(baseHosts) + "# END Vessora user 501\n";
    helpertest::writeFile(location.hosts(), damaged);
    EXPECT_EQ(apply(request({"shop.test"}, true), alice, "A"),
              HostServiceError::hostsSectionDamaged);
    EXPECT_FALSE(coordinator->relayRunning());
    EXPECT_FALSE(helpertest::listening(httpPort));
    EXPECT_EQ(coordinator->owner(), std::nullopt);

    // ... but one that ran before keeps running.
    helpertest::writeFile(location.hosts(), baseHosts);
    EXPECT_EQ(apply(request({"shop.test"}, true), alice, "A"), success);
    helpertest::writeFile(location.hosts(), damaged);
    EXPECT_EQ(apply(request({"shop.test"}, true), alice, "A"),
              HostServiceError::hostsSectionDamaged);
    EXPECT_TRUE(coordinator->relayRunning());
    EXPECT_EQ(coordinator->owner(), "A");
}

} // namespace
} // namespace vessora
