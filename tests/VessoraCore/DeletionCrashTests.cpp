// Kills a deleting process at every step of the deletion journal and checks
// that the next start's recovery finishes or undoes the deletion without
// touching any other environment.
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Storage/EnvironmentFiles.hpp"
#include "VessoraCore/Storage/UserTrash.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string kDeletedID = "env-8d7f6e5c-4b3a-4210-8f9e-7d6c5b4a3928";

// A forked child that is killed and reaped if the test ends early.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // The wait status, or nothing when the child outlived the deadline.
    std::optional<int> wait(std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

private:
    pid_t pid_;
};

std::vector<StackProfile> load(const fs::path& file) {
    std::vector<StackProfile> profiles;
    for (const auto& item : JsonFields::parse(PrivateFile::read(file)))
        profiles.push_back(StackProfile::fromJSON(item));
    return profiles;
}

bool lists(const std::vector<StackProfile>& profiles, const std::string& id) {
    for (const StackProfile& profile : profiles) {
        if (profile.id == id)
            return true;
    }
    return false;
}

class DeletionCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        root = folder.path() / "Vessora";
        trashRoot = folder.path() / "Trash";
        build();
    }

    // A fresh data root with three environments and an empty Trash.
    void build() {
        fs::remove_all(root);
        fs::remove_all(trashRoot);
        profiles = StackProfile::defaults();
        StackProfile deleted = profiles.at(0);
        deleted.id = kDeletedID;
        deleted.name = "Doomed";
        deleted.httpPort = 8090;
        deleted.phpPort = 9090;
        deleted.databasePort = 13310;
        profiles.push_back(deleted);
        for (const StackProfile& profile : profiles) {
            fs::path e = root / profile.id;
            fs::create_directories(e / "data/mariadb@11.4");
            fs::create_directories(e / "public");
            std::ofstream(e / "public/index.php") << "<?php // " << profile.id;
            std::ofstream(e / "data/mariadb@11.4/ibdata1") << std::string(4096, 'x');
        }
        EnvironmentFiles(root, [](const fs::path&) {}).persist(profiles, root / "profiles.json");
        original = snapshotFolder(root / kDeletedID);
        others = {snapshotFolder(root / "studio"), snapshotFolder(root / "legacy")};
    }

    // Runs the deletion in a child that kills itself right after `killAt`.
    // With `trashFails`, the trash handler throws, so the undo runs; with
    // `diskFull`, every records write fails and leaves the old file.
    void deleteAndKill(JournalStep killAt, bool trashFails, bool diskFull = false) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            EnvironmentFiles store(root, [&](const fs::path& item) {
                if (trashFails)
                    throw std::runtime_error("The Trash is unavailable.");
                UserTrash(trashRoot).trashItem(item);
            });
            if (diskFull) {
                store.writeRecordsWith([](const fs::path& file, std::string_view) {
                    throw fs::filesystem_error("Could not write file", file,
                                               std::error_code(ENOSPC, std::generic_category()));
                });
            }
            store.observeSteps([killAt](JournalStep reached) {
                if (reached == killAt)
                    ::raise(SIGKILL);
            });
            try {
                store.remove(profiles.at(2), profiles);
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        Child child(pid);
        std::optional<int> status = child.wait(std::chrono::seconds(20));
        ASSERT_TRUE(status) << "the deleting child did not end";
        ASSERT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL)
            << "the child was not killed at the step; wait status " << *status;
    }

    // Loads the store as the next start does and recovers.
    std::vector<StackProfile> restart() {
        std::vector<StackProfile> loaded = load(root / "profiles.json");
        EnvironmentFiles(root, [this](const fs::path& item) {
            UserTrash(trashRoot).trashItem(item);
        }).recover(loaded);
        return loaded;
    }

    void expectUndone(const std::vector<StackProfile>& loaded) {
        EXPECT_EQ(loaded, profiles);
        FolderSnapshot back = snapshotFolder(root / kDeletedID);
        back.erase("vessora-environment.json"); // kept by an undo after the trash failed
        EXPECT_EQ(back, original);
        EXPECT_TRUE(snapshotFolder(trashRoot / "files").empty());
    }

    void expectFinished(const std::vector<StackProfile>& loaded) {
        EXPECT_EQ(loaded, (std::vector<StackProfile>{profiles.at(0), profiles.at(1)}));
        EXPECT_FALSE(fs::exists(fs::symlink_status(root / kDeletedID)));
        FolderSnapshot trashed = snapshotFolder(trashRoot / "files" / kDeletedID);
        trashed.erase("vessora-environment.json"); // absent when killed before it was written
        EXPECT_EQ(trashed, original);
        EXPECT_TRUE(fs::exists(trashRoot / "info" / (kDeletedID + ".trashinfo")));
    }

    void expectOthersUntouched() {
        EXPECT_EQ(snapshotFolder(root / "studio"), others.at(0));
        EXPECT_EQ(snapshotFolder(root / "legacy"), others.at(1));
        // The journal is left empty either way.
        EXPECT_TRUE(fs::is_empty(root / ".pending-deletions"));
    }

    TemporaryFolder folder;
    fs::path root;
    fs::path trashRoot;
    std::vector<StackProfile> profiles;
    FolderSnapshot original;
    std::vector<FolderSnapshot> others;
};

