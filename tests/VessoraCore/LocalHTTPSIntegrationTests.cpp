// HTTPS requests through curl against a real nginx that serves an identity
// made by LocalHTTPS::prepare. nginx runs as the test's own (unprivileged)
// user, on a free loopback port, with every file inside the test folder.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A loopback port nobody listens on right now, and no other test takes.
std::int64_t freePort() {
    return freePorts(1).front();
}

bool accepts(std::int64_t port) {
    int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected =
        ::connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(socketFd);
    return connected;
}

// nginx in the foreground with one TLS server; stopped and reaped when the
// object goes away.
class TLSServer {
public:
    TLSServer(const fs::path& folder, std::int64_t port, const StackPaths& identity) {
        fs::create_directories(folder / "www");
        PrivateFile::writeWithMode(folder / "www/index.html", "hello from vessora\n", 0644);
        std::string f = folder.string();
        std::string config =
            "daemon off;\nmaster_process off;\npid " + f + "/nginx.pid;\nerror_log " + f +
            "/error.log;\nevents { worker_connections 16; }\nhttp {\n    access_log " + f +
            "/access.log;\n    client_body_temp_path " + f + "/body;\n    proxy_temp_path " + f +
            "/proxy;\n    fastcgi_temp_path " + f + "/fastcgi;\n    uwsgi_temp_path " + f +
            "/uwsgi;\n    scgi_temp_path " + f +
            "/scgi;\n    server {\n        listen 127.0.0.1:" + std::to_string(port) +
            " ssl;\n        ssl_certificate " + identity.tlsCertificate().string() +
            ";\n        ssl_certificate_key " + identity.tlsPrivateKey().string() +
            ";\n        root " + f +
            "/www;\n        location = /moved { return 302 /index.html; }\n    }\n}\n";
        PrivateFile::write(folder / "nginx.conf", config);
        process_ = std::make_unique<ManagedProcess>(
            "nginx", "/usr/sbin/nginx",
            std::vector<std::string>{"-p", f, "-e", f + "/error.log", "-c", f + "/nginx.conf"},
            folder / "process.log");
        for (int attempt = 0; attempt < 100 && !accepts(port); ++attempt) {
            if (!process_->isRunning())
                break;
            std::this_thread::sleep_for(100ms);
        }
        if (!accepts(port)) {
            std::string log;
            try {
                log = PrivateFile::read(folder / "error.log");
            } catch (const std::exception&) {
            }
            throw std::runtime_error("nginx did not start:\n" + log);
        }
    }

    ~TLSServer() {
        process_->signal(SIGQUIT);
        for (int attempt = 0; attempt < 50 && process_->isRunning(); ++attempt)
            std::this_thread::sleep_for(100ms);
        if (process_->isRunning())
            process_->signal(SIGKILL);
        for (int attempt = 0; attempt < 50 && process_->isRunning(); ++attempt)
            std::this_thread::sleep_for(100ms);
    }
    TLSServer(const TLSServer&) = delete;
    TLSServer& operator=(const TLSServer&) = delete;

private:
    std::unique_ptr<ManagedProcess> process_;
};

template <typename Call>
std::string messageOf(Call call) {
    try {
        call();
    } catch (const VessoraError& error) {
        return error.what();
    }
    return "(no VessoraError)";
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class LocalHTTPSIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() == 0)
            GTEST_SKIP() << "nginx must run as an unprivileged user";
        UserDefaults::setStandard(UserDefaults::inMemory());
        port = freePort();
        LocalHTTPS::prepare(paths(folder.path() / "Vessora", "shop.test"), false);
    }

    StackPaths paths(const fs::path& root, std::optional<std::string> hostname,
                     std::optional<std::int64_t> httpsPort = std::nullopt) const {
        StackProfile profile = StackProfile::defaults().at(0);
        profile.httpsEnabled = true;
        profile.httpsPort = httpsPort.value_or(port);
        profile.hostname = std::move(hostname);
        return StackPaths(root, profile);
    }

    std::string url(const std::string& host, const std::string& path = "/") const {
        return "https://" + host + ":" + std::to_string(port) + path;
    }

    TemporaryFolder folder{"vessora-https-server"};
    std::int64_t port = 0;
};

TEST_F(LocalHTTPSIntegrationTest, PinnedIdentityAnswersForEveryName) {
    StackPaths shop = paths(folder.path() / "Vessora", "shop.test");
    TLSServer server(folder.path() / "nginx", port, shop);

    // shop.test has no address at all: curl reaches it through --resolve.
    for (const std::string host : {"127.0.0.1", "localhost", "shop.test"})
        EXPECT_EQ(LocalHTTPS::get(url(host, "/index.html"), shop), "hello from vessora\n") << host;

    // A redirect is answered as it is, not followed.
    std::string moved = LocalHTTPS::get(url("127.0.0.1", "/moved"), shop);
    EXPECT_NE(moved.find("302"), std::string::npos) << moved;
    EXPECT_EQ(moved.find("hello"), std::string::npos) << moved;

    std::string missing = messageOf([&] { LocalHTTPS::get(url("localhost", "/missing"), shop); });
    EXPECT_TRUE(startsWith(missing, "curl failed (22):\n")) << missing;
    EXPECT_NE(missing.find("404"), std::string::npos) << missing;
}

TEST_F(LocalHTTPSIntegrationTest, RequestsFailWithoutTheServedIdentity) {
    StackPaths shop = paths(folder.path() / "Vessora", "shop.test");
    TLSServer server(folder.path() / "nginx", port, shop);

    // Another environment's certificate is not the served one.
    StackPaths other = paths(folder.path() / "Other", "shop.test");
    LocalHTTPS::prepare(other, false);
    std::string foreign = messageOf([&] { LocalHTTPS::get(url("shop.test"), other); });
    EXPECT_TRUE(startsWith(foreign, "curl failed (60):\n")) << foreign;

    // The served certificate does not name a hostname set after it was made.
    StackPaths renamed = paths(folder.path() / "Vessora", "renamed.test");
    std::string unnamed = messageOf([&] { LocalHTTPS::get(url("renamed.test"), renamed); });
    EXPECT_TRUE(startsWith(unnamed, "curl failed (60):\n")) << unnamed;

    // Nobody listens on the environment's port.
    std::int64_t closed = freePort();
    StackPaths idle = paths(folder.path() / "Vessora", "shop.test", closed);
    std::string refused = messageOf(
        [&] { LocalHTTPS::get("https://127.0.0.1:" + std::to_string(closed) + "/", idle); });
    EXPECT_TRUE(startsWith(refused, "curl failed (7):\n")) << refused;
}

} // namespace
} // namespace vessora
