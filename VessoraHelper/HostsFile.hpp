// The one writer of the system hosts file. apply() replaces one user's
// section as a transaction: under an exclusive flock on ".vessora-hosts.lock"
// it checks that the lock and hosts files can only have been made by their
// expected owner, keeps a one-time backup ".vessora-hosts.original", writes
// the new text to a staging file ".vessora-hosts-<UUID>" carrying the hosts
// file's owner, group and permission bits, makes sure nobody changed the
// hosts file meanwhile, renames the staging file over it and flushes the
// folder, so success is never reported for a change a power loss could undo.
// The hosts file is never written in place. No staging file outlives the
// call; those of a call that was killed are removed by the next one, under
// the lock.
//
// Failures throw HostServiceError with the sentence to show; errors of the
// platform's reads and writes pass through as std::system_error, and the
// section editor's errors unchanged. The wait for the lock has no limit.
#pragma once

#include "VessoraHelper/FileCalls.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vessora::HostsFile {

// Where the files live and who must own the hosts and lock files (root on a
// real system; tests pass a temporary folder and their own user).
struct Location {
    std::filesystem::path folder = "/etc";
    uid_t owner = 0;
    // Runs after the staging file is written, right before the check that
    // nobody changed the hosts file; lets tests play a writer that ignores
    // the lock.
    std::function<void()> beforeRaceCheck;
    // How files are written, flushed and renamed.
    FileCalls calls;

    std::filesystem::path hosts() const { return folder / "hosts"; }
    std::filesystem::path lock() const { return folder / ".vessora-hosts.lock"; }
    std::filesystem::path backup() const { return folder / ".vessora-hosts.original"; }
    // Staging files and the backup's temporary file are named with this
    // prefix followed by a random UUID.
    static constexpr const char* stagingPrefix = ".vessora-hosts-";
};

// A hosts file holds 1 to maxSize bytes, before and after a change. One
// user's section is at most ManagedHosts::maxSectionSize: a change is
// refused as too large only when everything else in the file already holds
// more than maxSize minus that.
inline constexpr std::size_t maxSize = 2'000'000;

inline constexpr const char* lockFailed = "Could not lock the hosts file.";
inline constexpr const char* unsafeLock = "Unsafe hosts lock file.";
inline constexpr const char* openFailed = "Could not open the hosts file.";
inline constexpr const char* unsafeHosts = "Unsafe hosts file.";
inline constexpr const char* notUTF8 = "The hosts file must contain UTF-8 text.";
inline constexpr const char* tooLarge =
    "The hosts file would grow too large. Remove some of its entries and retry.";
inline constexpr const char* backupFailed = "Could not back up the hosts file.";
inline constexpr const char* stageFailed = "Could not stage the hosts file.";
inline constexpr const char* saveFailed = "Could not save the hosts file.";
inline constexpr const char* changedMeanwhile =
    "Another application changed the hosts file. Please retry.";
inline constexpr const char* replaceFailed = "Could not replace the hosts file.";

// Replaces the section of `userID` with `names` (none removes it). When the
// text stays the same nothing is written at all.
void apply(const Location& location, std::uint32_t userID, const std::vector<std::string>& names);

} // namespace vessora::HostsFile
