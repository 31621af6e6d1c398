// The access levels an account can have on one database. Four can be
// assigned (none, read only, read & write, schema admin); `custom` only
// describes an existing set of privileges that the system leaves untouched.
// The raw value is also the English display text and the level's id.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

enum class DatabaseAccess { none, readOnly, readWrite, admin, custom };

// "No access", "Read only", "Read & write", "Schema admin", "Custom (unchanged)".
std::string rawValue(DatabaseAccess access);

// Exactly one of the five raw values (case-sensitive); nothing otherwise.
std::optional<DatabaseAccess> databaseAccess(std::string_view raw);

namespace DatabaseAccessLevels {

// Every level in declaration order.
const std::vector<DatabaseAccess>& allCases();
// The levels a user may choose: none, readOnly, readWrite, admin.
const std::vector<DatabaseAccess>& assignable();

// The privilege names of a level, in their fixed order, as MariaDB reports
// them in PRIVILEGE_TYPE: 2 for readOnly, 6 for readWrite, the 18 schema
// privileges for admin; empty for none and custom.
const std::vector<std::string>& privileges(DatabaseAccess access);

// The level a set of schema privileges reads as: empty is none; exactly the
// read-only or read-write set is that level; any set holding all 18 schema
// privileges is admin; anything else is custom. Names compare exactly.
DatabaseAccess forPrivileges(const std::set<std::string>& privileges);

} // namespace DatabaseAccessLevels
} // namespace vessora
