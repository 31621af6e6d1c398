// Pieces of LocalHTTPS shared by its source files: the messages, the folder
// and file safety rules and the identity checks. Not for other callers.
#pragma once

#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Process/CommandResult.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vessora::LocalHTTPS {

VessoraError expiryError();
VessoraError identityError();
VessoraError unreadableError();

// Runs openssl with the shared limits (60 seconds, no input, no log).
CommandResult runOpenssl(const std::vector<std::string>& arguments);

// On a full disk openssl exits 0 and leaves its files empty or cut short:
// what it wrote must be whole before it is used. The PEM certificate must
// parse and match the PEM key; the DER file must be exactly one
// certificate. Otherwise both throw writeError of the files' folder.
void requireWrittenPair(const std::filesystem::path& certificate, const std::filesystem::path& key);
void requireWrittenDER(const std::filesystem::path& der);

// "The local HTTPS certificate could not be written: <reason>." with the
// reason a write of our own in `folder` fails with now, or the sentence
// without a reason when that write succeeds.
VessoraError writeError(const std::filesystem::path& folder);

// chmod that throws the system's error.
void setMode(const std::filesystem::path& path, mode_t mode);

// The folder must be a real directory (no link at any point of its path)
// owned by the real user; it is then set to 0700. A folder that cannot be
// examined gives the system's error.
void requireDirectory(const std::filesystem::path& folder);

// requireDirectory on the data root, E, E/config, E/config/tls and the
// identity folder, then the three identity files must be regular files
// (not links) and are set to 0600. Creates nothing.
void requireIdentityFiles(const StackPaths& paths);

// Whether the PEM certificate, its key and the DER certificate form one
// current identity that is valid for localhost, 127.0.0.1 and `hostname`
// when the certificate is its own only anchor. Throws at the first failure.
void validatePair(const std::filesystem::path& certificate, const std::filesystem::path& key,
                  const std::filesystem::path& der, const std::optional<std::string>& hostname);

// The safety rules, then validatePair on the identity in force.
void validate(const StackPaths& paths);

} // namespace vessora::LocalHTTPS
