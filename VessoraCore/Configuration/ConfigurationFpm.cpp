#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string fpm(const StackPaths& paths) {
    auto env = paths.directory();
    // TCP only, never a socket file: the web servers reach it on 127.0.0.1.
    return joinedLines({
        "[global]",
        "pid = " + quoted2((env / "php-fpm.pid").string()),
        "error_log = " + quoted2((env / "logs/php-fpm-error.log").string()),
        "daemonize = no",
        "[vessora]",
        "listen = 127.0.0.1:" + std::to_string(paths.profile().phpPort),
        "listen.allowed_clients = 127.0.0.1",
        "pm = ondemand",
        "pm.max_children = 4",
        "pm.process_idle_timeout = 10s",
        "catch_workers_output = yes",
        "clear_env = yes",
        "security.limit_extensions = .php",
    });
}

} // namespace vessora::Configuration
