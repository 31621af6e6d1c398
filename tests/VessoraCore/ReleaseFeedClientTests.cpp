#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Updates/ReleaseFeedClient.hpp"
#include "VessoraCore/Updates/UpdateCheckCancelled.hpp"
#include "VessoraCore/Updates/UpdateCheckError.hpp"
#include "VessoraCore/Updates/UpdateChecker.hpp"
#include "tests/Support/LoopbackTLSServer.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vessora {
namespace {

using namespace std::chrono_literals;

const std::string feedJSON = nlohmann::json{
    {"schemaVersion", 1},
    {"version", "1.4.0"},
    {"build", 27},
    {"minimumMacOS", "14.0"},
    {"sha256", std::string(64, 'e')},
    {"homebrewAvailable", true}}.dump();

std::string answer(const std::string& statusLine, const std::string& fields,
                   const std::string& body) {
    return "HTTP/1.1 " + statusLine + "\r\n" + fields + "Connection: close\r\n\r\n" + body;
}

std::string jsonAnswer(const std::string& body, const std::string& type = "application/json") {
    return answer("200 OK",
                  "Content-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n",
                  body);
}

std::string chunked(const std::string& body) {
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += 4000) {
        const std::string piece = body.substr(at, 4000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        out += std::string(size) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// What a fetch came to: the release, or which kind of error.
enum class Ending { release, invalid, cancelled, transport };

Ending ending(const std::function<void()>& fetch, std::string* message = nullptr) {
    try {
        fetch();
        return Ending::release;
    } catch (const UpdateCheckError&) {
        return Ending::invalid;
    } catch (const UpdateCheckCancelled&) {
        return Ending::cancelled;
    } catch (const std::exception& error) {
        if (message)
            *message = error.what();
        return Ending::transport;
    }
}

class ReleaseFeedClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TemporaryFolder>("vessora-feed");
        certificate = TestCertificate::make(folder->path());
    }
    static void TearDownTestSuite() { folder.reset(); }
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    static ReleaseFeedClient::Options options(const LoopbackTLSServer& server) {
        ReleaseFeedClient::Options options;
        options.endpoint = server.url("/updates.json");
        options.trustedCertificates = certificate.certificate;
        options.idleTimeout = 1s;
        options.totalTimeout = 4000ms;
        return options;
    }

    // A server that gives each connection the next of `answers` and closes
    // it, or with `hold` keeps it open afterwards until the client leaves.
    static std::unique_ptr<LoopbackTLSServer> serving(std::vector<std::string> answers,
                                                      bool hold = false) {
        auto next = std::make_shared<std::atomic<std::size_t>>(0);
        return std::make_unique<LoopbackTLSServer>(
            certificate,
            [answers = std::move(answers), next, hold](LoopbackTLSServer::Connection& c) {
                const std::size_t index = (*next)++;
                if (index < answers.size())
                    c.send(answers[index]);
                if (hold)
                    c.holdOpen(5s);
            });
    }

    // The ending of one fetch per answer.
    static std::vector<Ending> endings(std::vector<std::string> answers) {
        const std::size_t count = answers.size();
        auto server = serving(std::move(answers));
        ReleaseFeedClient client(options(*server));
        std::vector<Ending> out;
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(ending([&] { client.fetch({}); }));
        return out;
    }

    static inline std::unique_ptr<TemporaryFolder> folder;
    static inline TestCertificate certificate;
};

TEST_F(ReleaseFeedClientTest, GoodAnswerWithTheHardenedRequest) {
    auto server = serving({answer("200 OK",
                                  "Content-Type: Application/JSON; charset=utf-8\r\n"
                                  "Set-Cookie: session=abc; Path=/\r\n",
                                  feedJSON),
                           jsonAnswer(feedJSON)});
    ReleaseFeedClient client(options(*server));
    const AppRelease first = client.fetch({});
    EXPECT_EQ(first.version, "1.4.0");
    EXPECT_EQ(first.build, 27);
    EXPECT_TRUE(first.homebrewAvailable);
    EXPECT_EQ(client.fetch({}), first);

    const auto requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.rfind("GET /updates.json HTTP/1.1\r\n", 0), 0u) << request;
        EXPECT_NE(request.find("\r\nAccept: application/json\r\n"), std::string::npos);
        EXPECT_NE(request.find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
        EXPECT_NE(request.find("\r\nUser-Agent: Vessora Update Check\r\n"), std::string::npos);
        EXPECT_EQ(request.find("Cookie"), std::string::npos) << request;
        EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
    }
}

