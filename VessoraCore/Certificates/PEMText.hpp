// The bytes a PEM certificate file stands for: the text with every
// "-----BEGIN CERTIFICATE-----" and "-----END CERTIFICATE-----" removed,
// decoded as Base64 while skipping every character outside the Base64
// alphabet (line breaks and blanks included). Padding "=" may only end the
// text, and the Base64 characters must make whole 4-character groups.
// Several certificates in one file decode to their bytes joined, which never
// equals one DER certificate.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vessora::PEMText {

// Nothing when `text` is not valid UTF-8 or does not decode.
std::optional<std::string> certificateBytes(std::string_view text);

} // namespace vessora::PEMText
