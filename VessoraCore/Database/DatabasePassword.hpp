// The rule for every database password the system stores or sends: not
// empty, at most 256 bytes in UTF-8, valid UTF-8 without control characters
// (UnicodeText::containsControl). A password is kept exactly as typed:
// spaces at either end belong to it.
#pragma once

#include <string_view>

namespace vessora::DatabasePassword {

bool isValid(std::string_view password);

// Throws VessoraError with the looked-up rule sentence.
void validate(std::string_view password);

} // namespace vessora::DatabasePassword
