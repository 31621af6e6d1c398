#include "VessoraCore/Database/DatabaseAccess.hpp"

#include <algorithm>

namespace vessora {

std::string rawValue(DatabaseAccess access) {
    switch (access) {
    case DatabaseAccess::none:
        return "No access";
    case DatabaseAccess::readOnly:
        return "Read only";
    case DatabaseAccess::readWrite:
        return "Read & write";
    case DatabaseAccess::admin:
        return "Schema admin";
    case DatabaseAccess::custom:
        return "Custom (unchanged)";
    }
    return "Custom (unchanged)";
}

std::optional<DatabaseAccess> databaseAccess(std::string_view raw) {
    for (const DatabaseAccess access : DatabaseAccessLevels::allCases())
        if (raw == rawValue(access))
            return access;
    return std::nullopt;
}

namespace DatabaseAccessLevels {

const std::vector<DatabaseAccess>& allCases() {
    static const std::vector<DatabaseAccess> levels{DatabaseAccess::none, DatabaseAccess::readOnly,
                                                    DatabaseAccess::readWrite,
                                                    DatabaseAccess::admin, DatabaseAccess::custom};
    return levels;
}

const std::vector<DatabaseAccess>& assignable() {
    static const std::vector<DatabaseAccess> levels{DatabaseAccess::none, DatabaseAccess::readOnly,
                                                    DatabaseAccess::readWrite,
                                                    DatabaseAccess::admin};
    return levels;
}

const std::vector<std::string>& privileges(DatabaseAccess access) {
    static const std::vector<std::string> none;
    static const std::vector<std::string> readOnly{"SELECT", "SHOW VIEW"};
    static const std::vector<std::string> readWrite{"SELECT", "SHOW VIEW", "INSERT",
                                                    "UPDATE", "DELETE",    "EXECUTE"};
    static const std::vector<std::string> admin{
        "SELECT",      "INSERT",         "UPDATE",        "DELETE",
        "CREATE",      "DROP",           "ALTER",         "INDEX",
        "CREATE VIEW", "SHOW VIEW",      "TRIGGER",       "EVENT",
        "EXECUTE",     "CREATE ROUTINE", "ALTER ROUTINE", "CREATE TEMPORARY TABLES",
        "LOCK TABLES", "REFERENCES"};
    switch (access) {
    case DatabaseAccess::readOnly:
        return readOnly;
    case DatabaseAccess::readWrite:
        return readWrite;
    case DatabaseAccess::admin:
        return admin;
    case DatabaseAccess::none:
    case DatabaseAccess::custom:
        break;
    }
    return none;
}

DatabaseAccess forPrivileges(const std::set<std::string>& granted) {
    const auto equals = [&](DatabaseAccess level) {
        const std::vector<std::string>& names = privileges(level);
        return granted == std::set<std::string>(names.begin(), names.end());
    };
    if (granted.empty())
        return DatabaseAccess::none;
    if (equals(DatabaseAccess::readOnly))
        return DatabaseAccess::readOnly;
    if (equals(DatabaseAccess::readWrite))
        return DatabaseAccess::readWrite;
    const std::vector<std::string>& admin = privileges(DatabaseAccess::admin);
    if (std::all_of(admin.begin(), admin.end(),
                    [&](const std::string& name) { return granted.count(name) != 0; }))
        return DatabaseAccess::admin;
    return DatabaseAccess::custom;
}

} // namespace DatabaseAccessLevels
} // namespace vessora
