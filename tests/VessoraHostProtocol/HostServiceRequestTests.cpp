#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceRequest.hpp"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

const char* const configMessage = "Invalid local host configuration.";
const char* const hostnameMessage =
    "Use a local hostname such as project.test (letters, numbers and hyphens).";

// The sentence validate() throws, or "" when it passes.
std::string validation(const HostServiceRequest& request) {
    try {
        request.validate();
        return "";
    } catch (const HostServiceError& error) {
        return error.what();
    }
}

std::vector<std::string> names(int count) {
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i)
        result.push_back("site" + std::to_string(i) + ".test");
    return result;
}

// The sentence fromJSON() throws, or "" when it decodes.
std::string decoding(std::string_view json) {
    try {
        HostServiceRequest::fromJSON(json);
        return "";
    } catch (const HostServiceDecodingError& error) {
        return error.what();
    }
}

const std::string corrupt = HostServiceDecodingError::corrupt;
const std::string missing = HostServiceDecodingError::missing;

} // namespace

TEST(HostServiceRequest, ConstructorSetsVersionOne) {
    const HostServiceRequest request({"b.test", "a.test"}, true);
    EXPECT_EQ(request.version, 1);
    EXPECT_EQ(request.hostnames, (std::vector<std::string>{"b.test", "a.test"}));
    EXPECT_TRUE(request.standardPorts);
    EXPECT_EQ(HostServiceRequest().version, 1);
}

TEST(HostServiceRequest, ValidatesVersionCountDuplicatesAndPortsBeforeNames) {
    HostServiceRequest request({"shop.test"}, true);
    EXPECT_EQ(validation(request), "");
    request.version = 2;
    EXPECT_EQ(validation(request), configMessage);
    request.version = 0;
    EXPECT_EQ(validation(request), configMessage);

    EXPECT_EQ(validation(HostServiceRequest(names(200), true)), "");
    auto tooMany = names(200);
    tooMany.push_back("Not A Name");
    EXPECT_EQ(validation(HostServiceRequest(tooMany, false)), configMessage);

    EXPECT_EQ(validation(HostServiceRequest({"a.test", "a.test"}, false)), configMessage);
    EXPECT_EQ(validation(HostServiceRequest({"a.test", "A.test"}, false)), hostnameMessage);

    EXPECT_EQ(validation(HostServiceRequest({}, true)), configMessage);
    EXPECT_EQ(validation(HostServiceRequest({}, false)), "");
}

TEST(HostServiceRequest, ReportsTheFirstInvalidName) {
    EXPECT_EQ(validation(HostServiceRequest({"ok.test", "bad", "Worse"}, false)), hostnameMessage);
    // A version error wins over a bad name.
    HostServiceRequest request({"bad"}, false);
    request.version = 3;
    EXPECT_EQ(validation(request), configMessage);
}

TEST(HostServiceRequest, EncodesCompactJSONInFieldOrder) {
    EXPECT_EQ(HostServiceRequest({"shop.test", "api.shop.local"}, true).toJSON(),
              R"({"version":1,"hostnames":["shop.test","api.shop.local"],"standardPorts":true})");
    EXPECT_EQ(HostServiceRequest({}, false).toJSON(),
              R"({"version":1,"hostnames":[],"standardPorts":false})");
}

TEST(HostServiceRequest, EncodingRefusesNamesThatAreNotUTF8) {
    EXPECT_THROW(HostServiceRequest({std::string("\xff.test")}, false).toJSON(), HostServiceError);
}

TEST(HostServiceRequest, RoundTrips) {
    const HostServiceRequest request({"b.test", "a.local", "x.localhost"}, true);
    EXPECT_EQ(HostServiceRequest::fromJSON(request.toJSON()), request);
}

TEST(HostServiceRequest, DecodesKeysInAnyOrderAndIgnoresOthers) {
    const auto request = HostServiceRequest::fromJSON(
        R"( {"standardPorts": false, "extra": {"x": [1, 2]}, "hostnames": ["a.test"],
             "version": 1} )");
    EXPECT_EQ(request, HostServiceRequest({"a.test"}, false));
}

TEST(HostServiceRequest, KeepsTheVersionForValidationToRefuse) {
    const auto request = HostServiceRequest::fromJSON(
        R"({"version":2,"hostnames":["a.test"],"standardPorts":true})");
    EXPECT_EQ(request.version, 2);
    EXPECT_EQ(validation(request), configMessage);
    EXPECT_EQ(HostServiceRequest::fromJSON(
                  R"({"version":-9223372036854775808,"hostnames":[],"standardPorts":false})")
                  .version,
              INT64_MIN);
}

TEST(HostServiceRequest, MissingKeysAreDecodingErrors) {
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[]})"), missing);
    EXPECT_EQ(decoding(R"({"version":1,"standardPorts":false})"), missing);
    EXPECT_EQ(decoding(R"({"hostnames":[],"standardPorts":false})"), missing);
    EXPECT_EQ(decoding(R"({"version":null,"hostnames":[],"standardPorts":false})"), missing);
}

TEST(HostServiceRequest, TypesAreStrict) {
    EXPECT_EQ(decoding(R"({"version":1.0,"hostnames":[],"standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1e0,"hostnames":[],"standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":"1","hostnames":[],"standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":true,"hostnames":[],"standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":9223372036854775808,"hostnames":[],"standardPorts":false})"),
              corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":"a.test","standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":["a.test",1],"standardPorts":false})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[],"standardPorts":1})"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[],"standardPorts":"true"})"), corrupt);
}

TEST(HostServiceRequest, MalformedJSONIsADecodingError) {
    EXPECT_EQ(decoding(""), corrupt);
    EXPECT_EQ(decoding("[]"), corrupt);
    EXPECT_EQ(decoding("1"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[],"standardPorts":false)"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[],"standardPorts":false} x)"), corrupt);
    EXPECT_EQ(decoding(R"({"version":1,"hostnames":[],"standardPorts":false} /* c */)"), corrupt);
    EXPECT_EQ(decoding(std::string(R"({"version":1,"hostnames":[")") + "\xff" +
                       R"("],"standardPorts":false})"),
              corrupt);
}

TEST(HostServiceRequest, DecodingErrorsAreRuntimeErrors) {
    EXPECT_THROW(HostServiceRequest::fromJSON("{"), std::runtime_error);
}
