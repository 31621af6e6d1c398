#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string probe(const StackPaths& paths, std::string_view password, std::string_view token) {
    const auto& profile = paths.profile();
    auto port = std::to_string(profile.databasePort);
    // The password may be the user's own, so it is the one quoted value.
    return joinedLines({
        "<?php",
        "$pdo = new PDO('mysql:host=127.0.0.1;port=" + port + ";dbname=" + profile.databaseName +
            ";charset=utf8mb4', 'vessora', " + phpLiteral(password) +
            ", [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION, PDO::ATTR_TIMEOUT => 2]);",
        "return ['setup' => '" + profile.id + "', 'token' => '" + std::string(token) +
            "', 'php' => PHP_VERSION,",
        "        'mariadb' => $pdo->query('SELECT VERSION()')->fetchColumn(),",
        "        'database_port' => " + port + ",",
        "        'database' => '" + profile.databaseName + "',",
        "        'identity' => $pdo->query('SELECT name FROM vessora_internal.setup_identity "
        "LIMIT 1')->fetchColumn()];",
    });
}

} // namespace vessora::Configuration
