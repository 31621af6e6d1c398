#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string php(const StackPaths& paths) {
    auto env = paths.directory();
    return joinedLines({
        "[PHP]",
        "date.timezone = Europe/Berlin",
        "memory_limit = 256M",
        "display_errors = On",
        "log_errors = On",
        "error_log = " + quoted2((env / "logs/php-error.log").string()),
        "session.save_path = " + quoted2((env / "tmp/sessions").string()),
        "upload_tmp_dir = " + quoted2((env / "tmp/uploads").string()),
        "cgi.fix_pathinfo = 0",
    });
}

} // namespace vessora::Configuration
