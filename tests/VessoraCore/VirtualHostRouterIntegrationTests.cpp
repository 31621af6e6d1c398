// The router with the real nginx, in front of two environments whose own
// servers (small nginx instances with their HTTPS identities) answer with
// what reached them. Requests go to 127.0.0.1 as a browser sends them: over
// HTTP with the Host header, over HTTPS with the hostname as SNI.
#include "VessoraCore/Certificates/LocalHTTPS.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "VessoraCore/Process/PortCheck.hpp"
#include "tests/Support/FreePorts.hpp"
#include "tests/Support/LongestHostname.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path nginx = "/usr/sbin/nginx";

bool listening(std::int64_t port) {
    return !PortCheck::isAvailable(port);
}

// One environment's own web server: answers every request with its id, the
// scheme, the X-Vessora-Port header it received and the Host it saw.
class Backend {
public:
    Backend(const fs::path& folder, const StackPaths& paths) {
        fs::create_directories(folder);
        const StackProfile& profile = paths.profile();
        const std::string f = folder.string();
        auto answer = [&](const std::string& scheme) {
            return "        location / { default_type text/plain; return 200 \"" + profile.id +
                   " " + scheme + " port=$http_x_vessora_port host=$http_host\"; }\n";
        };
        const std::string config =
            "daemon off;\nmaster_process off;\npid " + f + "/nginx.pid;\nerror_log " + f +
            "/error.log;\nevents { worker_connections 16; }\nhttp {\n    access_log off;\n"
            "    client_body_temp_path " +
            f + "/body;\n    proxy_temp_path " + f + "/proxy;\n    fastcgi_temp_path " + f +
            "/fastcgi;\n    uwsgi_temp_path " + f + "/uwsgi;\n    scgi_temp_path " + f +
            "/scgi;\n    server {\n        listen 127.0.0.1:" + std::to_string(profile.httpPort) +
            ";\n" + answer("http") +
            "    }\n    server {\n        listen 127.0.0.1:" + std::to_string(*profile.httpsPort) +
            " ssl;\n        ssl_certificate " + paths.tlsCertificate().string() +
            ";\n        ssl_certificate_key " + paths.tlsPrivateKey().string() + ";\n" +
            answer("https") + "    }\n}\n";
        PrivateFile::write(folder / "nginx.conf", config);
        process_ = std::make_unique<ManagedProcess>(
            "nginx", nginx,
            std::vector<std::string>{"-p", f, "-e", f + "/error.log", "-c", f + "/nginx.conf"},
            folder / "process.log");
        for (int i = 0; i < 100 && !(listening(profile.httpPort) && listening(*profile.httpsPort));
             ++i)
            std::this_thread::sleep_for(50ms);
    }
    ~Backend() {
        process_->signal(SIGKILL);
        for (int i = 0; i < 100 && process_->isRunning(); ++i)
            std::this_thread::sleep_for(20ms);
    }
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

private:
    std::unique_ptr<ManagedProcess> process_;
};

// Takes the environment's four ports from the back of `ports`.
StackProfile environment(const std::string& id, const std::string& hostname,
                         std::vector<std::int64_t>& ports) {
    auto next = [&] {
        const std::int64_t port = ports.back();
        ports.pop_back();
        return port;
    };
    StackProfile profile;
    profile.id = id;
    profile.name = id;
    profile.php = "php@8.2";
    profile.mariaDB = "mariadb@10.11";
    profile.httpPort = next();
    profile.phpPort = next();
    profile.databasePort = next();
    profile.httpsEnabled = true;
    profile.httpsPort = next();
    profile.hostname = hostname;
    profile.virtualHost = true;
    return profile;
}

class VirtualHostRouterIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() == 0)
            GTEST_SKIP() << "nginx must run as an unprivileged user";
        if (!fs::exists(nginx))
            GTEST_SKIP() << "nginx is not installed";
        UserDefaults::setStandard(UserDefaults::inMemory());
        for (const StackProfile& profile : {a, b}) {
            const StackPaths paths(root.path(), profile);
            LocalHTTPS::prepare(paths, false);
            backends.push_back(std::make_unique<Backend>(servers.path() / profile.id, paths));
        }
    }
    void TearDown() override {
        router.stop();
        UserDefaults::setStandard(nullptr);
    }

    // curl's exit status and body.
    std::pair<int, std::string> get(const std::vector<std::string>& extra,
                                    const std::string& url) const {
        std::vector<std::string> arguments{"--silent", "--show-error", "--fail", "--noproxy",
                                           "*",        "--max-time",   "5"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(url);
        const CommandResult result = Command::run("/usr/bin/curl", arguments);
        return {result.status, result.output};
    }
    std::pair<int, std::string> http(const std::string& host) const {
        return get({"--header", "Host: " + host},
                   "http://127.0.0.1:" + std::to_string(ports.http) + "/");
    }
    std::pair<int, std::string> https(const StackProfile& trusted, const std::string& host) const {
        const std::string port = std::to_string(ports.https);
        return get({"--cacert", StackPaths(root.path(), trusted).tlsCertificate().string(),
                    "--resolve", host + ":" + port + ":127.0.0.1"},
                   "https://" + host + ":" + port + "/");
    }

    TemporaryFolder root{"vessora-router-root"};
    TemporaryFolder servers{"vessora-router-backends"};
    // Every server of the test gets ports of its own.
    std::vector<std::int64_t> free = freePorts(14);
    VirtualHostRouter::Ports ports{free[0], free[1]};
    VirtualHostRouter router{root.path(), ports};
    StackProfile a = environment("env-a", "shop.test", free);
    StackProfile b = environment("env-b", "api.blog.local", free);
    std::vector<std::unique_ptr<Backend>> backends;
};

