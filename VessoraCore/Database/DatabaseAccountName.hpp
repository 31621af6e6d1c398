// The rules for MariaDB account names the system manages: the pattern of a
// name it creates or edits (1 to 80 ASCII letters, digits, "_" or "-",
// beginning with a letter or "_") and the reserved names it never touches
// (the server's own accounts, the application and phpMyAdmin accounts and
// the login name the administration connects as), compared in lower case.
#pragma once

#include <string_view>

namespace vessora::DatabaseAccountName {

bool matchesPattern(std::string_view name);

bool reserved(std::string_view name, std::string_view administrator);

// Throws VessoraError with the looked-up rule sentence, for a name that does
// not match the pattern and for a reserved one alike.
void validateNew(std::string_view name, std::string_view administrator);

} // namespace vessora::DatabaseAccountName
