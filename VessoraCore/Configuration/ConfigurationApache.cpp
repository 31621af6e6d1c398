#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

namespace {

namespace fs = std::filesystem;

// Behind the router (or its relay on 80 and 443) the public port is the
// router's, so the names Apache builds point where the user is.
std::int64_t publicPort(const StackProfile& profile, std::int64_t standard, std::int64_t routed,
                        std::int64_t own) {
    if (profile.standardPorts)
        return standard;
    if (profile.virtualHost)
        return routed;
    return own;
}

// Apache takes a <Directory> path holding "*", "?" or "[" for a wildcard
// pattern that no longer matches the folder itself, which then stays denied.
// Such a path is written as the pattern that matches exactly it.
std::string directoryPath(const fs::path& path) {
    const std::string text = path.string();
    if (text.find_first_of("*?[") == std::string::npos)
        return quoted3(text);
    std::string pattern;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '[')
            pattern += std::string("[") + c + "]";
        else if (c == '\\')
            pattern += "\\\\";
        else
            pattern += c;
    }
    return quoted3(pattern);
}

// AliasMatch reads a backslash in its target as an escape; doubled, it
// stands for itself.
std::string substitution(const fs::path& path) {
    std::string text;
    for (char c : path.string()) {
        if (c == '\\')
            text += '\\';
        text += c;
    }
    return quoted3(text);
}

std::string handler(const StackProfile& profile) {
    return "\"proxy:fcgi://127.0.0.1:" + std::to_string(profile.phpPort) + "\"";
}

// The TLS virtual host inherits everything from the main server and only
// adds TLS. No session cache, so no cache module is needed.
std::string apacheHTTPS(const StackPaths& paths) {
    const auto& profile = paths.profile();
    if (!profile.httpsEnabled || !profile.httpsPort)
        return "";
    auto port = std::to_string(*profile.httpsPort);
    auto publicName = profile.hostname.value_or("localhost") + ":" +
                      std::to_string(publicPort(profile, 443, StackProfile::virtualHTTPSPort(),
                                                *profile.httpsPort));
    return joinedLines({
        "Listen 127.0.0.1:" + port + " https",
        "SSLSessionCache none",
        "<VirtualHost 127.0.0.1:" + port + ">",
        "    ServerName " + publicName,
        "    SSLEngine on",
        "    SSLProtocol -all +TLSv1.2 +TLSv1.3",
        "    SSLCertificateFile " + quoted3(paths.tlsCertificate().string()),
        "    SSLCertificateKeyFile " + quoted3(paths.tlsPrivateKey().string()),
        "    SSLOptions +StdEnvVars",
        "</VirtualHost>",
    });
}

// With phpMyAdmin off, its path and the internal prefix answer 404.
std::string phpMyAdminLines(const StackPaths& paths) {
    const auto& profile = paths.profile();
    if (!profile.phpMyAdminEnabled)
        return "RedirectMatch 404 \"^/(?:__vessora|phpmyadmin)(?:/|$)\"";
    const std::string route = StackProfile::phpMyAdminRoute();
    const std::string bare = route.substr(0, route.size() - 1);
    return joinedLines({
        "RedirectMatch 302 \"^/__vessora/" + profile.id + bare + "/?$\" \"" + route + "\"",
        "RedirectMatch 302 \"^" + bare + "$\" \"" + route + "\"",
        "Alias " + quoted3(bare) + " " + quoted3(paths.phpMyAdmin().string()),
        "<Directory " + directoryPath(paths.phpMyAdmin()) + ">",
        "    Require all granted",
        "    AllowOverride None",
        "    Options -Indexes",
        "    DirectoryIndex index.php",
        "    <FilesMatch \"(?i)[.]php$\">",
        "        SetHandler " + handler(profile),
        "    </FilesMatch>",
        "</Directory>",
        "RedirectMatch 404 \"^/__vessora(?:/|$)\"",
        "RedirectMatch 404 \"(?i)^/phpmyadmin/(?:libraries|vendor|templates|setup|examples|sql|"
        "tmp|doc|locale)(?:/|$)\"",
        "RedirectMatch 404 \"(?i)^/phpmyadmin/(?:config[^/]*[.]php|composer[.](?:json|lock)|"
        "package[.]json)$\"",
    });
}

} // namespace

