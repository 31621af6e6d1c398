#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string health(const StackPaths& paths) {
    return joinedLines({
        "<?php",
        "header('Content-Type: application/json');",
        "header('Cache-Control: no-store');",
        "try {",
        "    echo json_encode(require " + phpLiteral((paths.config() / "probe.php").string()) +
            ", JSON_THROW_ON_ERROR);",
        "} catch (Throwable $e) {",
        "    http_response_code(503);",
        "    echo json_encode(['error' => 'Database unavailable']);",
        "}",
    });
}

} // namespace vessora::Configuration
