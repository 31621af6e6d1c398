#include "VessoraCore/Storage/WebDirectory.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"

#include <system_error>
#include <unistd.h>

namespace vessora::WebDirectory {

namespace fs = std::filesystem;

namespace {

bool usesManagedFolder(const StackProfile& profile) {
    return !profile.documentRoot && !profile.projectSubdirectory;
}

[[noreturn]] void missingFolder() {
    throw VessoraError(L10n::text(
        "The selected web directory is missing or cannot be read. Choose an existing folder."));
}

// True when `candidate` is `container` or lies below it; both standardized.
bool contains(const fs::path& container, const fs::path& candidate) {
    const std::string& outer = container.native();
    const std::string& inner = candidate.native();
    if (outer == inner)
        return true;
    if (outer == "/")
        return !inner.empty() && inner.front() == '/';
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == '/';
}

} // namespace

void validate(const StackPaths& paths) {
    const StackProfile& profile = paths.profile();
    if (usesManagedFolder(profile))
        return;

    std::error_code error;
    fs::path web = StandardPath::resolved(paths.web(), error);
    // A folder whose links cannot be followed cannot be read either.
    if (error)
        missingFolder();
    fs::path root = StandardPath::resolved(paths.root(), error);

    bool insideProjectCopy =
        profile.projectSubdirectory && contains(StandardPath::standardized(paths.project()), web);
    if (!insideProjectCopy && (contains(root, web) || contains(web, root))) {
        throw VessoraError(L10n::text(
            "The web directory must be outside Vessora’s data folder and cannot contain it."));
    }

    if (!fs::is_directory(web, error) || ::access(web.c_str(), R_OK) != 0)
        missingFolder();
}

void prepareMount(const StackPaths& paths) {
    validate(paths);
    if (usesManagedFolder(paths.profile()))
        return;

    fs::path link = paths.servedWeb();
    std::error_code error;
    fs::file_status status = fs::symlink_status(link, error);
    bool isLink = !error && fs::is_symlink(status);
    if (isLink) {
        fs::remove(link);
    } else if (!error && fs::exists(status)) {
        throw VessoraError(L10n::text("The private web-directory link is occupied by a file. No "
                                      "project files were changed."));
    }
    fs::create_directory_symlink(paths.web(), link);
}

} // namespace vessora::WebDirectory
