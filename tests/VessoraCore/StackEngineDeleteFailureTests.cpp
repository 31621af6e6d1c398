// Fails a delete at every step the store takes, alone and together with a
// failing undo, and checks after each that the engine lists exactly what
// "profiles.json" holds, that the environment's files are whole in exactly
// one place, that every operation on an environment the delete left unlisted
// or out of place refuses with a sentence, and that the next launch opens
// the list the failed delete left.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/BrewStandIn.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/StackEngineTesting.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace vessora {
namespace {

namespace fs = std::filesystem;

// What goes wrong during one delete.
struct Faults {
    // Bit n set: the n-th records write of the delete fails as on a full
    // disk, leaving the file it would replace as it was. The writes are, in
    // order, the records without the environment, the record copy and the
    // undo's records.
    unsigned failingWrites = 0;
    bool trashFails = false;
    // Something takes the folder's place once it is in the journal, so the
    // undo cannot move it back.
    bool placeTaken = false;
    // The environment has a folder to move.
    bool folderExists = true;
    // The journal's place is taken by a file.
    bool journalBlocked = false;

    std::string describe() const {
        return "writes failing " + std::to_string(failingWrites) + ", trash " +
               (trashFails ? "fails" : "works") + ", place " + (placeTaken ? "taken" : "free") +
               ", folder " + (folderExists ? "present" : "absent") +
               (journalBlocked ? ", journal blocked" : "");
    }
};

std::vector<Faults> everyFault() {
    std::vector<Faults> all;
    for (unsigned writes = 0; writes < 8; ++writes)
        for (bool trashFails : {false, true})
            for (bool placeTaken : {false, true})
                for (bool folderExists : {true, false})
                    all.push_back({writes, trashFails, placeTaken, folderExists, false});
    all.push_back({0, false, false, true, true});
    all.push_back({0, false, false, false, true});
    return all;
}

std::vector<std::string> idsOf(const std::vector<StackProfile>& profiles) {
    std::vector<std::string> ids;
    for (const StackProfile& profile : profiles)
        ids.push_back(profile.id);
    return ids;
}

bool lists(const std::vector<StackProfile>& profiles, const std::string& id) {
    return std::any_of(profiles.begin(), profiles.end(),
                       [&](const StackProfile& profile) { return profile.id == id; });
}

// A folder's snapshot without the record copy the delete writes into it.
FolderSnapshot contentOf(const fs::path& folder) {
    FolderSnapshot snapshot = snapshotFolder(folder);
    snapshot.erase("vessora-environment.json");
    return snapshot;
}

class StackEngineDeleteFailureTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setStandard(UserDefaults::inMemory()); }
    void TearDown() override {
        for (const fs::path& socketFolder : socketFolders)
            fs::remove_all(socketFolder);
        UserDefaults::setStandard(nullptr);
    }

    std::unique_ptr<StackEngine> open(const fs::path& root, const fs::path& trash,
                                      std::function<bool()> trashFails = nullptr) {
        auto options = StackEngineTesting::quickOptions(root, brew.brew(), helper);
        options.trashHandler = [trash, trashFails](const fs::path& item) {
            if (trashFails && trashFails())
                throw std::runtime_error("The Trash refused the folder.");
            fs::create_directories(trash);
            fs::rename(item, trash / item.filename());
        };
        auto engine = std::make_unique<StackEngine>(options);
        socketFolders.push_back(engine->socketDirectory());
        return engine;
    }

    // The answer of every operation that takes an environment id.
    std::map<std::string, std::string> answers(StackEngine& engine, const StackProfile& profile) {
        const std::string& id = profile.id;
        StackProfile renamed = profile;
        renamed.name = "Renamed";
        const std::vector<std::pair<std::string, std::function<void()>>> operations{
            {"start", [&] { engine.start(id); }},
            {"stop", [&] { engine.stop(id); }},
            {"update", [&] { engine.update(renamed); }},
            {"remove", [&] { engine.remove(id); }},
            {"renewCertificate", [&] { engine.renewCertificate(id); }},
            {"certificateInfo", [&] { engine.certificateInfo(id); }},
            {"databaseCredentials", [&] { engine.databaseCredentials(id); }},
            {"setDatabasePassword", [&] { engine.setDatabasePassword(id, "Secret-42"); }},
            {"databaseAdminSnapshot", [&] { engine.databaseAdminSnapshot(id); }},
            {"createDatabase", [&] { engine.createDatabase(id, "archive", true); }},
            {"createDatabaseUser",
             [&] {
                 engine.createDatabaseUser(id, "writer", "Secret-42", "app",
                                           DatabaseAccess::readWrite);
             }},
            {"setDatabaseAccess",
             [&] {
                 engine.setDatabaseAccess(id, "writer", "127.0.0.1",
                                          {{"app", {}, DatabaseAccess::readOnly}});
             }},
            {"changeDatabaseUserPassword",
             [&] { engine.changeDatabaseUserPassword(id, "writer", "127.0.0.1", "Secret-43"); }},
            {"deleteDatabaseUser", [&] { engine.deleteDatabaseUser(id, "writer", "127.0.0.1"); }},
            {"executeSQL", [&] { engine.executeSQL(id, "SELECT 1"); }},
        };
        std::map<std::string, std::string> result;
        for (const auto& [name, operation] : operations)
            result[name] = thrownMessage(operation);
        return result;
    }

    TemporaryFolder folder{"vessora-delete-failure"};
    BrewStandIn brew;
    std::shared_ptr<FakeHostService> helper = std::make_shared<FakeHostService>();
    std::vector<fs::path> socketFolders;
};