std::string apache(const StackPaths& paths, const fs::path& prefix) {
    const auto& profile = paths.profile();
    auto env = paths.directory();

    std::vector<std::string> modules{"mpm_event", "unixd",      "authz_core", "authz_host",
                                     "dir",       "mime",       "proxy",      "proxy_fcgi",
                                     "alias",     "log_config", "rewrite"};
    if (profile.httpsEnabled)
        modules.push_back("ssl");
    std::string loads;
    for (const auto& module : modules) {
        auto file = prefix / "lib/httpd/modules" / ("mod_" + module + ".so");
        loads += "\nLoadModule " + module + "_module " + quoted3(file.string());
    }
    auto port = publicPort(profile, 80, StackProfile::virtualHTTPPort(), profile.httpPort);
    auto served = paths.servedWeb();

    return joinedLines({
        "ServerRoot " + quoted3(env.string()) + loads,
        "ServerName " + profile.hostname.value_or("127.0.0.1") + ":" + std::to_string(port),
        profile.virtualHost ? "UseCanonicalName On\nUseCanonicalPhysicalPort Off" : "",
        "Listen 127.0.0.1:" + std::to_string(profile.httpPort),
        "PidFile " + quoted3((env / "httpd.pid").string()),
        "DefaultRuntimeDir " + quoted3((env / "tmp/apache").string()),
        "ErrorLog " + quoted3((env / "logs/apache-error.log").string()),
        "CustomLog " + quoted3((env / "logs/apache-access.log").string()) +
            " \"%h %l %u %t \\\"%r\\\" %>s %b\"",
        "StartServers 1",
        "ServerLimit 1",
        "ThreadsPerChild 16",
        "MaxRequestWorkers 16",
        "MinSpareThreads 4",
        "MaxSpareThreads 16",
        "ProxyRequests Off",
        "TypesConfig /dev/null",
        "AddType text/html .html .htm",
        "AddType text/css .css",
        "AddType application/javascript .js .mjs",
        "AddType application/json .json",
        "AddType image/svg+xml .svg",
        "AddType image/png .png",
        "AddType image/jpeg .jpg .jpeg",
        "AddType image/gif .gif",
        "AddType image/x-icon .ico",
        "AddType font/woff .woff",
        "AddType font/woff2 .woff2",
        "<Directory />",
        "    Require all denied",
        "    AllowOverride None",
        "</Directory>",
        "DocumentRoot " + quoted3(served.string()),
        "AliasMatch \"^/__vessora_health[.]php$\" " + substitution(paths.healthScript()),
        "<Directory " + directoryPath(paths.healthDirectory()) + ">",
        "    Require all granted",
        "    AllowOverride None",
        "    Options -Indexes",
        "    <Files \"health.php\">",
        "        SetHandler " + handler(profile),
        "    </Files>",
        "</Directory>",
        "<Directory " + directoryPath(served) + ">",
        "    Require all granted",
        "    AllowOverride All",
        "    Options +FollowSymLinks -Indexes",
        "    DirectoryIndex index.php index.html",
        "    FallbackResource /index.php",
        "    <FilesMatch \"(?i)[.]php$\">",
        "        SetHandler " + handler(profile),
        "    </FilesMatch>",
        "</Directory>",
        phpMyAdminLines(paths),
        "RedirectMatch 404 \"(^|/)[.]\"",
        // Without HTTPS the file ends with the line feed of the line above.
        apacheHTTPS(paths),
    });
}

} // namespace vessora::Configuration
