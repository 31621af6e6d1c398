// Rules for a web folder outside the environment's managed "public" folder:
// a custom folder chosen by the user, or a folder of the imported project
// copy. validate() checks that the folder exists, can be read and keeps clear
// of the data root; prepareMount() points the private link tools/web-root at
// it. Neither ever changes the chosen folder or the project copy: the only
// thing written is the engine's own link, and a file or folder found in its
// place stops the start untouched.
#pragma once

#include "VessoraCore/Storage/StackPaths.hpp"

namespace vessora::WebDirectory {

// Throws VessoraError when the folder is inside the data root (or holds it),
// or is missing, not a folder or unreadable. Does nothing for the managed
// folder.
void validate(const StackPaths& paths);

// Validates, then replaces the link at servedWeb() with one to web(). System
// errors of removing or creating the link are thrown as filesystem_error.
void prepareMount(const StackPaths& paths);

} // namespace vessora::WebDirectory
