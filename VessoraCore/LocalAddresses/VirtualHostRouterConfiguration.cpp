// The router's nginx main file.
#include "VessoraCore/LocalAddresses/VirtualHostRouter.hpp"

#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <algorithm>
#include <stdexcept>

namespace vessora {
namespace {

namespace fs = std::filesystem;
using Configuration::quoted3;

// The forwarding location; its first line takes the indentation of its place.
std::string proxy(const StackProfile& profile, bool tls, const fs::path& root) {
    const std::string port = std::to_string(tls ? *profile.httpsPort : profile.httpPort);
    std::string text = "location / {\n"
                       "    proxy_pass " +
                       std::string(tls ? "https" : "http") + "://127.0.0.1:" + port +
                       ";\n"
                       "    proxy_http_version 1.1;\n"
                       "    proxy_set_header Host $http_host;\n"
                       "    proxy_set_header X-Forwarded-Host $http_host;\n"
                       "    proxy_set_header X-Forwarded-Proto $scheme;\n"
                       "    proxy_set_header X-Forwarded-Port $external_port;\n"
                       "    proxy_set_header X-Vessora-Port $external_port;\n"
                       "    proxy_set_header X-Real-IP 127.0.0.1;\n"
                       "    proxy_set_header X-Forwarded-For 127.0.0.1;\n"
                       "    proxy_set_header Upgrade $http_upgrade;\n"
                       "    proxy_set_header Connection $upgrade_connection;\n"
                       "    proxy_redirect off;\n";
    if (tls) {
        // The environment's server is verified against the certificate the
        // router itself presents for it.
        text += "    proxy_ssl_server_name on;\n"
                "proxy_ssl_name " +
                *profile.hostname +
                ";\n"
                "proxy_ssl_verify on;\n"
                "proxy_ssl_trusted_certificate " +
                quoted3(StackPaths(root, profile).tlsCertificate().string()) + ";";
    } else {
        text += "    ";
    }
    return text + "\n}";
}

std::string blocks(const StackProfile& profile, const std::string& generation, const fs::path& root,
                   const VirtualHostRouter::Ports& ports) {
    const std::string hostname = profile.hostname.value_or("");
    std::string text = "server {\n"
                       "    listen 127.0.0.1:" +
                       std::to_string(ports.http) +
                       ";\n"
                       "    server_name " +
                       hostname +
                       ";\n"
                       "    location = " +
                       VirtualHostRouter::healthPath + " { default_type text/plain; return 200 \"" +
                       generation +
                       "\"; }\n"
                       "    " +
                       proxy(profile, false, root) + "\n}\n";
    if (!profile.httpsEnabled)
        return text;
    if (!profile.httpsPort)
        throw std::invalid_argument("The router needs the HTTPS port of " + profile.id + ".");
    const StackPaths paths(root, profile);
    text += "server {\n"
            "    listen 127.0.0.1:" +
            std::to_string(ports.https) +
            " ssl;\n"
            "    server_name " +
            hostname +
            ";\n"
            "    ssl_certificate " +
            quoted3(paths.tlsCertificate().string()) +
            ";\n"
            "    ssl_certificate_key " +
            quoted3(paths.tlsPrivateKey().string()) +
            ";\n"
            "    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "    " +
            proxy(profile, true, root) + "\n}";
    return text;
}

} // namespace

std::string VirtualHostRouter::configuration(const fs::path& root,
                                             const std::vector<StackProfile>& profiles,
                                             const std::string& generation) {
    return configuration(root, profiles, generation, Ports{});
}

std::string VirtualHostRouter::configuration(const fs::path& root,
                                             const std::vector<StackProfile>& profiles,
                                             const std::string& generation, Ports ports) {
    std::vector<StackProfile> sorted = profiles;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const StackProfile& a, const StackProfile& b) { return a.id < b.id; });
    const fs::path router = root / ".router";
    const std::string http = std::to_string(ports.http);
    const std::string https = std::to_string(ports.https);
    std::string text =
        "daemon off;\n"
        "worker_processes 1;\n"
        "pid " +
        quoted3((router / "router.pid").string()) +
        ";\n"
        "error_log " +
        quoted3((router / "error.log").string()) +
        ";\n"
        "events { worker_connections 512; }\n"
        "http {\n"
        "    access_log off;\n"
        "    client_max_body_size 128m;\n"
        // A bucket must hold the longest name with its pointer and end
        // marker: 272 bytes for a 253-byte hostname, rounded up to the cache
        // line. The default, one 64-byte line, holds names of 46 bytes.
        "    server_names_hash_bucket_size 512;\n"
        "    client_body_temp_path " +
        quoted3((router / "body").string()) +
        ";\n"
        "    proxy_temp_path " +
        quoted3((router / "proxy").string()) +
        ";\n"
        "    map $http_upgrade $upgrade_connection { default upgrade; '' close; }\n"
        "    map $http_host $explicit_port { default ''; ~:(?<requested_port>[0-9]+)$ "
        "$requested_port; }\n"
        "    map \"$scheme:$explicit_port\" $external_port {\n"
        "        default $explicit_port;\n"
        "        \"http:\" 80;\n"
        "        \"https:\" 443;\n"
        "    }\n"
        "    server { listen 127.0.0.1:" +
        http +
        " default_server; server_name _; return 404; }\n"
        "    server { listen 127.0.0.1:" +
        https + " ssl default_server; server_name _; ssl_reject_handshake on; }\n    ";
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0)
            text += "\n";
        text += blocks(sorted[i], generation, root, ports);
    }
    return text + "\n}";
}

} // namespace vessora
