// The helper client against a fake helper on a temporary socket. The fake
// answers as the real helper does (decode, validate, reply once per request,
// several requests per connection) unless a test scripts another answer.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/LocalAddresses/HostServiceClient.hpp"
#include "VessoraHostProtocol/HostServiceError.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

using namespace std::chrono_literals;

// What the fake does with one request.
struct Answer {
    enum class Kind { normal, text, silent, closeAfterReply };
    Kind kind = Kind::normal;
    std::string text;
    std::chrono::milliseconds delay{0};
};

class FakeHelper {
public:
    FakeHelper() : path_((folder_.path() / "host-service.sock").string()) {
        listener_ = HostServiceWire::Socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, path_.size());
        if (::bind(listener_.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_.fd(), 8) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0)
            throw std::runtime_error("fake helper socket");
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHelper() {
        stopping_ = true;
        (void)!::write(wake_[1], "x", 1);
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    const std::string& path() const { return path_; }

    void script(Answer answer) {
        std::lock_guard guard(mutex_);
        script_.push_back(std::move(answer));
    }
    int connections() const {
        std::lock_guard guard(mutex_);
        return connections_;
    }
    std::vector<HostServiceRequest> requests() const {
        std::lock_guard guard(mutex_);
        return requests_;
    }
    // Waits (bounded) until the fake has received `count` requests.
    bool waitForRequests(std::size_t count) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, 5s, [&] { return requests_.size() >= count; });
    }

private:
    void serve() {
        std::vector<HostServiceWire::Socket> open;
        while (!stopping_) {
            std::vector<pollfd> watch{{wake_[0], POLLIN, 0}, {listener_.fd(), POLLIN, 0}};
            for (const auto& socket : open)
                watch.push_back({socket.fd(), POLLIN, 0});
            if (::poll(watch.data(), watch.size(), 1000) <= 0)
                continue;
            if (watch[1].revents & POLLIN) {
                open.emplace_back(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
                std::lock_guard guard(mutex_);
                ++connections_;
            }
            for (std::size_t i = 2; i < watch.size(); ++i) {
                if (watch[i].revents == 0)
                    continue;
                if (!answer(watch[i].fd))
                    open[i - 2] = HostServiceWire::Socket();
            }
            std::erase_if(open, [](const HostServiceWire::Socket& socket) { return !socket; });
        }
    }

    // False when the connection is over.
    bool answer(int fd) {
        const auto received = HostServiceWire::receiveRequest(fd);
        if (received.kind == HostServiceWire::ReceivedMessage::Kind::closed)
            return false;
        Answer answer;
        std::optional<std::string> failure;
        {
            std::lock_guard guard(mutex_);
            if (!script_.empty()) {
                answer = script_.front();
                script_.pop_front();
            }
        }
        if (received.kind == HostServiceWire::ReceivedMessage::Kind::oversized) {
            failure = "Invalid client or request size.";
        } else {
            try {
                const auto request = HostServiceRequest::fromJSON(received.bytes);
                {
                    std::lock_guard guard(mutex_);
                    requests_.push_back(request);
                }
                changed_.notify_all();
                request.validate();
            } catch (const std::exception& error) {
                failure = error.what();
            }
        }
        std::this_thread::sleep_for(answer.delay);
        if (answer.kind == Answer::Kind::silent)
            return true;
        if (answer.kind == Answer::Kind::text)
            failure = answer.text;
        try {
            HostServiceWire::sendMessage(fd, HostServiceWire::encodeReply(failure));
        } catch (const std::system_error&) {
            return false; // the client has gone
        }
        return answer.kind != Answer::Kind::closeAfterReply;
    }

    TemporaryFolder folder_{"vessora-helper"};
    std::string path_;
    HostServiceWire::Socket listener_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_ = false;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Answer> script_;
    int connections_ = 0;
    std::vector<HostServiceRequest> requests_;
    std::thread thread_;
};

HostServiceClient::Options options(const FakeHelper& helper) {
    HostServiceClient::Options options;
    options.socketPath = helper.path();
    options.acceptPeer = [](const ucred& peer) { return peer.uid == ::geteuid(); };
    options.teamID = [] { return std::string("VSSRLNX001"); };
    return options;
}

const HostServiceRequest shop({"shop.test", "api.shop.local"}, true);

class HostServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory();
    FakeHelper helper;
};

