// SHA-256 digests (OpenSSL) and their hexadecimal forms.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vessora::Sha256 {

using Digest = std::array<unsigned char, 32>;

// Throws std::runtime_error when the library fails.
Digest digest(std::string_view bytes);

// The first `bytes` bytes of the digest (all 32 by default) as lower-case
// hexadecimal digits, two per byte.
std::string hex(std::string_view bytes, std::size_t digestBytes = 32);

} // namespace vessora::Sha256
