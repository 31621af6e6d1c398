// The editor of one user's marked section of the hosts file. It takes the
// whole file text and returns the whole new text: everything outside the
// user's own section stays byte for byte, the section (when the user has any
// names) stands at the end:
//
//   # BEGIN Vessora user <uid>\n
//   127.0.0.1\t<name>\n        (names in ascending byte order)
//   # END Vessora user <uid>\n
//
// Pure: it reads no file, clock or environment. A thrown HostServiceError
// means the caller writes nothing.
#pragma once

#include "VessoraHostProtocol/HostServiceRequest.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::ManagedHosts {

inline constexpr std::string_view beginPrefix = "# BEGIN Vessora user ";
inline constexpr std::string_view endPrefix = "# END Vessora user ";

// The largest section one user can have: begin and end lines with a 10-digit
// uid and 200 names (the most a request holds) of 253 bytes, 52,862 bytes in
// all. It keeps one user's share of the hosts file's 2,000,000-byte limit
// small, so only the file's foreign content can bring that limit near.
inline constexpr std::size_t maxSectionSize =
    (beginPrefix.size() + 11) +
    HostServiceRequest::maxHostnames * (10 + LocalHostname::maxLength + 1) +
    (endPrefix.size() + 11);
static_assert(maxSectionSize == 52'862);

// The section text for `hostnames` (kept in the given order); empty for none.
std::string section(std::uint32_t userID, const std::vector<std::string>& hostnames);

// Throws, in this order: the request validation's errors for the names;
// HostServiceError::hostsSectionDamaged when the user's section is damaged
// (second begin line, end line without begin, foreign marker inside, missing
// end line); HostServiceError::hostnameTaken when a requested name stands in
// another entry. A name already on a hand-written "127.0.0.1" line counts as
// present (and is not repeated) only while no user has a section.
std::string replacing(std::string_view text, std::uint32_t userID,
                      const std::vector<std::string>& hostnames);

} // namespace vessora::ManagedHosts
