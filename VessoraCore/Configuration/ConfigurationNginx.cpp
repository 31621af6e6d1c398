#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

#include <optional>

namespace vessora::Configuration {

// A fragment inserted into a line keeps its own line breaks: only its first
// line takes the indentation of its place.

namespace {

namespace fs = std::filesystem;

// The TLS listen lines; the server block is shared with plain HTTP, so every
// location applies to both.
std::string nginxHTTPS(const StackPaths& paths) {
    const auto& profile = paths.profile();
    if (!profile.httpsEnabled || !profile.httpsPort)
        return "";
    return joinedLines({
        "listen 127.0.0.1:" + std::to_string(*profile.httpsPort) + " ssl;",
        "ssl_certificate " + quoted3(paths.tlsCertificate().string()) + ";",
        "ssl_certificate_key " + quoted3(paths.tlsPrivateKey().string()) + ";",
        "ssl_protocols TLSv1.2 TLSv1.3;",
    });
}

// Every parameter spelled out: no parameter file of the nginx installation is
// included. Without a script, the requested one runs.
std::string fastCGI(const StackPaths& paths, const std::optional<fs::path>& script) {
    return joinedLines({
        "fastcgi_pass 127.0.0.1:" + std::to_string(paths.profile().phpPort) + ";",
        "fastcgi_param SCRIPT_FILENAME " +
            (script ? quoted3(script->string()) : "$document_root$fastcgi_script_name") + ";",
        "fastcgi_param QUERY_STRING $query_string;",
        "fastcgi_param REQUEST_METHOD $request_method;",
        "fastcgi_param CONTENT_TYPE $content_type;",
        "fastcgi_param CONTENT_LENGTH $content_length;",
        "fastcgi_param SCRIPT_NAME $fastcgi_script_name;",
        "fastcgi_param REQUEST_URI $request_uri;",
        "fastcgi_param DOCUMENT_URI $document_uri;",
        "fastcgi_param DOCUMENT_ROOT $document_root;",
        "fastcgi_param SERVER_PROTOCOL $server_protocol;",
        "fastcgi_param GATEWAY_INTERFACE CGI/1.1;",
        "fastcgi_param SERVER_SOFTWARE nginx;",
        "fastcgi_param REMOTE_ADDR $remote_addr;",
        "fastcgi_param REMOTE_PORT $remote_port;",
        "fastcgi_param SERVER_ADDR $server_addr;",
        "fastcgi_param SERVER_PORT $vessora_port;",
        "fastcgi_param SERVER_NAME $host;",
        "fastcgi_param HTTPS $https if_not_empty;",
        "fastcgi_param REQUEST_SCHEME $scheme;",
        "fastcgi_param REDIRECT_STATUS 200;",
    });
}

// With phpMyAdmin off, its paths and the internal prefix answer 404, so a
// project file placed there is never served either.
std::string phpMyAdminLocations(const StackPaths& paths) {
    const auto& profile = paths.profile();
    const std::string route = StackProfile::phpMyAdminRoute();
    const std::string bare = route.substr(0, route.size() - 1);
    if (!profile.phpMyAdminEnabled)
        return joinedLines({
            "location = " + bare + " { return 404; }",
            "location ^~ " + route + " { return 404; }",
            "location ^~ /__vessora/ { return 404; }",
        });
    const std::string redirect = " { return 302 " + route + "$is_args$args; }";
    return joinedLines({
        "location = /__vessora/" + profile.id + bare + redirect,
        "location = /__vessora/" + profile.id + route + redirect,
        "location = " + bare + redirect,
        "location ^~ " + route + " {",
        "    root " + quoted3(paths.tools().string()) + ";",
        "    index index.php;",
        "    location ~* ^/phpmyadmin/(?:libraries|vendor|templates|setup|examples|sql|tmp|doc|"
        "locale)(?:/|$) { return 404; }",
        "    location ~* ^/phpmyadmin/(?:config[^/]*[.]php|composer[.](?:json|lock)|"
        "package[.]json)$ { return 404; }",
        "    location ~ /[.] { return 404; }",
        "    location ~* [.]php$ {",
        "        try_files $uri =404;",
        "        " + fastCGI(paths, std::nullopt),
        "    }",
        "}",
        "location ^~ /__vessora/ { return 404; }",
    });
}

} // namespace

std::string nginx(const StackPaths& paths) {
    const auto& profile = paths.profile();
    auto env = paths.directory();
    // Only environments behind the router take the public port it reports.
    std::string routerPorts = profile.virtualHost ? "80 80; 443 443; 8088 8088; 8448 8448;" : "";
    return joinedLines({
        "daemon off;",
        "worker_processes 1;",
        "pid " + quoted3((env / "nginx.pid").string()) + ";",
        "error_log " + quoted3((env / "logs/nginx-error.log").string()) + ";",
        "events { worker_connections 256; }",
        "http {",
        "    map $http_x_vessora_port $vessora_port {",
        "        default $server_port;",
        "        " + routerPorts,
        "    }",
        "    access_log " + quoted3((env / "logs/nginx-access.log").string()) + ";",
        "    default_type application/octet-stream;",
        "    types {",
        "        text/html html htm;",
        "        text/css css;",
        "        application/javascript js mjs;",
        "        application/json json;",
        "        image/svg+xml svg;",
        "        image/png png;",
        "        image/gif gif;",
        "        image/jpeg jpg jpeg;",
        "        image/x-icon ico;",
        "        font/woff woff;",
        "        font/woff2 woff2;",
        "    }",
        "    client_body_temp_path " + quoted3((env / "tmp/client").string()) + ";",
        "    fastcgi_temp_path " + quoted3((env / "tmp/fastcgi").string()) + ";",
        "    server {",
        "        listen 127.0.0.1:" + std::to_string(profile.httpPort) + ";",
        "        " + nginxHTTPS(paths),
        "        server_name localhost " + profile.hostname.value_or("") + ";",
        "        absolute_redirect off;",
        "        root " + quoted3(paths.servedWeb().string()) + ";",
        "        index index.php index.html;",
        // The absolute path: the health page works whatever the site holds.
        "        location = /__vessora_health.php {",
        "            " + fastCGI(paths, paths.healthScript()),
        "        }",
        "        " + phpMyAdminLocations(paths),
        "        location / { try_files $uri $uri/ /index.php?$query_string; }",
        "        location ~* \\.php$ {",
        "            try_files $uri =404;",
        "            " + fastCGI(paths, std::nullopt),
        "        }",
        "        location ~ /\\. { deny all; }",
        "    }",
        "}",
    });
}

} // namespace vessora::Configuration
