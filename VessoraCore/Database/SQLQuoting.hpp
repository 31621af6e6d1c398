// How user text goes into the SQL the engine sends to MariaDB. Every
// statement is built from fixed text and these forms; nothing the user typed
// reaches the server unquoted.
//
// The string forms assume the session runs with NO_BACKSLASH_ESCAPES (every
// administration and set-up script sets it first), so only the quote
// character itself needs doubling and a backslash is an ordinary character.
#pragma once

#include <string>
#include <string_view>

namespace vessora::SQLQuoting {

// 'text' with every "'" doubled: passwords and other values.
std::string stringLiteral(std::string_view text);

// 'name'@'host', each part a string literal.
std::string accountLiteral(std::string_view name, std::string_view host);

// `name` with every backtick doubled: a database in CREATE DATABASE.
std::string identifier(std::string_view name);

// The database as GRANT and REVOKE read it: every "_" written as "\_" first,
// so the grant matches that one database rather than a pattern of names,
// then quoted as an identifier.
std::string grantPattern(std::string_view database);

// The schema text MariaDB stores for a grant made with grantPattern(): the
// name with every "_" written as "\_" (no quotes).
std::string escapedSchema(std::string_view database);

} // namespace vessora::SQLQuoting
