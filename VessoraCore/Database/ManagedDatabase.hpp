// One database of a running environment's inventory, identified by its name.
#pragma once

#include <cstdint>
#include <string>

namespace vessora {

struct ManagedDatabase {
    std::string name;            // as MariaDB reports it
    std::int64_t tableCount = 0; // tables and views
    std::string collation;       // default collation; empty when not reported
    bool isPrimary = false;      // the environment's own application database

    const std::string& id() const { return name; }

    // The name passes the database-name rule: only such databases are
    // offered for management, and only grants on them count as access.
    bool supportsNativeManagement() const;

    bool operator==(const ManagedDatabase&) const = default;
};

} // namespace vessora