TEST_F(VirtualHostRouterIntegrationTest, RoutesByHostnameReloadsAndStops) {
    router.apply({b, a}, nginx);
    ASSERT_TRUE(router.isRunning());
    const std::string http = std::to_string(ports.http);
    const std::string https = std::to_string(ports.https);

    // The public port reaches the environment as X-Vessora-Port: the
    // explicit one, or 80/443 when the Host header has none (the relay).
    EXPECT_EQ(this->http("shop.test:" + http),
              std::pair(0, "env-a http port=" + http + " host=shop.test:" + http));
    EXPECT_EQ(this->http("api.blog.local"),
              std::pair(0, std::string("env-b http port=80 host=api.blog.local")));
    EXPECT_EQ(this->https(a, "shop.test"),
              std::pair(0, "env-a https port=" + https + " host=shop.test:" + https));
    EXPECT_EQ(this->https(b, "api.blog.local"),
              std::pair(0, "env-b https port=" + https + " host=api.blog.local:" + https));
    EXPECT_EQ(get({"--header", "Host: api.blog.local"},
                  "http://127.0.0.1:" + http + VirtualHostRouter::healthPath),
              std::pair(0, router.generation()));

    // Unknown names: 404 over HTTP (curl 22), no TLS handshake at all (35).
    EXPECT_EQ(this->http("other.test").first, 22);
    EXPECT_EQ(this->https(a, "other.test").first, 35);

    // Reload in place without env-b. nginx's old workers may still take a
    // connection for a moment after the new ones answer, until they have
    // been told to quit.
    const auto process = router.child();
    router.apply({a}, nginx);
    EXPECT_EQ(router.child(), process);
    std::pair<int, int> gone;
    for (int attempt = 0; attempt < 100; ++attempt) {
        gone = {this->http("api.blog.local").first, this->https(b, "api.blog.local").first};
        if (gone == std::pair(22, 35))
            break;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(gone, std::pair(22, 35));
    EXPECT_EQ(this->https(a, "shop.test").first, 0);

    router.stop();
    EXPECT_FALSE(process->isRunning());
    EXPECT_FALSE(listening(ports.http));
    EXPECT_FALSE(listening(ports.https));
}

TEST_F(VirtualHostRouterIntegrationTest, CandidateNginxRejectsLeavesRouterServing) {
    router.apply({a}, nginx);
    const std::string loaded = PrivateFile::read(root.path() / ".router/nginx.conf");

    // An HTTPS environment whose identity was never made: nginx -t refuses.
    StackProfile unready = environment("env-c", "new.test", free);
    std::string message;
    try {
        router.apply({a, unready}, nginx);
    } catch (const std::exception& error) {
        message = error.what();
    }
    EXPECT_EQ(message.rfind("nginx failed (1):\n", 0), 0u) << message;
    EXPECT_NE(message.find("localhost.crt"), std::string::npos) << message;
    EXPECT_EQ(PrivateFile::read(root.path() / ".router/nginx.conf"), loaded);
    EXPECT_EQ(router.active(), std::vector<StackProfile>{a});
    EXPECT_EQ(https(a, "shop.test").first, 0);

    // Killed from outside: the next apply starts a new router.
    const auto first = router.child();
    first->signal(SIGKILL);
    for (int i = 0; i < 100 && first->isRunning(); ++i)
        std::this_thread::sleep_for(20ms);
    router.apply({a}, nginx);
    EXPECT_NE(router.child(), first);
    EXPECT_EQ(http("shop.test").second, "env-a http port=80 host=shop.test");
}

// The longest hostname the rules allow, 253 bytes, beside short ones: nginx's
// test of the router text takes it, and requests for each name reach their
// own environment over HTTP and HTTPS.
TEST_F(VirtualHostRouterIntegrationTest, ALongestHostnameRoutesBesideShortOnes) {
    const std::string longest = longestHostname();
    ASSERT_EQ(longest.size(), 253u);
    const StackProfile c = environment("env-c", longest, free);
    const StackPaths paths(root.path(), c);
    LocalHTTPS::prepare(paths, false);
    const Backend backend(servers.path() / c.id, paths);

    router.apply({a, c, b}, nginx);
    const std::string https = std::to_string(ports.https);
    EXPECT_EQ(http(longest), std::pair(0, "env-c http port=80 host=" + longest));
    EXPECT_EQ(this->https(c, longest),
              std::pair(0, "env-c https port=" + https + " host=" + longest + ":" + https));
    EXPECT_EQ(http("shop.test"), std::pair(0, std::string("env-a http port=80 host=shop.test")));
    EXPECT_EQ(this->https(b, "api.blog.local").first, 0);
}

} // namespace
} // namespace vessora
