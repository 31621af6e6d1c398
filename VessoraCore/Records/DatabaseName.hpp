// The rule for an environment's application database name, shared by the
// record validation, the engine and every form: 1 to 64 ASCII letters,
// digits, "_" or "-", starting with a letter or "_", and not one of the
// system names (compared in lower case, so "MySQL" is refused too).
#pragma once

#include <string_view>

namespace vessora::DatabaseName {

// Throws VessoraError with the looked-up rule sentence.
void validate(std::string_view name);

} // namespace vessora::DatabaseName
