#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Configuration/ConfigurationLines.hpp"

namespace vessora::Configuration {

std::string database(const StackPaths& paths, const std::filesystem::path& prefix,
                     const std::filesystem::path& socket) {
    const auto& profile = paths.profile();
    auto env = paths.directory();
    return joinedLines({
        "[mariadbd]",
        "basedir=" + quoted2(prefix.string()),
        // One data folder per MariaDB series.
        "datadir=" + quoted2((env / "data" / profile.mariaDB).string()),
        "socket=" + quoted2(socket.string()),
        "port=" + std::to_string(profile.databasePort),
        "bind-address=127.0.0.1",
        "pid-file=" + quoted2((env / "mariadb.pid").string()),
        "log-error=" + quoted2((env / "logs/mariadb-error.log").string()),
        "skip-name-resolve",
        "max-connections=30",
        "innodb-buffer-pool-size=64M",
        // The dump import accepts statements up to 64 MiB; the server's
        // default limit (16 MiB) would refuse the larger ones, and a limit
        // of exactly 64M the largest: the packet also carries its command
        // byte.
        "max-allowed-packet=65M",
        // MariaDB deletes every "#sql*" file in its temporary folder when it
        // starts; a shared /tmp would let one server remove another's
        // temporary tables.
        "tmpdir=" + quoted2((env / "tmp").string()),
    });
}

} // namespace vessora::Configuration
