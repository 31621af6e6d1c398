// Text rules the database sheets share: equality of two texts as the user
// sees them (canonically equivalent Unicode sequences are equal), used for
// account ids and for a password and its confirmation.
#pragma once

#include <string>

namespace vessora::DatabaseSheetText {

bool same(const std::string& first, const std::string& second);

} // namespace vessora::DatabaseSheetText
