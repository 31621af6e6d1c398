// What preparing a dump found: how many statements hold at least one token
// (white space, comments and DELIMITER lines do not count) and the one
// database the dump selected or created, if it named one. The import copies
// both into its report. The database statements the prepared dump runs on
// the target: the selections (USE) and alterations (ALTER DATABASE) its
// rewriting leaves, which the import holds the server's own counts to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vessora::SQLDump {

struct Summary {
    std::int64_t statementCount = 0;
    std::optional<std::string> sourceDatabase;
    std::int64_t selections = 0;
    std::int64_t alterations = 0;

    bool operator==(const Summary&) const = default;
};

} // namespace vessora::SQLDump
