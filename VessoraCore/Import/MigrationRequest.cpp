#include "VessoraCore/Import/MigrationRequest.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/UnicodeText.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Records/DatabaseName.hpp"
#include "VessoraCore/Records/StackProfile.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"
#include "VessoraCore/Storage/WebDirectory.hpp"

#include <system_error>

namespace vessora {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void outsideProject() {
    throw VessoraError(L10n::text("Choose a public directory inside the project folder."));
}

// True when `path` lies below `folder`; both resolved and standardized.
bool strictlyInside(const fs::path& folder, const fs::path& path) {
    const std::string prefix = folder.string() + "/";
    return path.string().compare(0, prefix.size(), prefix) == 0 && path.string() != prefix;
}

// The web-folder rule applied to `folder` as a custom web folder.
void validateWebFolder(const fs::path& root, const std::string& folder) {
    StackProfile sample = StackProfile::defaults().front();
    sample.documentRoot = folder;
    WebDirectory::validate(StackPaths(root, sample));
}

// Whether a link's target text, read from the link's own folder, climbs
// above the project folder at any step. Such a link is copied unchanged, so
// from the copy it reaches outside the copy, perhaps back into the source,
// wherever it leads from the source.
bool climbsAboveProject(const fs::path& base, const fs::path& link, const fs::path& target) {
    std::ptrdiff_t depth = 0;
    for (const fs::path& part : link.parent_path().lexically_relative(base))
        if (part != "." && !part.empty())
            ++depth;
    for (const fs::path& part : target) {
        if (part == "..") {
            if (--depth < 0)
                return true;
        } else if (part != "." && !part.empty()) {
            ++depth;
        }
    }
    return false;
}

// A copy must reproduce the project without reaching outside it: every link
// has to stay inside, from the source and from the copy alike, and only
// links, files and folders can be copied.
void scanForCopy(const fs::path& base) {
    const auto cannotCopy = [] {
        return VessoraError(L10n::text("The project folder cannot be copied."));
    };
    std::error_code error;
    // Links to folders are not followed: each is checked as a link.
    fs::recursive_directory_iterator item(base, fs::directory_options::none, error);
    if (error)
        throw cannotCopy();
    for (const fs::recursive_directory_iterator end; item != end;) {
        const fs::file_status status = item->symlink_status();
        if (fs::is_symlink(status)) {
            const fs::path target = fs::read_symlink(item->path());
            // A dangling or looping link counts by where its target would
            // be, so a copy can never point at a file beside the copy.
            std::error_code unresolved;
            const fs::path reached =
                StandardPath::resolved(item->path().parent_path() / target, unresolved);
            if (target.is_absolute() || climbsAboveProject(base, item->path(), target) ||
                !strictlyInside(base, reached))
                throw VessoraError(
                    L10n::text("The project contains an absolute or external symbolic link. Use "
                               "the existing folder, or replace that link before copying."));
        } else if (!fs::is_regular_file(status) && !fs::is_directory(status)) {
            throw VessoraError(L10n::text("The project contains a special file that cannot be "
                                          "copied. Use the existing folder instead."));
        }
        // A folder that cannot be listed would stop the copy halfway.
        item.increment(error);
        if (error)
            throw cannotCopy();
    }
}

} // namespace

void MigrationRequest::validate(const fs::path& root) const {
    DatabaseName::validate(databaseName);
    if (!validRelativeDirectory(publicDirectory) || !projectFolder.is_absolute())
        outsideProject();
    const std::string project = StandardPath::withoutTrailingSlash(projectFolder).string();
    const std::string served = publicDirectory.empty() ? project : project + "/" + publicDirectory;
    std::error_code unresolved;
    const fs::path base = StandardPath::resolved(project, unresolved);
    if (!publicDirectory.empty() &&
        !strictlyInside(base, StandardPath::resolved(served, unresolved)))
        outsideProject();

    validateWebFolder(root, project);
    validateWebFolder(root, served);

    if (mode == ProjectImportMode::copy)
        scanForCopy(base);
}

bool MigrationRequest::validRelativeDirectory(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    if (text.front() == '/' || UnicodeText::containsControl(text)) {
        return false;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t slash = text.find('/', start);
        std::string_view piece = text.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (piece.empty() || piece == "." || piece == "..") {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        start = slash + 1;
    }
}

} // namespace vessora
