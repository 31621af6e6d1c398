#include "VessoraCore/Storage/EnvironmentFiles.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/FileMove.hpp"
#include "VessoraCore/Storage/StandardPath.hpp"
#include "VessoraCore/Storage/UserTrash.hpp"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <sys/stat.h>
#include <system_error>

namespace vessora {

namespace fs = std::filesystem;

namespace {

constexpr const char* journalName = ".pending-deletions";
constexpr const char* recordsName = "profiles.json";
constexpr const char* recordCopyName = "vessora-environment.json";

[[noreturn]] void throwErrno(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Whether anything is at the path, links followed. Only "nothing there"
// answers false; an error such as a denied search is thrown, so a folder we
// cannot see is never taken for a missing one.
bool existsFollowingLinks(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return true;
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
        return false;
    throwErrno("Could not read file attributes", path, errno);
}

bool hasID(const std::vector<StackProfile>& profiles, const std::string& id) {
    return std::any_of(profiles.begin(), profiles.end(),
                       [&](const StackProfile& profile) { return profile.id == id; });
}

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return L10n::text("An unknown error occurred.");
    }
}

// For a sentence that puts its own period after the description.
std::string withoutFinalPeriod(std::string text) {
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

// "Deletion and recovery failed: …" with the data left to inspect.
VessoraError recoveryFailed(std::exception_ptr error, const fs::path& preserved) {
    return VessoraError(L10n::text(
        "Deletion and recovery failed: %@. Inspect the preserved data in %@, then restart "
        "Vessora.",
        {withoutFinalPeriod(describe(error)), preserved.string()}));
}

// A committed deletion whose folder the trash handler refuses. Each launch
// would refuse it again (a Trash on another file system always does), so the
// sentence names the way out: the folder has to leave the journal.
VessoraError deletionUnfinished(std::exception_ptr error, const fs::path& entry) {
    return VessoraError(L10n::text(
        "Deletion and recovery failed: %@. Move the folder %@ out of “%@” or remove it, then "
        "restart Vessora.",
        {withoutFinalPeriod(describe(error)), entry.string(), journalName}));
}

} // namespace

EnvironmentFiles::EnvironmentFiles(fs::path root, TrashHandler trash)
    : root_(fs::absolute(root)), trash_(std::move(trash)) {
    // A journal entry is named by its id: restoring it from the Trash puts
    // it back where the environment's folder was, not into the journal.
    if (!trash_)
        trash_ = [root = root_](const fs::path& item) {
            UserTrash().trashItem(item, root / item.filename());
        };
}

void EnvironmentFiles::step(JournalStep reached) const {
    if (observer_)
        observer_(reached);
}

void EnvironmentFiles::requireDirectory(const fs::path& folder) const {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        throwErrno("Could not read file attributes", folder, errno);
    bool plainFolder = S_ISDIR(info.st_mode);
    if (plainFolder) {
        // Every component must be a real folder: resolving links must not
        // change the path.
        plainFolder =
            StandardPath::standardized(fs::canonical(folder)) == StandardPath::standardized(folder);
    }
    if (!plainFolder) {
        throw VessoraError(
            L10n::text("Symbolic link or invalid environment folder: %@", {folder.string()}));
    }
}

void EnvironmentFiles::persist(const std::vector<StackProfile>& profiles,
                               const fs::path& file) const {
    nlohmann::json array = nlohmann::json::array();
    for (const StackProfile& profile : profiles)
        array.push_back(profile.toJSON());
    const std::string text = JsonFields::pretty(array);
    if (writer_)
        writer_(file, text);
    else
        PrivateFile::write(file, text);
}

std::vector<StackProfile> EnvironmentFiles::load(const fs::path& file) {
    const nlohmann::json json = JsonFields::parse(PrivateFile::read(file));
    if (!json.is_array())
        throw JsonDecodingError("The environment records must be a JSON array.");
    std::vector<StackProfile> profiles;
    for (const nlohmann::json& item : json)
        profiles.push_back(StackProfile::fromJSON(item));
    return profiles;
}

void EnvironmentFiles::requireNotPending(const std::string& id) const {
    // Anything written under that id now would be a new, empty folder beside
    // the preserved one, and would block its recovery.
    if (existsFollowingLinks(root_ / journalName / id))
        throw VessoraError(L10n::text("A previous deletion is still pending. Restart Vessora."));
}

void EnvironmentFiles::remove(const StackProfile& profile,
                              const std::vector<StackProfile>& profiles) const {
    const std::string& id = profile.id;
    if (!StackProfile::isValidID(id))
        throw VessoraError(L10n::text("Unsafe environment path."));

    const fs::path folder = root_ / id;
    const fs::path journal = root_ / journalName;
    const fs::path entry = journal / id;
    std::vector<StackProfile> remaining;
    std::copy_if(profiles.begin(), profiles.end(), std::back_inserter(remaining),
                 [&](const StackProfile& kept) { return kept.id != id; });

    PrivateFile::createDirectories(journal);
    requireDirectory(journal);
    step(JournalStep::journalReady);

    requireNotPending(id);

    const bool existed = existsFollowingLinks(folder);
    if (existed) {
        requireDirectory(folder);
        FileMove::move(folder, entry);
        step(JournalStep::folderMoved);
    } else {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            throw VessoraError(
                L10n::text("Environment folders that are symbolic links cannot be deleted."));
        }
    }