TEST_F(ReleaseFeedClientTest, RedirectIsRefusedAndNotFollowed) {
    auto server = serving({});
    for (const char* status : {"301 Moved Permanently", "302 Found", "307 Temporary Redirect"}) {
        auto redirecting = serving(
            {answer(status, "Location: " + server->url("/updates.json") + "\r\n", ""),
             answer(status, "Location: /elsewhere.json\r\nContent-Type: application/json\r\n",
                    feedJSON)});
        ReleaseFeedClient client(options(*redirecting));
        EXPECT_EQ(ending([&] { client.fetch({}); }), Ending::invalid) << status;
        EXPECT_EQ(ending([&] { client.fetch({}); }), Ending::invalid) << status;
        EXPECT_EQ(redirecting->requests().size(), 2u);
    }
    EXPECT_EQ(server->connections(), 0u);
}

TEST_F(ReleaseFeedClientTest, AnswerHeadIsCheckedBeforeTheBody) {
    EXPECT_EQ(
        endings({jsonAnswer(feedJSON, "text/plain"),
                 answer("200 OK", "Content-Length: " + std::to_string(feedJSON.size()) + "\r\n",
                        feedJSON),
                 jsonAnswer(feedJSON, "application/jsonx"),
                 jsonAnswer(feedJSON, "text/json; x=application/json"),
                 answer("404 Not Found", "Content-Type: application/json\r\n", feedJSON),
                 answer("500 Internal Server Error", "", ""),
                 answer("204 No Content", "Content-Type: application/json\r\n", ""),
                 jsonAnswer(feedJSON, "  application/json  ;charset=utf-8")}),
        (std::vector<Ending>{Ending::invalid, Ending::invalid, Ending::invalid, Ending::invalid,
                             Ending::invalid, Ending::invalid, Ending::invalid, Ending::release}));
}

TEST_F(ReleaseFeedClientTest, SizeLimitsAnnouncedAndCounted) {
    const std::string exact = feedJSON + std::string(65536 - feedJSON.size(), ' ');
    const std::string over = exact + " ";
    // Announced over the limit: refused from the head, whether the body
    // comes or not.
    EXPECT_EQ(
        endings(
            {answer("200 OK", "Content-Type: application/json\r\nContent-Length: 65537\r\n", ""),
             answer("200 OK", "Content-Type: application/json\r\nContent-Length: 70000\r\n",
                    over + std::string(70000 - over.size(), ' '))}),
        (std::vector<Ending>{Ending::invalid, Ending::invalid}));
    const std::string chunkedFields =
        "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n";
    const std::string closedFields = "Content-Type: application/json\r\n";
    EXPECT_EQ(
        endings({jsonAnswer(exact), answer("200 OK", chunkedFields, chunked(exact)),
                 answer("200 OK", closedFields, exact), jsonAnswer(over),
                 answer("200 OK", chunkedFields, chunked(over)),
                 answer("200 OK", closedFields, over), jsonAnswer("")}),
        (std::vector<Ending>{Ending::release, Ending::release, Ending::release, Ending::invalid,
                             Ending::invalid, Ending::invalid, Ending::invalid}));
}

