// The import request's validation against a data root, and the phases'
// texts. Projects are built in a temporary folder with real links, pipes and
// sockets; nothing a check looks at may be changed by it.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "VessoraCore/Import/MigrationPhase.hpp"
#include "VessoraCore/Import/MigrationRequest.hpp"
#include "tests/Support/FolderSnapshot.hpp"
#include "tests/Support/TemporaryFolder.hpp"
#include "tests/Support/ThrownMessage.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace vessora {
namespace {

namespace fs = std::filesystem;

const std::string insideProject = "Choose a public directory inside the project folder.";
const std::string externalLink = "The project contains an absolute or external symbolic link. "
                                 "Use the existing folder, or replace that link before copying.";
const std::string specialFile = "The project contains a special file that cannot be copied. Use "
                                "the existing folder instead.";
const std::string cannotCopy = "The project folder cannot be copied.";
const std::string outsideData =
    "The web directory must be outside Vessora’s data folder and cannot contain it.";
const std::string missingFolder =
    "The selected web directory is missing or cannot be read. Choose an existing folder.";

class MigrationRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        UserDefaults::setStandard(UserDefaults::inMemory());
        fs::create_directories(root);
        fs::create_directories(project / "public/assets");
        fs::create_directories(project / "src");
        std::ofstream(project / "public/index.php") << "<?php echo 1;";
        std::ofstream(outside / "secret.txt") << "secret";
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    MigrationRequest request(ProjectImportMode mode = ProjectImportMode::copy) const {
        MigrationRequest value;
        value.name = "Shop";
        value.projectFolder = project;
        value.publicDirectory = "public";
        value.mode = mode;
        value.databaseName = "shop";
        value.php = "php@8.4";
        value.mariaDB = "mariadb@11.4";
        value.webserver = "nginx";
        return value;
    }
    std::string failure(const MigrationRequest& value) const {
        return thrownMessage([&] { value.validate(root); });
    }

    TemporaryFolder folder;
    fs::path root = folder.path() / "Vessora";
    fs::path project = folder.path() / "project";
    fs::path outside = [this] {
        fs::create_directories(folder.path() / "outside");
        return folder.path() / "outside";
    }();
};

TEST(MigrationPhaseTest, RawValuesAreTheProgressTextsInOrder) {
    std::vector<std::string> texts;
    for (const MigrationPhase phase : allMigrationPhases()) {
        texts.push_back(rawValue(phase));
        EXPECT_EQ(migrationPhase(rawValue(phase)), phase);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Checking import…", "Installing missing packages…",
                                               "Preparing project files…",
                                               "Starting the new stack and importing SQL…",
                                               "Verifying the new environment…"}));
    for (const char* other : {"", "checking", "Checking import", "Checking import… "})
        EXPECT_EQ(migrationPhase(other), std::nullopt) << other;

    const auto defaults = UserDefaults::inMemory();
    UserDefaults::setStandard(defaults);
    EXPECT_EQ(displayText(MigrationPhase::verifying), "Verifying the new environment…");
    defaults->set("Vessora.language", "de");
    EXPECT_EQ(displayText(MigrationPhase::copying), "Projektdateien werden vorbereitet…");
    UserDefaults::setStandard(nullptr);
}

TEST_F(MigrationRequestTest, ChecksRunInOrderAndChangeNothing) {
    const FolderSnapshot before = snapshotFolder(folder.path());
    EXPECT_EQ(failure(request()), "");

    MigrationRequest value = request();
    value.databaseName = "mysql";
    value.publicDirectory = "../outside";
    EXPECT_NE(failure(value).find("database name"), std::string::npos) << failure(value);

    value = request();
    for (const char* refused :
         {"/public", "public/", "a//b", "../outside", "a/./b", "pub\tlic", "pub\nlic"}) {
        value.publicDirectory = refused;
        EXPECT_EQ(failure(value), insideProject) << refused;
    }
    value = request();
    value.projectFolder = "project";
    EXPECT_EQ(failure(value), insideProject);

    // The public directory is judged by where its links lead.
    fs::create_directory_symlink(outside, project / "away");
    fs::create_directory_symlink(project / "src", project / "code");
    value = request(ProjectImportMode::existing);
    value.publicDirectory = "away";
    EXPECT_EQ(failure(value), insideProject);
    value.publicDirectory = "code";
    EXPECT_EQ(failure(value), "");
    value.publicDirectory = "missing";
    EXPECT_EQ(failure(value), missingFolder);
    value.publicDirectory = "";
    EXPECT_EQ(failure(value), "");

    value.projectFolder = folder.path() / "nowhere";
    EXPECT_EQ(failure(value), missingFolder);
    fs::create_directories(root / "imports/shop");
    value.projectFolder = root / "imports/shop";
    EXPECT_EQ(failure(value), outsideData);
    value.projectFolder = folder.path();
    EXPECT_EQ(failure(value), outsideData);

    fs::remove(project / "away");
    fs::remove(project / "code");
    fs::remove_all(root / "imports");
    EXPECT_EQ(snapshotFolder(folder.path()), before);
}

