// Random UUIDs and the UUID text form.
// random() makes a version 4 UUID from OpenSSL's random bytes and returns its
// standard text form: 36 characters, upper-case hexadecimal digits in groups
// of 8-4-4-4-12 joined by "-" (lower-case it where an environment id needs it).
// parse() accepts exactly that form with upper- or lower-case digits and
// returns the canonical lower-case text; anything else gives no result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora::Uuid {

// Throws std::runtime_error when the random generator fails.
std::string random();

std::optional<std::string> parse(std::string_view text);

} // namespace vessora::Uuid
