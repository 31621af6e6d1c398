// The inventory of a running environment's MariaDB: its databases (by
// schema name) and accounts (by name, then host), in the server's order.
#pragma once

#include "VessoraCore/Database/DatabaseAccount.hpp"
#include "VessoraCore/Database/ManagedDatabase.hpp"

#include <vector>

namespace vessora {

struct DatabaseAdminSnapshot {
    std::vector<ManagedDatabase> databases;
    std::vector<DatabaseAccount> users;

    bool operator==(const DatabaseAdminSnapshot&) const = default;
};

} // namespace vessora