TEST_F(HostServiceClientTest, ConnectionIsReusedWhileUpAndReplacedAfterHangUp) {
    HostServiceClient client(options(helper));
    EXPECT_FALSE(client.isConnected());
    client.apply(shop);
    client.apply(HostServiceRequest({}, false));
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(helper.connections(), 1);
    ASSERT_EQ(helper.requests().size(), 2u);
    EXPECT_EQ(helper.requests()[0], shop);
    EXPECT_EQ(helper.requests()[1], HostServiceRequest({}, false));

    // The helper ends the session after this answer (it exited).
    helper.script({Answer::Kind::closeAfterReply});
    client.apply(shop);
    bool down = false;
    for (int i = 0; i < 100 && !(down = !client.isConnected()); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(down) << "a hung-up connection reads as down";

    client.apply(shop);
    EXPECT_EQ(helper.connections(), 2);
    EXPECT_TRUE(client.isConnected());

    client.invalidate();
    EXPECT_FALSE(client.isConnected());
    client.apply(shop);
    EXPECT_EQ(helper.connections(), 3);
}

TEST_F(HostServiceClientTest, RefusalIsLookedUpAndDropsTheConnection) {
    HostServiceClient client(options(helper));
    helper.script({Answer::Kind::text, "A sentence nobody translated."});
    EXPECT_EQ(thrownMessage([&] { client.apply(shop); }), "A sentence nobody translated.");
    EXPECT_FALSE(client.isConnected());

    defaults->set("Vessora.language", "de");
    helper.script({Answer::Kind::text, "Another Vessora action is still in progress."});
    EXPECT_EQ(thrownMessage([&] { client.apply(shop); }), "Eine andere Vessora-Aktion läuft noch.");
    EXPECT_EQ(helper.connections(), 2);

    client.apply(shop);
    EXPECT_EQ(helper.connections(), 3) << "the refused connection is not reused";
    EXPECT_TRUE(client.isConnected());
}

TEST_F(HostServiceClientTest, InvalidRequestOrUnsignedProgramThrowsBeforeConnecting) {
    HostServiceClient client(options(helper));
    HostServiceRequest future = shop;
    future.version = 2;
    EXPECT_THROW(client.apply(future), HostServiceError);
    EXPECT_EQ(thrownMessage([&] { client.apply(HostServiceRequest({"Shop.test"}, false)); }),
              HostServiceError::invalidHostname);

    auto unsigned_ = options(helper);
    unsigned_.teamID = []() -> std::string {
        throw HostServiceError(HostServiceError::unsignedProgram);
    };
    HostServiceClient unsignedClient(unsigned_);
    EXPECT_THROW(unsignedClient.apply(shop), HostServiceError);
    EXPECT_EQ(helper.connections(), 0);
    EXPECT_TRUE(helper.requests().empty());
}

TEST_F(HostServiceClientTest, LateReplyAfterTimeOutHasNoEffect) {
    auto quick = options(helper);
    quick.timeout = 300ms;
    HostServiceClient client(quick);
    helper.script({Answer::Kind::text, "Too late.", 700ms});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownMessage([&] { client.apply(shop); }),
              "Local host setup did not respond. Check that its system service is enabled.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 650ms);
    EXPECT_FALSE(client.isConnected());

    std::this_thread::sleep_for(500ms); // the late answer goes to the closed connection
    client.apply(shop);
    EXPECT_EQ(helper.connections(), 2);
}

TEST_F(HostServiceClientTest, UnreachableOrNonRootHelperIsAConnectionFailure) {
    const std::string failed = "Could not connect to local host setup.";
    auto strict = options(helper);
    strict.acceptPeer = nullptr; // root only
    HostServiceClient rootOnly(strict);
    if (::geteuid() != 0) {
        EXPECT_EQ(thrownMessage([&] { rootOnly.apply(shop); }), failed);
        EXPECT_FALSE(rootOnly.isConnected());
    }
    auto refusing = options(helper);
    refusing.acceptPeer = [](const ucred&) { return false; };
    HostServiceClient client(refusing);
    EXPECT_EQ(thrownMessage([&] { client.apply(shop); }), failed);
    EXPECT_FALSE(client.isConnected());
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(helper.requests().empty()) << "nothing is sent to a refused peer";

    auto missing = options(helper);
    missing.socketPath = helper.path() + ".missing";
    HostServiceClient nowhere(missing);
    EXPECT_EQ(thrownMessage([&] { nowhere.apply(shop); }), failed);
}

TEST_F(HostServiceClientTest, ConnectionStateIsReadableDuringARequest) {
    HostServiceClient client(options(helper));
    client.apply(shop);
    helper.script({Answer::Kind::normal, "", 1500ms});
    std::thread request([&] { client.apply(shop); });
    EXPECT_TRUE(helper.waitForRequests(2));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.isConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 200ms);
    request.join();

    EXPECT_EQ(helper.connections(), 1);
}

} // namespace
} // namespace vessora
