#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

StackProfile record() {
    StackProfile profile;
    profile.id = "studio";
    profile.name = "Studio";
    profile.php = "php@8.4";
    profile.mariaDB = "mariadb@11.4";
    profile.httpPort = 8080;
    profile.phpPort = 9084;
    profile.databasePort = 13307;
    return profile;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream stream(text);
    while (std::getline(stream, line))
        out.push_back(line);
    if (!text.empty() && text.back() == '\n')
        out.push_back("");
    return out;
}

bool hasLine(const std::string& text, const std::string& line) {
    auto all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::size_t count(const std::string& text, const std::string& piece) {
    std::size_t found = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++found;
    return found;
}

// A data root with every character the quoting forms treat specially.
const fs::path awkwardRoot = R"(/srv/My "Data" \ $HOME)";

TEST(ConfigurationQuotingTest, EachFormEscapesOnlyItsCharactersOnce) {
    const std::string text = R"(a\b"c$d'e)";
    EXPECT_EQ(Configuration::quoted2(text), R"("a\\b\"c$d'e")");
    EXPECT_EQ(Configuration::quoted3(text), R"("a\\b\"c\$d'e")");
    EXPECT_EQ(Configuration::phpLiteral(text), R"('a\\b"c$d\'e')");
    EXPECT_EQ(Configuration::quoted2(R"(\")"), R"("\\\"")") << "the added backslash is not doubled";
    EXPECT_EQ(Configuration::phpLiteral(""), "''");
}

TEST(ConfigurationPhpSideTest, PhpIniAndPoolQuotePathsWithTwoEscapes) {
    StackPaths paths(awkwardRoot, record());
    auto ini = Configuration::php(paths);
    auto iniLines = lines(ini);
    ASSERT_EQ(iniLines.size(), 9u);
    EXPECT_EQ(iniLines[0], "[PHP]");
    EXPECT_EQ(iniLines[5], R"(error_log = "/srv/My \"Data\" \\ $HOME/studio/logs/php-error.log")");
    EXPECT_EQ(iniLines[6],
              R"(session.save_path = "/srv/My \"Data\" \\ $HOME/studio/tmp/sessions")");
    EXPECT_EQ(iniLines[8], "cgi.fix_pathinfo = 0");

    auto pool = lines(Configuration::fpm(paths));
    ASSERT_EQ(pool.size(), 13u);
    EXPECT_EQ(pool[1], R"(pid = "/srv/My \"Data\" \\ $HOME/studio/php-fpm.pid")");
    EXPECT_EQ(pool[5], "listen = 127.0.0.1:9084");
    EXPECT_EQ(pool[12], "security.limit_extensions = .php");
}

TEST(ConfigurationPhpSideTest, MariaDBOptionsFollowSeriesPortAndPacketLimit) {
    auto profile = record();
    StackPaths paths("/data root", profile);
    auto text = lines(Configuration::database(paths, "/opt/brew/opt/mariadb@11.4",
                                              "/tmp/vessora-501-0123/studio.sock"));
    ASSERT_EQ(text.size(), 13u);
    EXPECT_EQ(text[0], "[mariadbd]");
    EXPECT_EQ(text[1], R"(basedir="/opt/brew/opt/mariadb@11.4")");
    EXPECT_EQ(text[2], R"(datadir="/data root/studio/data/mariadb@11.4")");
    EXPECT_EQ(text[3], R"(socket="/tmp/vessora-501-0123/studio.sock")");
    EXPECT_EQ(text[4], "port=13307");
    EXPECT_EQ(text[11], "max-allowed-packet=65M");
    EXPECT_EQ(text[12], R"(tmpdir="/data root/studio/tmp")");

    profile.mariaDB = "mariadb@10.11";
    auto other = Configuration::database(StackPaths("/data root", profile), "/p", "/s");
    EXPECT_TRUE(hasLine(other, R"(datadir="/data root/studio/data/mariadb@10.11")"));
}

TEST(ConfigurationPhpSideTest, ProbeQuotesOnlyThePasswordAndHealthRequiresTheProbe) {
    auto profile = record();
    profile.databaseName = "shop_db";
    StackPaths paths("/data/it's", profile);
    auto probe = lines(Configuration::probe(paths, R"(pa'ss\word)", "T0KEN"));
    ASSERT_EQ(probe.size(), 7u);
    EXPECT_EQ(probe[1], "$pdo = new PDO('mysql:host=127.0.0.1;port=13307;dbname=shop_db;"
                        "charset=utf8mb4', 'vessora', 'pa\\'ss\\\\word', [PDO::ATTR_ERRMODE => "
                        "PDO::ERRMODE_EXCEPTION, PDO::ATTR_TIMEOUT => 2]);");
    EXPECT_EQ(probe[2], "return ['setup' => 'studio', 'token' => 'T0KEN', 'php' => PHP_VERSION,");
    EXPECT_EQ(probe[4], "        'database_port' => 13307,");
    EXPECT_EQ(probe[5], "        'database' => 'shop_db',");

    auto health = lines(Configuration::health(paths));
    ASSERT_EQ(health.size(), 9u);
    EXPECT_EQ(health[4], R"(    echo json_encode(require '/data/it\'s/studio/config/probe.php', )"
                         "JSON_THROW_ON_ERROR);");
    EXPECT_EQ(health[8], "}");
}

TEST(ConfigurationWelcomePageTest, PageAndLegacyVariants) {
    const auto& page = Configuration::welcomePage();
    EXPECT_EQ(page.size(), 1002u);
    EXPECT_EQ(lines(page).size(), 11u);
    EXPECT_NE(page.back(), '\n');
    EXPECT_EQ(page.find("<?"), std::string::npos) << "the page holds no PHP";
    EXPECT_NE(page.find("/__vessora_health.php"), std::string::npos);

    const auto& legacy = Configuration::legacyWelcomePages();
    ASSERT_EQ(legacy.size(), 2u);
    EXPECT_NE(legacy[0].find("<html lang=\"de\">"), std::string::npos);
    EXPECT_NE(legacy[0].find("Webserver, PHP und MariaDB arbeiten zusammen."), std::string::npos);
    EXPECT_NE(legacy[0].find("Verbindung wird geprüft …"), std::string::npos);
    EXPECT_NE(legacy[0].find("Status konnte nicht geladen werden."), std::string::npos);
    EXPECT_EQ(legacy[0].find("Your"), std::string::npos) << "every English sentence replaced";
    EXPECT_NE(legacy[1].find("nginx, PHP und MariaDB"), std::string::npos);
}

TEST(ConfigurationWelcomePageTest, WritesOnlyOverNothingOrAnEarlierPage) {
    TemporaryFolder folder;
    auto page = folder.path() / "index.php";
    Configuration::ensureWelcomePage(page);
    EXPECT_EQ(PrivateFile::read(page), Configuration::welcomePage());

    for (const auto& earlier : Configuration::legacyWelcomePages()) {
        PrivateFile::write(page, earlier);
        ::chmod(page.c_str(), 0640);
        Configuration::ensureWelcomePage(page);
        EXPECT_EQ(PrivateFile::read(page), Configuration::welcomePage());
        struct stat info {};
        ::stat(page.c_str(), &info);
        EXPECT_EQ(info.st_mode & 07777, 0640u) << "the replaced page keeps its mode";
    }

    PrivateFile::write(page, Configuration::legacyWelcomePages()[0] + "\n");
    Configuration::ensureWelcomePage(page);
    EXPECT_EQ(PrivateFile::read(page), Configuration::legacyWelcomePages()[0] + "\n")
        << "an edited page belongs to the user";

    auto target = folder.path() / "elsewhere.php";
    PrivateFile::write(target, Configuration::legacyWelcomePages()[0]);
    auto link = folder.path() / "linked.php";
    fs::create_symlink(target, link);
    Configuration::ensureWelcomePage(link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(PrivateFile::read(target), Configuration::legacyWelcomePages()[0]);

    auto dangling = folder.path() / "dangling.php";
    fs::create_symlink(folder.path() / "missing.php", dangling);
    Configuration::ensureWelcomePage(dangling);
    EXPECT_FALSE(fs::exists(folder.path() / "missing.php"));

    auto directory = folder.path() / "folder.php";
    fs::create_directory(directory);
    Configuration::ensureWelcomePage(directory);
    EXPECT_TRUE(fs::is_directory(directory));

    EXPECT_THROW(Configuration::ensureWelcomePage(folder.path() / "absent/index.php"),
                 fs::filesystem_error);
}

TEST(ConfigurationNginxTest, PlainRecordLeavesOptionalLinesBlank) {
    StackPaths paths("/data", record());
    auto text = Configuration::nginx(paths);
    auto all = lines(text);
    ASSERT_EQ(all.size(), 88u);
    EXPECT_EQ(all[0], "daemon off;");
    EXPECT_EQ(all[2], R"(pid "/data/studio/nginx.pid";)");
    EXPECT_EQ(all[8], std::string(8, ' ')) << "no router ports without virtual host";
    EXPECT_EQ(all[28], "        listen 127.0.0.1:8080;");
    EXPECT_EQ(all[29], std::string(8, ' ')) << "no TLS lines";
    EXPECT_EQ(all[30], "        server_name localhost ;");
    EXPECT_EQ(all[32], R"(        root "/data/studio/public";)");
    EXPECT_EQ(all[35], "            fastcgi_pass 127.0.0.1:9084;");
    EXPECT_EQ(all[36], R"(fastcgi_param SCRIPT_FILENAME "/data/studio/tools/health/health.php";)");
    EXPECT_EQ(all[57], "        location = /phpmyadmin { return 404; }");
    EXPECT_EQ(all[58], "location ^~ /phpmyadmin/ { return 404; }");
    EXPECT_EQ(all[59], "location ^~ /__vessora/ { return 404; }");
    EXPECT_EQ(all[60], "        location / { try_files $uri $uri/ /index.php?$query_string; }");
    EXPECT_EQ(all[63], "            fastcgi_pass 127.0.0.1:9084;");
    EXPECT_EQ(all[64], "fastcgi_param SCRIPT_FILENAME $document_root$fastcgi_script_name;");
    EXPECT_EQ(all[79], "fastcgi_param SERVER_PORT $vessora_port;");
    EXPECT_EQ(all.back(), "}");
    EXPECT_EQ(text.back(), '}');
    EXPECT_EQ(text.find('\t'), std::string::npos);
}

TEST(ConfigurationNginxTest, HttpsHostnameRouterAndPhpMyAdmin) {
    auto profile = record();
    profile.httpsEnabled = true;
    profile.hostname = "shop.test";
    profile.virtualHost = true;
    profile.phpMyAdminEnabled = true;
    profile.projectSubdirectory = "web";
    StackPaths paths("/data", profile);

    auto withoutPort = Configuration::nginx(paths);
    EXPECT_TRUE(hasLine(withoutPort, std::string(8, ' '))) << "HTTPS on but no port";
    EXPECT_EQ(withoutPort.find("ssl"), std::string::npos);

    profile.httpsPort = 8443;
    paths = StackPaths("/data", profile);
    auto text = Configuration::nginx(paths);
    auto all = lines(text);
    ASSERT_EQ(all.size(), 123u);
    EXPECT_EQ(all[8], "        80 80; 443 443; 8088 8088; 8448 8448;");
    EXPECT_EQ(all[29], "        listen 127.0.0.1:8443 ssl;");
    EXPECT_EQ(all[30], R"(ssl_certificate "/data/studio/config/tls/identity/localhost.crt";)");
    EXPECT_EQ(all[31], R"(ssl_certificate_key "/data/studio/config/tls/identity/localhost.key";)");
    EXPECT_EQ(all[32], "ssl_protocols TLSv1.2 TLSv1.3;");
    EXPECT_EQ(all[33], "        server_name localhost shop.test;");
    EXPECT_EQ(all[35], R"(        root "/data/studio/tools/web-root";)");
    EXPECT_TRUE(hasLine(text, "        location = /__vessora/studio/phpmyadmin { return 302 "
                              "/phpmyadmin/$is_args$args; }"));
    EXPECT_TRUE(hasLine(text, "location = /__vessora/studio/phpmyadmin/ { return 302 "
                              "/phpmyadmin/$is_args$args; }"));
    EXPECT_TRUE(hasLine(text, "location = /phpmyadmin { return 302 /phpmyadmin/$is_args$args; }"));
    EXPECT_TRUE(hasLine(text, R"(    root "/data/studio/tools";)"));
    EXPECT_TRUE(hasLine(text, "        try_files $uri =404;"));
    EXPECT_TRUE(hasLine(text, "location ^~ /__vessora/ { return 404; }"));
    EXPECT_EQ(count(text, "fastcgi_pass 127.0.0.1:9084;"), 3u);
    EXPECT_EQ(count(text, "return 404; }"), 4u);
}

TEST(ConfigurationNginxTest, PathsUseThreeEscapes) {
    auto profile = record();
    profile.httpsEnabled = true;
    profile.httpsPort = 8443;
    auto text = Configuration::nginx(StackPaths(awkwardRoot, profile));
    const std::string quotedRoot = R"("/srv/My \"Data\" \\ \$HOME/studio)";
    EXPECT_TRUE(hasLine(text, "pid " + quotedRoot + R"(/nginx.pid";)"));
    EXPECT_TRUE(hasLine(text, "    client_body_temp_path " + quotedRoot + R"(/tmp/client";)"));
    EXPECT_TRUE(
        hasLine(text, "ssl_certificate " + quotedRoot + R"(/config/tls/identity/localhost.crt";)"));
    EXPECT_TRUE(hasLine(text, "        root " + quotedRoot + R"(/public";)"));
    EXPECT_EQ(count(text, "$HOME"), count(text, "\\$HOME")) << "no unescaped dollar sign";
}

TEST(ConfigurationApacheTest, PlainRecordEndsWithTheDotFileRule) {
    auto profile = record();
    profile.documentRoot = "/home/a/site";
    auto text = Configuration::apache(StackPaths("/data", profile), "/opt/brew/opt/httpd");
    auto all = lines(text);
    EXPECT_EQ(all[0], R"(ServerRoot "/data/studio")");
    EXPECT_EQ(
        all[1],
        R"(LoadModule mpm_event_module "/opt/brew/opt/httpd/lib/httpd/modules/mod_mpm_event.so")");
    EXPECT_EQ(
        all[11],
        R"(LoadModule rewrite_module "/opt/brew/opt/httpd/lib/httpd/modules/mod_rewrite.so")");
    EXPECT_EQ(count(text, "LoadModule "), 11u);
    EXPECT_EQ(all[12], "ServerName 127.0.0.1:8080");
    EXPECT_EQ(all[13], "");
    EXPECT_EQ(all[14], "Listen 127.0.0.1:8080");
    EXPECT_TRUE(hasLine(text, R"(CustomLog "/data/studio/logs/apache-access.log" )"
                              R"("%h %l %u %t \"%r\" %>s %b")"));
    EXPECT_TRUE(hasLine(text, R"(DocumentRoot "/data/studio/tools/web-root")"));
    EXPECT_TRUE(hasLine(text, R"(<Directory "/data/studio/tools/web-root">)"));
    EXPECT_TRUE(hasLine(text, R"(AliasMatch "^/__vessora_health[.]php$" )"
                              R"("/data/studio/tools/health/health.php")"));
    EXPECT_EQ(count(text, R"(SetHandler "proxy:fcgi://127.0.0.1:9084")"), 2u);
    EXPECT_TRUE(hasLine(text, R"x(RedirectMatch 404 "^/(?:__vessora|phpmyadmin)(?:/|$)")x"));
    EXPECT_EQ(all[all.size() - 2], R"(RedirectMatch 404 "(^|/)[.]")");
    EXPECT_EQ(text.back(), '\n');
}

TEST(ConfigurationApacheTest, HttpsRouterPortsAndPhpMyAdmin) {
    auto profile = record();
    profile.httpsEnabled = true;
    profile.httpsPort = 8443;
    profile.phpMyAdminEnabled = true;
    auto text = Configuration::apache(StackPaths("/data", profile), "/p");
    EXPECT_EQ(count(text, "LoadModule "), 12u);
    EXPECT_TRUE(hasLine(text, R"(LoadModule ssl_module "/p/lib/httpd/modules/mod_ssl.so")"));
    EXPECT_TRUE(hasLine(text, "    ServerName localhost:8443"));
    EXPECT_TRUE(
        hasLine(text, R"(RedirectMatch 302 "^/__vessora/studio/phpmyadmin/?$" "/phpmyadmin/")"));
    EXPECT_TRUE(hasLine(text, R"(Alias "/phpmyadmin" "/data/studio/tools/phpmyadmin")"));
    EXPECT_TRUE(hasLine(text, R"(<Directory "/data/studio/tools/phpmyadmin">)"));
    EXPECT_EQ(count(text, R"(SetHandler "proxy:fcgi://127.0.0.1:9084")"), 3u);
    EXPECT_EQ(text.find("(?:__vessora|phpmyadmin)"), std::string::npos);
    auto tail = text.substr(text.rfind("RedirectMatch 404 \"(^|/)[.]\"\n"));
    EXPECT_EQ(lines(tail).size(), 11u);
    EXPECT_TRUE(tail.ends_with("    SSLOptions +StdEnvVars\n</VirtualHost>"));

    profile.hostname = "shop.test";
    profile.virtualHost = true;
    text = Configuration::apache(StackPaths("/data", profile), "/p");
    EXPECT_TRUE(hasLine(text, "ServerName shop.test:8088"));
    EXPECT_TRUE(text.find("ServerName shop.test:8088\nUseCanonicalName On\n"
                          "UseCanonicalPhysicalPort Off\nListen 127.0.0.1:8080\n") !=
                std::string::npos);
    EXPECT_TRUE(hasLine(text, "    ServerName shop.test:8448"));

    profile.standardPorts = true;
    text = Configuration::apache(StackPaths("/data", profile), "/p");
    EXPECT_TRUE(hasLine(text, "ServerName shop.test:80"));
    EXPECT_TRUE(hasLine(text, "    ServerName shop.test:443"));

    profile.httpsPort.reset();
    text = Configuration::apache(StackPaths("/data", profile), "/p");
    EXPECT_EQ(text.find("VirtualHost"), std::string::npos) << "HTTPS on but no port";
    EXPECT_EQ(text.back(), '\n');
}

TEST(ConfigurationApacheTest, PrefixAndPathsUseThreeEscapes) {
    auto text = Configuration::apache(StackPaths(awkwardRoot, record()), R"(/opt/a "b" $c)");
    EXPECT_TRUE(
        hasLine(text, R"(LoadModule dir_module "/opt/a \"b\" \$c/lib/httpd/modules/mod_dir.so")"));
    EXPECT_TRUE(hasLine(text, R"(ServerRoot "/srv/My \"Data\" \\ \$HOME/studio")"));
    EXPECT_EQ(count(text, "$HOME"), count(text, "\\$HOME"));
    EXPECT_EQ(count(text, "$c"), count(text, "\\$c"));
    EXPECT_TRUE(hasLine(text, R"(<Directory "/srv/My \"Data\" \\ \$HOME/studio/public">)"));
    // The alias target is a substitution, where a backslash escapes: doubled twice.
    EXPECT_TRUE(hasLine(text, R"(AliasMatch "^/__vessora_health[.]php$" )"
                              R"("/srv/My \"Data\" \\\\ \$HOME/studio/tools/health/health.php")"));
}

TEST(ConfigurationApacheTest, GlobCharactersInDirectoryPathsMatchOnlyThemselves) {
    auto profile = record();
    profile.phpMyAdminEnabled = true;
    auto text = Configuration::apache(StackPaths(R"(/srv/w [x] * ? \)", profile), "/p");
    EXPECT_TRUE(hasLine(text, R"(<Directory "/srv/w [[]x] [*] [?] \\\\/studio/tools/health">)"));
    EXPECT_TRUE(hasLine(text, R"(<Directory "/srv/w [[]x] [*] [?] \\\\/studio/public">)"));
    EXPECT_TRUE(
        hasLine(text, R"(<Directory "/srv/w [[]x] [*] [?] \\\\/studio/tools/phpmyadmin">)"));
    // Where no pattern is read, the path stays as it is.
    EXPECT_TRUE(hasLine(text, R"(DocumentRoot "/srv/w [x] * ? \\/studio/public")"));
    EXPECT_TRUE(
        hasLine(text, R"(Alias "/phpmyadmin" "/srv/w [x] * ? \\/studio/tools/phpmyadmin")"));
}

TEST(ConfigurationPhpMyAdminTest, EntryConfigurationAndLoader) {
    auto profile = record();
    profile.name = "Bob's \\ shop";
    profile.httpsEnabled = true;
    profile.httpsPort = 8443;
    StackPaths paths("/data/it's", profile);
    const std::string password = "0123456789ABCDEF0123456789ABCDEF";
    auto text = Configuration::phpMyAdmin(paths, password);
    auto all = lines(text);
    ASSERT_EQ(all.size(), 44u);
    auto cookie = paths.phpMyAdminSessionCookieName();
    EXPECT_EQ(all[5], "    'phpMyAdmin' => '" + cookie + "',");
    EXPECT_EQ(all[6], "    '__Secure-phpMyAdmin_https' => '__Secure-" + cookie + "_https',");
    // Debian's build names its HTTPS cookie without the prefix.
    EXPECT_EQ(all[7], "    'phpMyAdmin_https' => '" + cookie + "_https',");
    EXPECT_EQ(all[24],
              R"(            $cookie = preg_replace('/^(Set-Cookie:\s*)' . )"
              R"(preg_quote($internal, '/') . '=/i', '${1}' . $isolated . '=', $cookie);)");
    EXPECT_EQ(all[30], "$cfg['blowfish_secret'] = hash('sha256', 'Quillet harbour key label' . '" +
                           password + "', true);");
    EXPECT_EQ(all[33], "$cfg['Servers'][1]['port'] = '13307';");
    EXPECT_EQ(all[35], "$cfg['Servers'][1]['password'] = '" + password + "';");
    EXPECT_EQ(all[36], R"($cfg['Servers'][1]['verbose'] = 'Bob\'s \\ shop';)");
    EXPECT_EQ(all[39], "$cfg['PmaAbsoluteUri'] = 'https://127.0.0.1:8443/phpmyadmin/';");
    EXPECT_EQ(all[40], R"($cfg['TempDir'] = '/data/it\'s/studio/tmp/phpmyadmin/cache';)");
    EXPECT_EQ(all[43], "$cfg['SendErrorReports'] = 'never';");

    EXPECT_EQ(Configuration::phpMyAdminLoader(paths),
              "<?php\nrequire '/data/it\\'s/studio/config/phpmyadmin.inc.php';\n");
}

} // namespace
} // namespace vessora