    try {
        persist(remaining, root_ / recordsName);
    } catch (...) {
        undo(describe(std::current_exception()), profile, profiles, existed);
    }
    step(JournalStep::recordsWritten);
    if (!existed)
        return;

    try {
        persist({profile}, entry / recordCopyName);
    } catch (...) {
        undo(describe(std::current_exception()), profile, profiles, existed);
    }
    step(JournalStep::recordCopyWritten);

    try {
        trash_(entry);
    } catch (...) {
        undo(describe(std::current_exception()), profile, profiles, existed);
    }
    step(JournalStep::trashed);
}

void EnvironmentFiles::undo(const std::string& failure, const StackProfile& profile,
                            const std::vector<StackProfile>& profiles, bool existed) const {
    const fs::path journal = root_ / journalName;
    const fs::path records = root_ / recordsName;

    // A records write that failed left the old file whole. Rewriting it
    // anyway would fail the same way on a full disk and keep the folder from
    // the rename back that would have worked.
    bool recordsKept = false;
    try {
        recordsKept = load(records) == profiles;
    } catch (const std::exception&) {
    }
    if (!recordsKept) {
        try {
            persist(profiles, records);
        } catch (...) {
            throw recoveryFailed(std::current_exception(), journal);
        }
        step(JournalStep::recordsRestored);
    }

    if (existed) {
        try {
            FileMove::move(journal / profile.id, root_ / profile.id);
        } catch (...) {
            throw recoveryFailed(std::current_exception(), journal);
        }
        step(JournalStep::folderRestored);
    }
    throw VessoraError(L10n::text("The environment was not deleted: %@", {failure}));
}

void EnvironmentFiles::recover(const std::vector<StackProfile>& profiles) const {
    const fs::path journal = root_ / journalName;
    if (!existsFollowingLinks(journal))
        return;
    requireDirectory(journal);

    // Listed first, then handled: the loop below changes the folder.
    std::vector<fs::path> entries;
    for (const fs::directory_entry& item : fs::directory_iterator(journal))
        entries.push_back(item.path());

    for (const fs::path& entry : entries) {
        const std::string id = entry.filename().string();
        if (!StackProfile::isValidID(id)) {
            throw VessoraError(
                L10n::text("Unknown entry in %@. Inspect it before starting.", {journal.string()}));
        }
        requireDirectory(entry);
        if (hasID(profiles, id)) {
            // The records file was never rewritten: put the folder back.
            const fs::path target = root_ / id;
            if (existsFollowingLinks(target)) {
                throw VessoraError(L10n::text(
                    "Recovery blocked: %@ already exists. Data in %@ has been preserved.",
                    {target.string(), entry.string()}));
            }
            try {
                FileMove::move(entry, target);
            } catch (...) {
                throw recoveryFailed(std::current_exception(), entry);
            }
        } else {
            // The records no longer list it: once a person has moved the
            // folder away, nothing is left to finish.
            try {
                trash_(entry);
            } catch (...) {
                throw deletionUnfinished(std::current_exception(), entry);
            }
        }
        step(JournalStep::entryRecovered);
    }
}

} // namespace vessora
