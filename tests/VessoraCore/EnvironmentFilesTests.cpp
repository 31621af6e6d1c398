#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/EnvironmentFiles.hpp"
#include "VessoraCore/Storage/UserTrash.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kCustomID = "env-3f2c8a1e-6b4d-4c2a-9e7f-0a1b2c3d4e5f";

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<StackProfile> readRecords(const fs::path& file) {
    nlohmann::json array = JsonFields::parse(PrivateFile::read(file));
    std::vector<StackProfile> profiles;
    for (const auto& item : array)
        profiles.push_back(StackProfile::fromJSON(item));
    return profiles;
}

std::vector<std::string> idsIn(const fs::path& file) {
    std::vector<std::string> ids;
    for (const StackProfile& profile : readRecords(file))
        ids.push_back(profile.id);
    return ids;
}

std::size_t countEntries(const fs::path& folder) {
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class EnvironmentFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        root = folder.path() / "Vessora";
        fs::create_directory(root);
        profiles = StackProfile::defaults();
        StackProfile custom = profiles.at(0);
        custom.id = kCustomID;
        custom.name = "Shop";
        custom.httpPort = 8090;
        custom.phpPort = 9090;
        custom.databasePort = 13310;
        custom.hostname = "shop.test";
        profiles.push_back(custom);
        for (const StackProfile& profile : profiles) {
            fs::create_directories(root / profile.id / "public");
            std::ofstream(root / profile.id / "public/index.php") << "<?php // " << profile.id;
        }
        files().persist(profiles, records());
    }

    EnvironmentFiles files() const {
        return EnvironmentFiles(root, [this](const fs::path& item) { trashed.push_back(item); });
    }
    EnvironmentFiles filesWithTrash() const {
        return EnvironmentFiles(root, [this](const fs::path& item) {
            trashed.push_back(item);
            UserTrash(folder.path() / "Trash").trashItem(item);
        });
    }
    fs::path records() const { return root / "profiles.json"; }
    fs::path journal() const { return root / ".pending-deletions"; }

    std::string removeFailure(const EnvironmentFiles& store, const StackProfile& profile) {
        try {
            store.remove(profile, profiles);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }
    std::string recoverFailure(const EnvironmentFiles& store) {
        try {
            store.recover(readRecords(records()));
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    TemporaryFolder folder;
    fs::path root;
    std::vector<StackProfile> profiles;
    mutable std::vector<fs::path> trashed;
};

TEST_F(EnvironmentFilesTest, RecordsFileRoundTripsPrettyPrintedAndPrivate) {
    EXPECT_EQ(readRecords(records()), profiles);
    std::string text = PrivateFile::read(records());
    EXPECT_NE(text.find("\n  {\n"), std::string::npos) << text;
    // Keys sorted: "databaseName" before "databasePort" before "documentRoot".
    EXPECT_LT(text.find("\"databaseName\""), text.find("\"databasePort\""));
    EXPECT_EQ(text.find("\"documentRoot\""), std::string::npos);
    EXPECT_EQ(modeOf(records()), 0600);

    ::chmod(records().c_str(), 0644);
    files().persist({}, records());
    EXPECT_EQ(JsonFields::parse(PrivateFile::read(records())), nlohmann::json::array());
    EXPECT_EQ(modeOf(records()), 0600);
}

TEST_F(EnvironmentFilesTest, DeletionHandsTheFolderWithItsRecordToTheTrash) {
    FolderSnapshot deleted = snapshotFolder(root / kCustomID);
    FolderSnapshot studio = snapshotFolder(root / "studio");
    FolderSnapshot legacy = snapshotFolder(root / "legacy");

    filesWithTrash().remove(profiles.at(2), profiles);

    EXPECT_EQ(idsIn(records()), (std::vector<std::string>{"studio", "legacy"}));
    EXPECT_EQ(modeOf(records()), 0600);
    EXPECT_FALSE(fs::exists(root / kCustomID));
    EXPECT_EQ(modeOf(journal()), 0700);
    EXPECT_EQ(countEntries(journal()), 0u);
    ASSERT_EQ(trashed, std::vector<fs::path>{journal() / kCustomID});

    const fs::path inTrash = folder.path() / "Trash/files" / kCustomID;
    FolderSnapshot arrived = snapshotFolder(inTrash);
    auto copy = arrived.extract("vessora-environment.json");
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(arrived, deleted);
    EXPECT_EQ(readRecords(inTrash / "vessora-environment.json"),
              std::vector<StackProfile>{profiles.at(2)});
    EXPECT_EQ(modeOf(inTrash / "vessora-environment.json"), 0600);

    EXPECT_EQ(snapshotFolder(root / "studio"), studio);
    EXPECT_EQ(snapshotFolder(root / "legacy"), legacy);
}

TEST_F(EnvironmentFilesTest, DefaultTrashRecordsTheEnvironmentsOwnFolderAsOrigin) {
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    EnvironmentFiles(root).remove(profiles.at(2), profiles);
    saved ? ::setenv("XDG_DATA_HOME", saved->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");

    EXPECT_TRUE(fs::is_directory(folder.path() / "Trash/files" / kCustomID));
    const std::string info =
        PrivateFile::read(folder.path() / "Trash/info" / (kCustomID + ".trashinfo"));
    // Restoring puts it back in the data root, not in the deletion journal.
    EXPECT_NE(info.find("\nPath=" + UserTrash::encodePath((root / kCustomID).string()) + "\n"),
              std::string::npos)
        << info;
    EXPECT_EQ(countEntries(journal()), 0u);
}

TEST_F(EnvironmentFilesTest, DeletionWithoutAFolderOnlyRewritesTheRecords) {
    fs::remove_all(root / "legacy");
    files().remove(profiles.at(1), profiles);
    EXPECT_EQ(idsIn(records()), (std::vector<std::string>{"studio", kCustomID}));
    EXPECT_TRUE(fs::is_directory(journal()));
    EXPECT_TRUE(trashed.empty());
}

TEST_F(EnvironmentFilesTest, RefusesUnsafeIdsAndFoldersThatAreNotPlainFolders) {
    std::string before = PrivateFile::read(records());

    StackProfile upper = profiles.at(2);
    upper.id = "env-3F2C8A1E-6B4D-4C2A-9E7F-0A1B2C3D4E5F";
    EXPECT_EQ(removeFailure(files(), upper), "Unsafe environment path.");
    StackProfile escape = profiles.at(2);
    escape.id = "../Vessora";
    EXPECT_EQ(removeFailure(files(), escape), "Unsafe environment path.");
    EXPECT_FALSE(fs::exists(journal())); // refused before anything changed

    // A plain file in place of the folder.
    fs::remove_all(root / "legacy");
    std::ofstream(root / "legacy") << "not a folder";
    EXPECT_EQ(removeFailure(files(), profiles.at(1)),
              "Symbolic link or invalid environment folder: " + (root / "legacy").string());
    EXPECT_EQ(PrivateFile::read(root / "legacy"), "not a folder");

    // A link to a real folder, and a link whose target is gone.
    fs::remove(root / "legacy");
    fs::create_directory(folder.path() / "elsewhere");
    fs::create_directory_symlink(folder.path() / "elsewhere", root / "legacy");
    EXPECT_EQ(removeFailure(files(), profiles.at(1)),
              "Symbolic link or invalid environment folder: " + (root / "legacy").string());
    fs::remove(root / "legacy");
    fs::create_directory_symlink(folder.path() / "gone", root / "legacy");
    EXPECT_EQ(removeFailure(files(), profiles.at(1)),
              "Environment folders that are symbolic links cannot be deleted.");

    EXPECT_TRUE(fs::is_symlink(root / "legacy"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "elsewhere"));
    EXPECT_EQ(PrivateFile::read(records()), before);
    EXPECT_TRUE(trashed.empty());
}

TEST_F(EnvironmentFilesTest, RefusesAJournalThatIsALinkOrAlreadyHoldsTheEntry) {
    std::string before = PrivateFile::read(records());
    fs::create_directories(journal() / "studio");
    EXPECT_EQ(removeFailure(files(), profiles.at(0)),
              "A previous deletion is still pending. Restart Vessora.");
    EXPECT_TRUE(fs::is_directory(root / "studio/public"));

    fs::remove_all(journal());
    fs::create_directory(folder.path() / "decoy");
    fs::create_directory_symlink(folder.path() / "decoy", journal());
    EXPECT_EQ(removeFailure(files(), profiles.at(0)),
              "Symbolic link or invalid environment folder: " + journal().string());
    EXPECT_TRUE(fs::is_directory(root / "studio/public"));
    EXPECT_EQ(PrivateFile::read(records()), before);
}

TEST_F(EnvironmentFilesTest, FailingTrashIsUndoneWithTheRecordCopyKept) {
    FolderSnapshot legacy = snapshotFolder(root / "legacy");
    ::chmod(records().c_str(), 0644);
    EnvironmentFiles store(root,
                           [](const fs::path&) { throw std::runtime_error("The Trash is full."); });
    EXPECT_EQ(removeFailure(store, profiles.at(1)),
              "The environment was not deleted: The Trash is full.");

    EXPECT_EQ(readRecords(records()), profiles);
    EXPECT_EQ(modeOf(records()), 0600);
    FolderSnapshot back = snapshotFolder(root / "legacy");
    ASSERT_EQ(back.count("vessora-environment.json"), 1u);
    back.erase("vessora-environment.json");
    EXPECT_EQ(back, legacy);
    EXPECT_EQ(countEntries(journal()), 0u);
}

TEST_F(EnvironmentFilesTest, FailingRecordCopyIsUndone) {
    // A folder where the record copy goes makes its write fail.
    fs::create_directory(root / "legacy/vessora-environment.json");
    std::string message = removeFailure(files(), profiles.at(1));
    EXPECT_EQ(message.rfind("The environment was not deleted: ", 0), 0u) << message;
    EXPECT_EQ(readRecords(records()), profiles);
    EXPECT_TRUE(fs::is_directory(root / "legacy/public"));
    EXPECT_TRUE(trashed.empty());
}

TEST_F(EnvironmentFilesTest, RecordsWriteFailingOnAFullDiskOnlyMovesTheFolderBack) {
    // A full disk: every write fails, and the file it would replace stays.
    int writes = 0;
    const auto fullDisk = [&writes](const fs::path& file, std::string_view) {
        ++writes;
        throw fs::filesystem_error("Could not write file", file,
                                   std::error_code(ENOSPC, std::generic_category()));
    };
    const std::string before = PrivateFile::read(records());
    FolderSnapshot legacy = snapshotFolder(root / "legacy");
    EnvironmentFiles store = files();
    store.writeRecordsWith(fullDisk);
    std::vector<JournalStep> steps;
    store.observeSteps([&steps](JournalStep reached) { steps.push_back(reached); });

    const std::string message = removeFailure(store, profiles.at(1));
    EXPECT_EQ(message.rfind("The environment was not deleted: ", 0), 0u) << message;
    EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
    EXPECT_EQ(snapshotFolder(root / "legacy"), legacy);
    EXPECT_EQ(countEntries(journal()), 0u);
    EXPECT_EQ(PrivateFile::read(records()), before);
    // The unchanged records were not written again.
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(steps, (std::vector<JournalStep>{JournalStep::journalReady, JournalStep::folderMoved,
                                               JournalStep::folderRestored}));

    // Without a folder there is nothing to move back and nothing to rewrite.
    fs::remove_all(root / "legacy");
    writes = 0;
    EXPECT_EQ(removeFailure(store, profiles.at(1)).rfind("The environment was not deleted: ", 0),
              0u);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(PrivateFile::read(records()), before);
    EXPECT_TRUE(trashed.empty());
}

TEST_F(EnvironmentFilesTest, RecordsWrittenBeforeAFailureAreRestoredBeforeTheFolder) {
    // The record copy fails after "profiles.json" was rewritten without the
    // record: the records go back first, so a failure there leaves a
    // deletion recovery finishes instead of a folder no record lists.
    fs::create_directory(root / "legacy/vessora-environment.json");
    EnvironmentFiles store = files();
    std::vector<JournalStep> steps;
    store.observeSteps([&steps](JournalStep reached) { steps.push_back(reached); });
    const std::string message = removeFailure(store, profiles.at(1));
    EXPECT_EQ(message.rfind("The environment was not deleted: ", 0), 0u) << message;
    EXPECT_EQ(readRecords(records()), profiles);
    EXPECT_EQ(steps,
              (std::vector<JournalStep>{JournalStep::journalReady, JournalStep::folderMoved,
                                        JournalStep::recordsWritten, JournalStep::recordsRestored,
                                        JournalStep::folderRestored}));
}

TEST_F(EnvironmentFilesTest, FailedUndoKeepsTheFolderInTheJournal) {
    // Neither the new nor the old records file can take a directory's place.
    fs::remove(records());
    fs::create_directory(records());
    std::string message = removeFailure(files(), profiles.at(1));
    EXPECT_EQ(message.rfind("Deletion and recovery failed: ", 0), 0u) << message;
    EXPECT_NE(message.find(". Inspect the preserved data in " + journal().string() +
                           ", then restart Vessora."),
              std::string::npos)
        << message;
    EXPECT_TRUE(fs::is_directory(journal() / "legacy/public"));
    EXPECT_TRUE(trashed.empty());
}

TEST_F(EnvironmentFilesTest, RecoveryUndoesUncommittedAndFinishesCommittedDeletions) {
    EXPECT_EQ(recoverFailure(files()), "no error"); // no journal at all
    EXPECT_FALSE(fs::exists(journal()));

    fs::create_directory(journal());
    // "legacy" is still listed: undone. The custom one is not: finished.
    fs::rename(root / "legacy", journal() / "legacy");
    fs::rename(root / kCustomID, journal() / kCustomID);
    files().persist({profiles.at(0), profiles.at(1)}, records());

    // A trash handler's error ends the recovery with the entry kept and named.
    EnvironmentFiles failing(root, [](const fs::path&) { throw std::runtime_error("No Trash."); });
    EXPECT_EQ(recoverFailure(failing), "Deletion and recovery failed: No Trash. Move the folder " +
                                           (journal() / kCustomID).string() +
                                           " out of “.pending-deletions” or remove it, then "
                                           "restart Vessora.");
    EXPECT_TRUE(fs::is_directory(journal() / kCustomID / "public"));

    EXPECT_EQ(recoverFailure(filesWithTrash()), "no error");
    EXPECT_TRUE(fs::is_directory(root / "legacy/public"));
    EXPECT_EQ(trashed, std::vector<fs::path>{journal() / kCustomID});
    EXPECT_TRUE(fs::is_directory(folder.path() / "Trash/files" / kCustomID / "public"));
    EXPECT_TRUE(fs::is_empty(journal()));
}

TEST_F(EnvironmentFilesTest, RecoveryKeepsAnEntryTheTrashCannotTakeAndNamesIt) {
    // A data root on another file system than the user's Trash.
    if (!onDifferentFileSystems("/dev/shm", folder.path()))
        GTEST_SKIP() << "no second file system for the data root";
    TemporaryFolder other("vessora-journal", "/dev/shm");
    // As the default handler does, with the Trash in the test's folder.
    const UserTrash trash(folder.path() / "Trash");
    const EnvironmentFiles store(other.path(), [&](const fs::path& item) {
        trash.trashItem(item, other.path() / item.filename());
    });

    // A deletion committed by the records, then killed before the Trash.
    store.persist({profiles.at(0)}, other.path() / "profiles.json");
    const fs::path entry = other.path() / ".pending-deletions/legacy";
    fs::create_directories(entry / "public");
    std::ofstream(entry / "public/index.php") << "<?php // legacy";
    FolderSnapshot kept = snapshotFolder(entry);

    const auto recoverOther = [&] {
        try {
            store.recover({profiles.at(0)});
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    const std::string expected =
        "Deletion and recovery failed: Could not move " + entry.string() +
        " to the Trash because it is on another file system. Move the folder " + entry.string() +
        " out of “.pending-deletions” or remove it, then restart Vessora.";
    EXPECT_EQ(recoverOther(), expected);
    // Every later start says the same until a person has done what it says.
    EXPECT_EQ(recoverOther(), expected);
    EXPECT_EQ(snapshotFolder(entry), kept);
    EXPECT_TRUE(snapshotFolder(trash.root() / "info").empty());
    EXPECT_TRUE(snapshotFolder(trash.root() / "files").empty());

    // Either way out of the journal ends it.
    fs::rename(entry, other.path() / "legacy-inspected");
    EXPECT_EQ(recoverOther(), "no error");
    EXPECT_EQ(snapshotFolder(other.path() / "legacy-inspected"), kept);
    fs::create_directories(entry / "public");
    EXPECT_EQ(recoverOther(), expected);
    fs::remove_all(entry);
    EXPECT_EQ(recoverOther(), "no error");
}

TEST_F(EnvironmentFilesTest, RecoveryThatCannotMoveAnEntryBackNamesIt) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    fs::create_directory(journal());
    fs::rename(root / "legacy", journal() / "legacy");
    FolderSnapshot kept = snapshotFolder(journal() / "legacy");
    // The data root refuses the move back.
    fs::permissions(root, fs::perms(0500));
    const std::string message = recoverFailure(files());
    fs::permissions(root, fs::perms(0700));
    EXPECT_EQ(message.rfind("Deletion and recovery failed: ", 0), 0u) << message;
    EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
    EXPECT_NE(message.find(". Inspect the preserved data in " + (journal() / "legacy").string() +
                           ", then restart Vessora."),
              std::string::npos)
        << message;
    EXPECT_EQ(snapshotFolder(journal() / "legacy"), kept);
    EXPECT_EQ(recoverFailure(files()), "no error");
    EXPECT_EQ(snapshotFolder(root / "legacy"), kept);
}

TEST_F(EnvironmentFilesTest, RecoveryStopsAtUnknownEntriesAndOccupiedFolders) {
    fs::create_directory(journal());
    std::ofstream(journal() / ".DS_Store") << "";
    EXPECT_EQ(recoverFailure(files()),
              "Unknown entry in " + journal().string() + ". Inspect it before starting.");
    fs::remove(journal() / ".DS_Store");

    // The listed environment's folder exists again: both stay as they are.
    fs::create_directories(journal() / "legacy/data");
    FolderSnapshot entry = snapshotFolder(journal() / "legacy");
    FolderSnapshot present = snapshotFolder(root / "legacy");
    EXPECT_EQ(recoverFailure(files()),
              "Recovery blocked: " + (root / "legacy").string() + " already exists. Data in " +
                  (journal() / "legacy").string() + " has been preserved.");
    EXPECT_EQ(snapshotFolder(journal() / "legacy"), entry);
    EXPECT_EQ(snapshotFolder(root / "legacy"), present);

    // A link in the journal is never followed.
    fs::remove_all(journal() / "legacy");
    fs::create_directory_symlink(root / "studio", journal() / "legacy");
    EXPECT_EQ(recoverFailure(files()),
              "Symbolic link or invalid environment folder: " + (journal() / "legacy").string());
    EXPECT_TRUE(trashed.empty());
}

} // namespace
} // namespace vessora
