// One requested change of an account's access to one database.
// `previousPrivileges` is the account's set on that database as the window
// last saw it (empty when none): the change is refused when the server's
// set differs, so a change made meanwhile elsewhere is never overwritten.
#pragma once

#include "VessoraCore/Database/DatabaseAccess.hpp"

#include <set>
#include <string>

namespace vessora {

struct DatabaseAccessChange {
    std::string database;
    std::set<std::string> previousPrivileges;
    DatabaseAccess access = DatabaseAccess::none;

    bool operator==(const DatabaseAccessChange&) const = default;
};

} // namespace vessora
