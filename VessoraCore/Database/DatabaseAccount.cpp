#include "VessoraCore/Database/DatabaseAccount.hpp"

namespace vessora {

DatabaseAccess DatabaseAccount::access(const std::string& database) const {
    const auto entry = privileges.find(database);
    if (entry == privileges.end())
        return DatabaseAccess::none;
    return DatabaseAccessLevels::forPrivileges(entry->second);
}

} // namespace vessora
