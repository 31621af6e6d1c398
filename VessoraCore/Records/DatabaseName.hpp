// The rule for an environment's application database name, shared by the
// record validation, the engine and every form: 1 to 64 ASCII letters,
// digits, "_" or "-", starting with a letter or "_", and not one of the
// system names (compared in lower case, so "MySQL" is refused too). A new
// name must also fit the grants: they write it with each "_" escaped as
// "\_", and the server refuses a database name over 64 characters there.
#pragma once

#include <cstddef>
#include <string_view>

namespace vessora::DatabaseName {

// The rule for a name being chosen or used for grants. Throws VessoraError
// with the looked-up rule sentence, or the grant-length sentence.
void validate(std::string_view name);

// The rule a stored record is read with: without the grant length, so a
// record written before that rule still loads (its start refuses it).
void validateStored(std::string_view name);

// The name as the grants write it: "_" and "%" escaped with a backslash.
std::size_t grantLength(std::string_view name);

} // namespace vessora::DatabaseName
