// One MariaDB account of a running environment's inventory, identified by
// "name@host" (unquoted). `privileges` holds its schema privileges on the
// manageable databases only, by database name.
#pragma once

#include "VessoraCore/Database/DatabaseAccess.hpp"

#include <map>
#include <set>
#include <string>

namespace vessora {

struct DatabaseAccount {
    std::string name;
    std::string host;
    // The system may change this account's access, password or existence.
    bool canEdit = false;
    // The environment's application account, 'vessora'@'127.0.0.1'.
    bool isApplication = false;
    std::map<std::string, std::set<std::string>> privileges;

    std::string id() const { return name + "@" + host; }
    // The application account's password belongs to the environment, and
    // the account itself cannot be removed.
    bool canChangePassword() const { return canEdit && !isApplication; }
    bool canDelete() const { return canChangePassword(); }

    // The level its privileges on the database read as; none without any.
    DatabaseAccess access(const std::string& database) const;

    bool operator==(const DatabaseAccount&) const = default;
};

} // namespace vessora
