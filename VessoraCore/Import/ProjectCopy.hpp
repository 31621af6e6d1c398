// The copy of an imported project into its environment. Folders and regular
// files are copied with their permission bits and modification times;
// symbolic links are copied as links with their target text unchanged and
// are never followed, so a link that leads outside the project, dangles or
// loops (also "a/b/up -> ..") is reproduced as it is and pulls in nothing
// from elsewhere. Anything else (socket, pipe, device) stops the copy.
#pragma once

#include <filesystem>

namespace vessora::ProjectCopy {

// `source` is a folder; `destination` must not exist yet. Throws
// VessoraError "The project contains a special file that cannot be copied.
// Use the existing folder instead." for an item of another kind, and the
// system's error (filesystem_error) for anything that cannot be read or
// written; what was copied until then stays for the caller to remove.
void copy(const std::filesystem::path& source, const std::filesystem::path& destination);

} // namespace vessora::ProjectCopy
