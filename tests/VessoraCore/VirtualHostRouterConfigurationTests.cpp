#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vessora {
namespace {

StackProfile routed(const std::string& id, const std::string& hostname, std::int64_t httpPort,
                    std::optional<std::int64_t> httpsPort = std::nullopt) {
    StackProfile profile;
    profile.id = id;
    profile.name = id;
    profile.php = "php@8.4";
    profile.mariaDB = "mariadb@11.4";
    profile.httpPort = httpPort;
    profile.phpPort = httpPort + 1;
    profile.databasePort = httpPort + 2;
    profile.hostname = hostname;
    profile.virtualHost = true;
    profile.httpsEnabled = httpsPort.has_value();
    profile.httpsPort = httpsPort;
    return profile;
}

std::size_t count(const std::string& text, const std::string& piece) {
    std::size_t found = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++found;
    return found;
}

const std::string header = R"(daemon off;
worker_processes 1;
pid "/data/.router/router.pid";
error_log "/data/.router/error.log";
events { worker_connections 512; }
http {
    access_log off;
    client_max_body_size 128m;
    server_names_hash_bucket_size 512;
    client_body_temp_path "/data/.router/body";
    proxy_temp_path "/data/.router/proxy";
    map $http_upgrade $upgrade_connection { default upgrade; '' close; }
    map $http_host $explicit_port { default ''; ~:(?<requested_port>[0-9]+)$ $requested_port; }
    map "$scheme:$explicit_port" $external_port {
        default $explicit_port;
        "http:" 80;
        "https:" 443;
    }
    server { listen 127.0.0.1:8088 default_server; server_name _; return 404; }
    server { listen 127.0.0.1:8448 ssl default_server; server_name _; ssl_reject_handshake on; }
    )";

const std::string forwarding = R"(    proxy_http_version 1.1;
    proxy_set_header Host $http_host;
    proxy_set_header X-Forwarded-Host $http_host;
    proxy_set_header X-Forwarded-Proto $scheme;
    proxy_set_header X-Forwarded-Port $external_port;
    proxy_set_header X-Vessora-Port $external_port;
    proxy_set_header X-Real-IP 127.0.0.1;
    proxy_set_header X-Forwarded-For 127.0.0.1;
    proxy_set_header Upgrade $http_upgrade;
    proxy_set_header Connection $upgrade_connection;
    proxy_redirect off;
)";

TEST(VirtualHostRouterConfigurationTest, OneRecordWithHttpsIsTheWholeFileExactly) {
    const std::string expected = header + R"(server {
    listen 127.0.0.1:8088;
    server_name shop.test;
    location = /__vessora_router_health { default_type text/plain; return 200 "GEN-1"; }
    location / {
    proxy_pass http://127.0.0.1:18080;
)" + forwarding +
                                 R"(    
}
}
server {
    listen 127.0.0.1:8448 ssl;
    server_name shop.test;
    ssl_certificate "/data/env-a/config/tls/identity/localhost.crt";
    ssl_certificate_key "/data/env-a/config/tls/identity/localhost.key";
    ssl_protocols TLSv1.2 TLSv1.3;
    location / {
    proxy_pass https://127.0.0.1:18443;
)" + forwarding +
                                 R"(    proxy_ssl_server_name on;
proxy_ssl_name shop.test;
proxy_ssl_verify on;
proxy_ssl_trusted_certificate "/data/env-a/config/tls/identity/localhost.crt";
}
}
})";
    EXPECT_EQ(VirtualHostRouter::configuration(
                  "/data", {routed("env-a", "shop.test", 18080, 18443)}, "GEN-1"),
              expected);
}

TEST(VirtualHostRouterConfigurationTest, EmptyListAndHttpOnlyRecords) {
    EXPECT_EQ(VirtualHostRouter::configuration("/data", {}, "G"), header + "\n}");

    const std::string text =
        VirtualHostRouter::configuration("/data", {routed("env-a", "a.test", 18080)}, "G");
    EXPECT_EQ(count(text, "server {\n"), 1u);
    EXPECT_EQ(count(text, "listen 127.0.0.1:8448 ssl;"), 0u);
    // An HTTP-only record's text ends with its line feed: an empty line
    // stands before the closing brace of the http block.
    EXPECT_NE(text.find("proxy_redirect off;\n    \n}\n}\n\n}"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "}\n\n}");
}

TEST(VirtualHostRouterConfigurationTest, RecordsAreSortedByIdAndHealthOnlyInHttpBlocks) {
    const StackProfile a = routed("env-a", "a.test", 18080, 18443);
    const StackProfile b = routed("env-b", "b.test", 19080);
    const std::string forward = VirtualHostRouter::configuration("/data", {a, b}, "G-7");
    EXPECT_EQ(VirtualHostRouter::configuration("/data", {b, a}, "G-7"), forward);
    EXPECT_LT(forward.find("server_name a.test;"), forward.find("server_name b.test;"));

    EXPECT_EQ(count(forward, "return 200 \"G-7\";"), 2u) << "once per routed record";
    EXPECT_EQ(count(forward, "G-7"), 2u);
    EXPECT_EQ(count(forward, "/__vessora_router_health"), 2u);
    EXPECT_EQ(count(forward, "listen 127.0.0.1:8448 ssl;"), 1u);
}

TEST(VirtualHostRouterConfigurationTest, PathsEscapeDollarQuoteAndBackslash) {
    const std::string text = VirtualHostRouter::configuration(
        R"(/srv/My "Data" \ $HOME)", {routed("env-a", "a.test", 18080, 18443)}, "G");
    const std::string router = R"("/srv/My \"Data\" \\ \$HOME/.router)";
    EXPECT_NE(text.find("pid " + router + R"(/router.pid";)"), std::string::npos);
    EXPECT_NE(text.find("error_log " + router + R"(/error.log";)"), std::string::npos);
    EXPECT_NE(text.find("client_body_temp_path " + router + R"(/body";)"), std::string::npos);
    EXPECT_NE(text.find("proxy_temp_path " + router + R"(/proxy";)"), std::string::npos);
    const std::string certificate =
        R"("/srv/My \"Data\" \\ \$HOME/env-a/config/tls/identity/localhost.crt";)";
    EXPECT_NE(text.find("ssl_certificate " + certificate), std::string::npos);
    EXPECT_NE(text.find("proxy_ssl_trusted_certificate " + certificate), std::string::npos);
}

} // namespace
} // namespace vessora