TEST_F(StackEngineDeleteFailureTest, AfterEveryFailedDeleteTheListIsTheStoredOne) {
    // One environment with a hostname and an HTTPS identity, copied for each
    // case.
    const fs::path original = folder.path() / "original";
    StackProfile doomed;
    {
        auto engine = open(original, folder.path() / "unused-trash");
        doomed = engine->create("Doomed", "php@8.4", "mariadb@11.4", false, "nginx", true,
                                std::nullopt, "app", std::string("doomed.test"), true, false);
    }
    const std::string& id = doomed.id;
    const FolderSnapshot content = contentOf(original / id);
    ASSERT_FALSE(content.empty());

    const std::string unknown = "Unknown environment.";
    const std::string pending = "A previous deletion is still pending. Restart Vessora.";
    const std::string notRunning = "Start the environment to manage its active MariaDB instance.";
    // What an environment that is listed while its folder is in the journal
    // answers: no operation works in or beside that folder.
    const std::map<std::string, std::string> whilePending{
        {"start", pending},
        {"stop", ""},
        {"update", pending},
        {"remove", pending},
        {"renewCertificate", pending},
        {"certificateInfo", pending},
        {"databaseCredentials", pending},
        {"setDatabasePassword", pending},
        {"databaseAdminSnapshot", notRunning},
        {"createDatabase", notRunning},
        {"createDatabaseUser", notRunning},
        {"setDatabaseAccess", notRunning},
        {"changeDatabaseUserPassword", notRunning},
        {"deleteDatabaseUser", notRunning},
        {"executeSQL", "The environment is not fully running."},
    };

    int number = 0;
    int unlistedAfterFailure = 0;
    int listedOutOfPlace = 0;
    for (const Faults& faults : everyFault()) {
        SCOPED_TRACE(faults.describe());
        const fs::path root = folder.path() / ("case-" + std::to_string(++number));
        const fs::path trash = folder.path() / ("trash-" + std::to_string(number));
        const fs::path place = root / id;
        const fs::path entry = root / ".pending-deletions" / id;
        fs::copy(original, root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        if (!faults.folderExists)
            fs::remove_all(place);

        bool trashFails = faults.trashFails;
        auto engine = open(root, trash, [&trashFails] { return trashFails; });
        if (faults.journalBlocked)
            PrivateFile::write(root / ".pending-deletions", "");
        EnvironmentFiles& files = StackEngineTesting::environmentFiles(*engine);
        int writes = 0;
        files.writeRecordsWith([&](const fs::path& file, std::string_view text) {
            if (faults.failingWrites & (1u << writes++))
                throw fs::filesystem_error("Could not write file", file,
                                           std::error_code(ENOSPC, std::generic_category()));
            PrivateFile::write(file, text);
        });
        files.observeSteps([&](JournalStep step) {
            if (faults.placeTaken && step == JournalStep::folderMoved)
                fs::create_directory(place);
        });

        const std::string failure = thrownMessage([&] { engine->remove(id); });
        files.writeRecordsWith(nullptr);
        files.observeSteps(nullptr);
        trashFails = false;

        // The list is the stored one, whatever went wrong.
        const std::vector<StackProfile> listed = engine->allProfiles();
        const std::vector<StackProfile> stored = EnvironmentFiles::load(root / "profiles.json");
        ASSERT_EQ(idsOf(listed), idsOf(stored)) << failure;
        ASSERT_TRUE(listed == stored);
        const bool stillListed = lists(listed, id);

        // The files are whole in exactly one place.
        const bool inPlace = contentOf(place) == content;
        const bool inJournal = contentOf(entry) == content;
        const bool inTrash = contentOf(trash / id) == content;
        if (faults.folderExists) {
            EXPECT_EQ(int(inPlace) + int(inJournal) + int(inTrash), 1) << failure;
        }

        // A delete that reports success or a completed undo means what it says.
        if (failure.empty()) {
            EXPECT_FALSE(stillListed);
            EXPECT_TRUE(inTrash || !faults.folderExists);
        } else if (failure.rfind("The environment was not deleted: ", 0) == 0) {
            EXPECT_TRUE(stillListed);
            EXPECT_TRUE(inPlace || !faults.folderExists);
        } else if (failure.rfind("Deletion and recovery failed: ", 0) != 0) {
            // Refused before anything changed.
            EXPECT_TRUE(faults.journalBlocked) << failure;
            EXPECT_TRUE(stillListed);
        }

        if (!stillListed) {
            unlistedAfterFailure += failure.empty() ? 0 : 1;
            for (const auto& [operation, answer] : answers(*engine, doomed))
                EXPECT_EQ(answer, unknown) << operation;
        } else if (inJournal) {
            ++listedOutOfPlace;
            const bool occupied = fs::exists(fs::symlink_status(place));
            const FolderSnapshot atPlace = snapshotFolder(place);
            EXPECT_EQ(answers(*engine, doomed), whilePending);
            // Nothing was made beside the preserved folder.
            EXPECT_EQ(fs::exists(fs::symlink_status(place)), occupied);
            EXPECT_EQ(snapshotFolder(place), atPlace);
            EXPECT_EQ(contentOf(entry), content);
        }

        // The next launch opens the list the failed delete left, with the
        // environment whole where that list says: once a person has cleared
        // the place the folder comes back to.
        engine.reset();
        if (faults.placeTaken && !inPlace)
            fs::remove(place);
        if (faults.journalBlocked)
            fs::remove(root / ".pending-deletions");
        engine = open(root, trash);
        EXPECT_TRUE(engine->allProfiles() == listed);
        EXPECT_TRUE(engine->allProfiles() == EnvironmentFiles::load(root / "profiles.json"));
        if (faults.folderExists) {
            EXPECT_EQ(contentOf(stillListed ? place : trash / id), content);
        }
        engine.reset();
    }
    // The cases reached both outcomes of a failed undo.
    EXPECT_GT(unlistedAfterFailure, 0);
    EXPECT_GT(listedOutOfPlace, 0);
}

} // namespace
} // namespace vessora