TEST_F(DeletionCrashTest, KilledBeforeTheRecordsChangeIsUndone) {
    for (JournalStep step : {JournalStep::journalReady, JournalStep::folderMoved}) {
        SCOPED_TRACE(int(step));
        build();
        deleteAndKill(step, false);
        if (step == JournalStep::folderMoved) {
            EXPECT_TRUE(fs::is_directory(root / ".pending-deletions" / kDeletedID));
            EXPECT_TRUE(lists(load(root / "profiles.json"), kDeletedID));
        }
        expectUndone(restart());
        expectOthersUntouched();
    }
}

TEST_F(DeletionCrashTest, KilledAfterTheRecordsChangeIsFinished) {
    for (JournalStep step :
         {JournalStep::recordsWritten, JournalStep::recordCopyWritten, JournalStep::trashed}) {
        SCOPED_TRACE(int(step));
        build();
        deleteAndKill(step, false);
        if (step != JournalStep::trashed) {
            EXPECT_TRUE(fs::is_directory(root / ".pending-deletions" / kDeletedID));
            EXPECT_FALSE(lists(load(root / "profiles.json"), kDeletedID));
        }
        expectFinished(restart());
        expectOthersUntouched();
        if (step != JournalStep::recordsWritten) {
            EXPECT_EQ(load(trashRoot / "files" / kDeletedID / "vessora-environment.json"),
                      std::vector<StackProfile>{profiles.at(2)});
        }
    }
}

TEST_F(DeletionCrashTest, KilledDuringTheUndoOfAFailedTrashIsUndone) {
    for (JournalStep step : {JournalStep::recordsRestored, JournalStep::folderRestored}) {
        SCOPED_TRACE(int(step));
        build();
        deleteAndKill(step, true);
        expectUndone(restart());
        expectOthersUntouched();
    }
}

TEST_F(DeletionCrashTest, KilledAfterTheFolderCameBackFromAFailedRecordsWriteIsWhole) {
    deleteAndKill(JournalStep::folderRestored, false, true);
    expectUndone(restart());
    expectOthersUntouched();
}

TEST_F(DeletionCrashTest, KilledDuringRecoveryIsPickedUpByTheNextRecovery) {
    // Two interrupted deletions: "legacy" uncommitted, the other committed.
    fs::path journal = root / ".pending-deletions";
    fs::create_directory(journal);
    FolderSnapshot legacy = snapshotFolder(root / "legacy");
    fs::rename(root / "legacy", journal / "legacy");
    fs::rename(root / kDeletedID, journal / kDeletedID);
    std::vector<StackProfile> loaded = {profiles.at(0), profiles.at(1)};
    EnvironmentFiles(root, [](const fs::path&) {}).persist(loaded, root / "profiles.json");

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        EnvironmentFiles store(
            root, [this](const fs::path& item) { UserTrash(trashRoot).trashItem(item); });
        store.observeSteps([](JournalStep reached) {
            if (reached == JournalStep::entryRecovered)
                ::raise(SIGKILL);
        });
        try {
            store.recover(loaded);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    Child child(pid);
    std::optional<int> status = child.wait(std::chrono::seconds(20));
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    EXPECT_EQ(std::distance(fs::directory_iterator(journal), fs::directory_iterator()), 1);

    expectFinished(restart());
    EXPECT_EQ(snapshotFolder(root / "legacy"), legacy);
    EXPECT_EQ(snapshotFolder(root / "studio"), others.at(0));
    EXPECT_TRUE(fs::is_empty(journal));
}

} // namespace
} // namespace vessora