TEST_F(ReleaseFeedClientTest, StalledServerTimesOutAsATransportFailure) {
    auto server = serving(
        {"", answer("200 OK", "Content-Type: application/json\r\n", feedJSON.substr(0, 20))}, true);
    ReleaseFeedClient client(options(*server));
    std::string message;
    // Nothing after the handshake, then a body that stops half-way.
    EXPECT_EQ(ending([&] { client.fetch({}); }, &message), Ending::transport);
    EXPECT_FALSE(message.empty());
    message.clear();
    EXPECT_EQ(ending([&] { client.fetch({}); }, &message), Ending::transport);
    EXPECT_FALSE(message.empty());

    // The check shows the connection sentence for it.
    auto stalled = serving({""}, true);
    UpdateChecker::Options checkerOptions;
    checkerOptions.defaults = UserDefaults::inMemory();
    checkerOptions.feed = std::make_shared<ReleaseFeedClient>(options(*stalled));
    checkerOptions.installed = ReleaseVersion::make("1.0.0", 1);
    UpdateChecker checker(std::move(checkerOptions));
    checker.check();
    EXPECT_EQ(checker.error(),
              "Could not check for updates. Check your internet connection and try again.");
}

TEST_F(ReleaseFeedClientTest, CancellationEndsTheFetchSilently) {
    std::promise<void> bodyStarted;
    auto started = bodyStarted.get_future();
    std::atomic<bool> signalled = false;
    LoopbackTLSServer server(certificate, [&](LoopbackTLSServer::Connection& connection) {
        connection.send(answer("200 OK", "Content-Type: application/json\r\n", ""));
        const std::string body = feedJSON + std::string(200, ' ');
        for (std::size_t at = 0; at < body.size(); ++at) {
            if (!connection.send(body.substr(at, 1)))
                return;
            if (!signalled.exchange(true))
                bodyStarted.set_value();
            std::this_thread::sleep_for(20ms);
        }
    });
    auto clientOptions = options(server);
    clientOptions.totalTimeout = 20000ms;
    ReleaseFeedClient client(clientOptions);

    std::stop_source stop;
    auto fetching = std::async(std::launch::async,
                               [&] { return ending([&] { client.fetch(stop.get_token()); }); });
    ASSERT_EQ(started.wait_for(5s), std::future_status::ready);
    stop.request_stop();
    ASSERT_EQ(fetching.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(fetching.get(), Ending::cancelled);

    // A stop requested before the call ends it before any connection.
    EXPECT_EQ(ending([&] { client.fetch(stop.get_token()); }), Ending::cancelled);
    EXPECT_EQ(server.connections(), 1u);
}

TEST_F(ReleaseFeedClientTest, CancellationEndsAStalledFetch) {
    auto server = serving({""}, true);
    auto clientOptions = options(*server);
    clientOptions.idleTimeout = 30s;
    clientOptions.totalTimeout = 30000ms;
    ReleaseFeedClient client(clientOptions);
    std::stop_source stop;
    auto fetching = std::async(std::launch::async,
                               [&] { return ending([&] { client.fetch(stop.get_token()); }); });
    ASSERT_TRUE(server->waitForRequests(1, 5s));
    stop.request_stop();
    // Well before the time-outs.
    ASSERT_EQ(fetching.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(fetching.get(), Ending::cancelled);
}

TEST_F(ReleaseFeedClientTest, CertificateChecksStayOn) {
    auto server = serving({jsonAnswer(feedJSON), jsonAnswer(feedJSON)});
    // The system's store does not know the test certificate.
    auto untrusted = options(*server);
    untrusted.trustedCertificates.reset();
    std::string message;
    EXPECT_EQ(ending([&] { ReleaseFeedClient(untrusted).fetch({}); }, &message), Ending::transport);
    EXPECT_FALSE(message.empty());
    // Plain HTTP is not spoken at all.
    auto plain = options(*server);
    plain.endpoint = "http://127.0.0.1:" + std::to_string(server->port()) + "/updates.json";
    EXPECT_EQ(ending([&] { ReleaseFeedClient(plain).fetch({}); }), Ending::transport);
    EXPECT_TRUE(server->requests().empty());
    EXPECT_EQ(ending([&] { ReleaseFeedClient(options(*server)).fetch({}); }), Ending::release);
}

} // namespace
} // namespace vessora
