#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string phpMyAdmin(const StackPaths& paths, std::string_view password) {
    const auto& profile = paths.profile();
    auto env = paths.directory();
    auto cookie = paths.phpMyAdminSessionCookieName();
    // The engine makes the password from hexadecimal digits only.
    const std::string secret(password);
    return joinedLines({
        "<?php",
        "// phpMyAdmin uses fixed HTTP/HTTPS session cookie names. Adapt only its",
        "// incoming/outgoing session cookies at this managed entry point; do not",
        "// modify Homebrew's phpMyAdmin sources or project PHP configuration.",
        "$vessoraSessionCookies = [",
        "    'phpMyAdmin' => '" + cookie + "',",
        "    '__Secure-phpMyAdmin_https' => '__Secure-" + cookie + "_https',",
        // Builds without the "__Secure-" prefix name the HTTPS cookie so.
        "    'phpMyAdmin_https' => '" + cookie + "_https',",
        "];",
        "foreach ($vessoraSessionCookies as $internal => $isolated) {",
        "    if (isset($_COOKIE[$isolated]) && is_string($_COOKIE[$isolated])) {",
        "        $_COOKIE[$internal] = $_COOKIE[$isolated];",
        "    } else {",
        "        unset($_COOKIE[$internal]);",
        "    }",
        "}",
        "header_register_callback(static function () use ($vessoraSessionCookies): void {",
        "    $cookies = array_filter(headers_list(), static fn(string $header): bool => "
        "stripos($header, 'Set-Cookie:') === 0);",
        "    if (!$cookies) {",
        "        return;",
        "    }",
        "    header_remove('Set-Cookie');",
        "    foreach ($cookies as $cookie) {",
        "        foreach ($vessoraSessionCookies as $internal => $isolated) {",
        "            $cookie = preg_replace('/^(Set-Cookie:\\s*)' . preg_quote($internal, '/') . "
        "'=/i', '${1}' . $isolated . '=', $cookie);",
        "        }",
        "        header($cookie, false);",
        "    }",
        "});",
        "$cfg['Lang'] = 'en';",
        "$cfg['blowfish_secret'] = hash('sha256', 'Quillet harbour key label' . '" + secret +
            "', true);",
        "$cfg['Servers'][1]['auth_type'] = 'config';",
        "$cfg['Servers'][1]['host'] = '127.0.0.1';",
        "$cfg['Servers'][1]['port'] = '" + std::to_string(profile.databasePort) + "';",
        "$cfg['Servers'][1]['user'] = 'vessora_admin';",
        "$cfg['Servers'][1]['password'] = '" + secret + "';",
        "$cfg['Servers'][1]['verbose'] = " + phpLiteral(profile.name) + ";",
        "$cfg['Servers'][1]['AllowNoPassword'] = false;",
        "$cfg['AllowArbitraryServer'] = false;",
        "$cfg['PmaAbsoluteUri'] = " + phpLiteral(profile.phpMyAdminURL()) + ";",
        "$cfg['TempDir'] = " + phpLiteral((env / "tmp/phpmyadmin/cache").string()) + ";",
        "$cfg['SessionSavePath'] = " + phpLiteral((env / "tmp/phpmyadmin/sessions").string()) + ";",
        "$cfg['VersionCheck'] = false;",
        "$cfg['SendErrorReports'] = 'never';",
    });
}

std::string phpMyAdminLoader(const StackPaths& paths) {
    return "<?php\nrequire " + phpLiteral(paths.phpMyAdminConfig().string()) + ";\n";
}

} // namespace vessora::Configuration
