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
// gives up leaves the files in place, in the journal or in the Trash. While
// an environment's folder is in the journal, nothing may write a new folder
// under its id: requireNotPending() is the check.
//
// Errors: VessoraError with a finished sentence, or the file system's
// (or the trash handler's) own error unchanged; a failed undo or recovery
// names the data it left in the journal. Not thread-safe: the engine
// calls it one operation at a time.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

// Disposes of one folder that has left the data root for good. May throw;
// must be callable from any thread.
using TrashHandler = std::function<void(const std::filesystem::path&)>;

// Writes one file whole or not at all, as the atomic writer does; may throw.
using RecordsWriter = std::function<void(const std::filesystem::path&, std::string_view)>;

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
    // Reads a records file as persist() writes it, without checking the list
    // as a whole; the reader's, the JSON parser's or a record's decoding
    // error when it cannot.
    static std::vector<StackProfile> load(const std::filesystem::path& file);

    // Refuses with "A previous deletion is still pending. Restart Vessora."
    // while the journal holds the folder of `id` (a valid id).
    void requireNotPending(const std::string& id) const;

    // Deletes one environment: `profiles` is the caller's complete list,
    // including `profile`. After success the caller drops every record with
    // that id; "profiles.json" already holds exactly that list. On failure
    // everything is put back and the error says so. While "profiles.json"
    // still holds the complete list (a failed atomic write leaves the old
    // file whole) the undo only moves the folder back, which takes no free
    // space; otherwise it restores the records first, then the folder, so a
    // failure between the two leaves a deletion that recovery finishes.
    void remove(const StackProfile& profile, const std::vector<StackProfile>& profiles) const;

    // Finishes or undoes every deletion left in the journal; `profiles` is
    // the list just loaded from "profiles.json". The first failure ends it;
    // an entry that cannot be moved back or handed to the trash stays where
    // it is, and the error names it: as the data to inspect, or, when the
    // trash refused it, as the folder to move out of the journal or remove
    // before the next start.
    void recover(const std::vector<StackProfile>& profiles) const;

    // For tests only: called after each step that changed the disk, so a
    // test can kill the process at exactly that point.
    void observeSteps(std::function<void(JournalStep)> observer) {
        observer_ = std::move(observer);
    }
    // For tests only: replaces the atomic writer under persist(), so a write
    // can fail while the file it would replace stays as it was.
    void writeRecordsWith(RecordsWriter writer) { writer_ = std::move(writer); }

private:
    void requireDirectory(const std::filesystem::path& folder) const;
    void step(JournalStep reached) const;
    [[noreturn]] void undo(const std::string& failure, const StackProfile& profile,
                           const std::vector<StackProfile>& profiles, bool existed) const;

    std::filesystem::path root_;
    TrashHandler trash_;
    std::function<void(JournalStep)> observer_;
    RecordsWriter writer_;
};

} // namespace vessora
