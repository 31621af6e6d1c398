// The one place that changes what the data root holds about environments as
// a whole: the records file "profiles.json" and the deletion journal
// ".pending-deletions".
//
// A deletion moves the environment's folder into the journal, rewrites
// "profiles.json" without the record, stores the record beside the folder
// and hands the folder to the trash handler. After a crash the journal entry
// and "profiles.json" tell which way it went: an id still listed is undone
// (the folder goes back), an id no longer listed is finished (the folder goes
// to the trash). Nothing here removes user data itself; every path that
// gives up leaves the files in place, in the journal or in the Trash.
//
// Errors: VessoraError with a finished sentence, or the file system's
// (or the trash handler's) own error unchanged. Not thread-safe: the engine
// calls it one operation at a time.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <filesystem>
#include <functional>
#include <vector>

namespace vessora {

// Disposes of one folder that has left the data root for good. May throw;
// must be callable from any thread.
using TrashHandler = std::function<void(const std::filesystem::path&)>;

// The points after which a deletion or recovery has changed the disk.
enum class JournalStep {
    journalReady,      // the journal folder exists and was checked
    folderMoved,       // the environment folder is in the journal
    recordsWritten,    // "profiles.json" no longer lists the record
    recordCopyWritten, // "vessora-environment.json" is in the journal entry
    trashed,           // the trash handler took the entry
    recordsRestored,   // undo: "profiles.json" lists the record again
    folderRestored,    // undo: the folder is back in the data root
    entryRecovered,    // recovery: one entry was moved back or trashed
};

class EnvironmentFiles {
public:
    // `root` is the data root with its links already resolved: a link
    // anywhere in the path of the journal or an environment folder is
    // refused. Without a handler, deleted folders go to the user's Trash,
    // recorded as coming from their own place in the data root.
    explicit EnvironmentFiles(std::filesystem::path root, TrashHandler trash = nullptr);

    const std::filesystem::path& root() const { return root_; }
    const TrashHandler& trash() const { return trash_; }

    // Writes the records as a pretty-printed JSON array with sorted keys,
    // atomically, mode 0600.
    void persist(const std::vector<StackProfile>& profiles,
                 const std::filesystem::path& file) const;

    // Deletes one environment: `profiles` is the caller's complete list,
    // including `profile`. After success the caller drops every record with
    // that id; "profiles.json" already holds exactly that list. On failure
    // everything is put back and the error says so.
    void remove(const StackProfile& profile, const std::vector<StackProfile>& profiles) const;

    // Finishes or undoes every deletion left in the journal; `profiles` is
    // the list just loaded from "profiles.json". The first failure ends it.
    void recover(const std::vector<StackProfile>& profiles) const;

    // For tests only: called after each step that changed the disk, so a
    // test can kill the process at exactly that point.
    void observeSteps(std::function<void(JournalStep)> observer) {
        observer_ = std::move(observer);
    }

private:
    void requireDirectory(const std::filesystem::path& folder) const;
    void step(JournalStep reached) const;
    [[noreturn]] void undo(const std::string& failure, const StackProfile& profile,
                           const std::vector<StackProfile>& profiles, bool existed) const;

    std::filesystem::path root_;
    TrashHandler trash_;
    std::function<void(JournalStep)> observer_;
};

} // namespace vessora