TEST_F(MigrationRequestTest, CopyModeRefusesLinksThatLeaveTheProject) {
    const auto withLink = [&](const fs::path& target, const fs::path& link) {
        fs::create_symlink(target, project / link);
        std::string copy = failure(request(ProjectImportMode::copy));
        std::string existing = failure(request(ProjectImportMode::existing));
        fs::remove(project / link);
        EXPECT_EQ(existing, "") << link << " -> " << target;
        return copy;
    };
    EXPECT_EQ(withLink(outside / "secret.txt", "secret"), externalLink);
    EXPECT_EQ(withLink(project / "src", "src-absolute"), externalLink) << "absolute, though inside";
    EXPECT_EQ(withLink("../../outside/secret.txt", "public/secret"), externalLink);
    // A dangling link counts by where it would point once copied.
    EXPECT_EQ(withLink("../../config/database-password", "public/password"), externalLink);
    EXPECT_EQ(withLink("../missing.txt", "public/missing"), "");
    // Inside the project: up to a parent folder, a file, a loop.
    EXPECT_EQ(withLink("..", "public/assets/up"), "");
    EXPECT_EQ(withLink("../index.php", "public/assets/index"), "");
    fs::create_symlink("loop-b", project / "src/loop-a");
    EXPECT_EQ(withLink("loop-a", "src/loop-b"), "");
    // A loop through a folder outside leaves the project.
    fs::create_symlink("../project/src/out", outside / "back");
    EXPECT_EQ(withLink("../../outside/back", "src/out"), externalLink);
    // The project folder itself is not inside it.
    EXPECT_EQ(withLink(".", "self"), externalLink);
    fs::remove(project / "src/loop-a");

    // Up to "/" and down again into the project's own folder: inside from
    // the source, but from the copy it leads back into the source.
    std::string toRoot = "../..";
    for (const auto& part : project.relative_path())
        toRoot += part.empty() ? "" : "/..";
    EXPECT_EQ(withLink(toRoot + project.string() + "/src", "public/assets/source"), externalLink);
    EXPECT_EQ(withLink("../../" + project.filename().string() + "/src", "public/sibling"),
              externalLink);
    // Through another link that climbs.
    fs::create_symlink("..", project / "public/assets/up");
    EXPECT_EQ(withLink("up/../../outside/secret.txt", "public/assets/peek"), externalLink);
    EXPECT_EQ(withLink("up/index.php", "public/assets/peek"), "");
    fs::remove(project / "public/assets/up");

    // The project folder given through a link is scanned where it lies.
    fs::create_directory_symlink(project, folder.path() / "project-link");
    MigrationRequest linked = request();
    linked.projectFolder = folder.path() / "project-link";
    fs::create_symlink("../index.php", project / "public/assets/index");
    EXPECT_EQ(failure(linked), "");
}

TEST_F(MigrationRequestTest, CopyModeRefusesSpecialFilesAndUnlistableFolders) {
    ASSERT_EQ(::mkfifo((project / "src/pipe").c_str(), 0600), 0);
    EXPECT_EQ(failure(request(ProjectImportMode::copy)), specialFile);
    EXPECT_EQ(failure(request(ProjectImportMode::existing)), "");
    fs::remove(project / "src/pipe");

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (project / "src/socket").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(failure(request(ProjectImportMode::copy)), specialFile);
    EXPECT_EQ(failure(request(ProjectImportMode::existing)), "");
    ::close(fd);
    fs::remove(project / "src/socket");

    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists any folder";
    fs::permissions(project / "src", fs::perms::none);
    EXPECT_EQ(failure(request(ProjectImportMode::copy)), cannotCopy);
    EXPECT_EQ(failure(request(ProjectImportMode::existing)), "");
    fs::permissions(project / "src", fs::perms::owner_all);
}

} // namespace
} // namespace vessora
