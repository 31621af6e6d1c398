// What the user asked a project import to do: which folder becomes a new
// environment, how it is served ("existing": where it lies, "copy": from a
// copy inside the environment), which database the optional SQL dump is
// loaded into, and the new environment's packages and options. A plain
// value; the import (StackEngine::migrate) validates it against the data
// root before it creates anything.
#pragma once

#include "VessoraCore/Import/ProjectImportMode.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vessora {

struct MigrationRequest {
    // Display name of the new environment; trimmed by the import.
    std::string name;
    // The existing project folder: an absolute path.
    std::filesystem::path projectFolder;
    // The folder the site serves, relative to the project folder; empty
    // means the project folder itself.
    std::string publicDirectory;
    ProjectImportMode mode = ProjectImportMode::existing;
    // The new environment's database; the dump is loaded into it.
    std::string databaseName;
    // The SQL dump; none means no database import.
    std::optional<std::filesystem::path> sqlFile;
    std::string php;
    std::string mariaDB;
    std::string webserver;
    bool phpMyAdminEnabled = false;
    bool httpsEnabled = false;
    // The import may install missing Homebrew formulae.
    bool installMissingPackages = false;

    // Checks, in this order, and throws at the first failure; changes
    // nothing:
    //   - the database name rule (DatabaseName::validate's error);
    //   - publicDirectory passes validRelativeDirectory and projectFolder is
    //     absolute, else "Choose a public directory inside the project
    //     folder."; the same when the public directory, links resolved,
    //     is not strictly inside the project folder, links resolved;
    //   - the project folder, then the served folder, pass the web-folder
    //     rule (WebDirectory::validate) for `root`: existing, readable,
    //     outside the data root and not containing it;
    //   - copy mode only, a scan of the project folder (links resolved):
    //     "The project folder cannot be copied." when it or a folder in it
    //     cannot be listed; "The project contains an absolute or external
    //     symbolic link. …" for a link whose target text is absolute or
    //     leads outside the project (a dangling link: where its target
    //     would be); "The project contains a special file that cannot be
    //     copied. …" for anything but links, regular files and folders.
    // File-system errors of reading an item's type or a link pass through.
    void validate(const std::filesystem::path& root) const;

    // True for the empty text (the project folder itself). Otherwise the text
    // must be valid UTF-8, must not begin with "/" nor hold a control or
    // format character, and every piece between "/" separators must be
    // non-empty and neither "." nor "..", so the folder stays inside the
    // project ("web/" and "a/../b" are refused).
    static bool validRelativeDirectory(std::string_view text);
};

} // namespace vessora
