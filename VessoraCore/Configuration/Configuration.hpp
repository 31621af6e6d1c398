// The complete text of every file an environment's servers read, generated
// from the record and its paths. Pure functions: each call builds the whole
// text anew and the engine writes it over the previous file before every
// start. Only ensureWelcomePage() touches the disk.
// Values that record validation already restricts (id, database name,
// hostname, ports, tokens, generated passwords) go in unquoted; paths and
// free text go through the three quoting forms below. Texts end without a
// line feed unless noted.
#pragma once

#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::Configuration {

// Double-quoted for php.ini, the PHP-FPM pool and MariaDB options: backslash
// doubled, then double quote escaped.
std::string quoted2(std::string_view text);
// As quoted2, and the dollar sign escaped too: nginx, Apache httpd, router.
std::string quoted3(std::string_view text);
// A PHP single-quoted literal: backslash doubled, then single quote escaped.
std::string phpLiteral(std::string_view text);

// "php.ini".
std::string php(const StackPaths& paths);
// "php-fpm.conf": one pool "vessora" on 127.0.0.1:phpPort, in the foreground.
std::string fpm(const StackPaths& paths);
// "mariadb.cnf"; prefix is the MariaDB formula's prefix, socket the server's
// socket file.
std::string database(const StackPaths& paths, const std::filesystem::path& prefix,
                     const std::filesystem::path& socket);
// "probe.php": returns the array the health page reports; holds the
// application password, so it lives in "config", which no server serves.
std::string probe(const StackPaths& paths, std::string_view password, std::string_view token);
// "health.php", served as "/__vessora_health.php".
std::string health(const StackPaths& paths);

// The welcome page placed in the managed web folder (1002 bytes, no PHP).
const std::string& welcomePage();
// Earlier generated welcome pages that may be replaced by the current one.
const std::vector<std::string>& legacyWelcomePages();
// Writes the welcome page when nothing is at `page` or it holds a legacy
// page; anything else (the user's file, a link, a folder) is left alone.
// Throws only the error of the final write.
void ensureWelcomePage(const std::filesystem::path& page);

// "nginx.conf": a self-contained main file for nginx.
std::string nginx(const StackPaths& paths);
// "httpd.conf": a self-contained main file for Apache httpd loading its
// modules from prefix/lib/httpd/modules. Ends with a line feed when HTTPS
// is off.
std::string apache(const StackPaths& paths, const std::filesystem::path& prefix);

// "phpmyadmin.inc.php": the environment's phpMyAdmin settings, with the shim
// that gives its session cookies per-environment names.
std::string phpMyAdmin(const StackPaths& paths, std::string_view password);
// The copy's own "config.inc.php", which loads the file above. Ends with a
// line feed.
std::string phpMyAdminLoader(const StackPaths& paths);

} // namespace vessora::Configuration
