#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/ReferenceDate.hpp"
#include "VessoraCore/Foundation/Sha256.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vessora {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(PrivateFileTest, WritesWholeFilesWithPrivateModeAndNoLeftovers) {
    // The flushed writer and the one for rebuilt files differ only in what
    // reaches the disk before the rename.
    for (const auto writer : {&PrivateFile::write, &PrivateFile::writeRebuilt}) {
        TemporaryFolder folder;
        auto file = folder.path() / "profiles.json";
        writer(file, "first");
        EXPECT_EQ(PrivateFile::read(file), "first");
        EXPECT_EQ(modeOf(file), 0600);

        ::chmod(file.c_str(), 0644);
        writer(file, "second, longer");
        EXPECT_EQ(PrivateFile::read(file), "second, longer");
        EXPECT_EQ(modeOf(file), 0600);

        EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()),
                  1);
    }
}

TEST(PrivateFileTest, KeepingModeKeepsTheReplacedFilesMode) {
    TemporaryFolder folder;
    auto file = folder.path() / "index.php";
    PrivateFile::writeKeepingMode(file, "new");
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(file), 0666 & ~mask) << "a new file follows the umask";
    ::chmod(file.c_str(), 0640);
    PrivateFile::writeKeepingMode(file, "changed");
    EXPECT_EQ(modeOf(file), 0640);
    EXPECT_EQ(PrivateFile::read(file), "changed");
}

TEST(PrivateFileTest, ReplacesALinkRatherThanWritingThroughIt) {
    TemporaryFolder folder;
    auto target = folder.path() / "target";
    PrivateFile::write(target, "untouched");
    fs::create_symlink(target, folder.path() / "link");
    PrivateFile::write(folder.path() / "link", "own");
    EXPECT_EQ(PrivateFile::read(target), "untouched");
    EXPECT_FALSE(fs::is_symlink(folder.path() / "link"));
}

TEST(PrivateFileTest, FailureLeavesTheOldFileAndNoTemporary) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TemporaryFolder folder;
    auto file = folder.path() / "kept";
    PrivateFile::write(file, "old");
    ::chmod(folder.path().c_str(), 0500);
    EXPECT_THROW(PrivateFile::write(file, "new"), fs::filesystem_error);
    ::chmod(folder.path().c_str(), 0700);
    EXPECT_EQ(PrivateFile::read(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(PrivateFileTest, CreatesPrivateFoldersAndLeavesExistingOnes) {
    TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    PrivateFile::createDirectories(folder.path() / "a" / "b" / "c");
    EXPECT_EQ(modeOf(folder.path() / "a"), 0700);
    EXPECT_EQ(modeOf(folder.path() / "a" / "b" / "c"), 0700);
    EXPECT_EQ(modeOf(folder.path()), 0755);
    PrivateFile::write(folder.path() / "file", "x");
    EXPECT_THROW(PrivateFile::createDirectories(folder.path() / "file" / "sub"),
                 fs::filesystem_error);
    EXPECT_THROW(PrivateFile::read(folder.path() / "missing"), fs::filesystem_error);
}

TEST(JsonFieldsTest, StrictTypes) {
    auto object = JsonFields::parse(R"({"i": 1, "f": 1.0, "b": true, "s": "x", "n": null,
                                        "a": ["p", "q"], "mixed": ["p", 1]})");
    EXPECT_EQ(JsonFields::requiredInt(object, "i"), 1);
    EXPECT_THROW(JsonFields::requiredInt(object, "f"), JsonDecodingError);
    EXPECT_THROW(JsonFields::requiredBool(object, "i"), JsonDecodingError);
    EXPECT_THROW(JsonFields::requiredString(object, "n"), JsonDecodingError);
    EXPECT_THROW(JsonFields::requiredString(object, "absent"), JsonDecodingError);
    EXPECT_EQ(JsonFields::optionalString(object, "n"), std::nullopt);
    EXPECT_EQ(JsonFields::optionalBool(object, "absent"), std::nullopt);
    EXPECT_THROW(JsonFields::optionalBool(object, "s"), JsonDecodingError);
    EXPECT_EQ(JsonFields::stringArray(object, "a"), (std::vector<std::string>{"p", "q"}));
    EXPECT_THROW(JsonFields::stringArray(object, "mixed"), JsonDecodingError);
    EXPECT_THROW(JsonFields::parse("{"), JsonDecodingError);
    EXPECT_THROW(JsonFields::requiredInt(JsonFields::parse("[1]"), "i"), JsonDecodingError);
}

TEST(ReferenceDateTest, CountsFrom2001) {
    EXPECT_DOUBLE_EQ(ReferenceDate::seconds(std::chrono::system_clock::from_time_t(978307200)),
                     0.0);
    auto date = ReferenceDate::date(86400.5);
    EXPECT_DOUBLE_EQ(ReferenceDate::seconds(date), 86400.5);
}

TEST(Sha256Test, KnownDigestAndPrefix) {
    EXPECT_EQ(Sha256::hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256::hex("abc", 8), "ba7816bf8f01cfea");
    EXPECT_EQ(Sha256::digest("").front(), 0xe3);
}

TEST(UserDefaultsTest, FileStoreRoundTripsAndSeesOtherWriters) {
    TemporaryFolder folder;
    auto file = folder.path() / "config" / "defaults.json";
    UserDefaults first(file);
    EXPECT_EQ(first.value("Vessora.language"), std::nullopt);
    first.set("Vessora.language", "fr");
    first.set("localHostSetupEnabled", true);
    EXPECT_EQ(modeOf(file), 0600);

    UserDefaults second(file);
    EXPECT_EQ(second.value("Vessora.language"), nlohmann::json("fr"));
    second.set("Vessora.language", "it");
    second.remove("localHostSetupEnabled");
    EXPECT_EQ(first.value("Vessora.language"), nlohmann::json("it"));
    EXPECT_EQ(first.value("localHostSetupEnabled"), std::nullopt);

    PrivateFile::write(file, "not json");
    EXPECT_EQ(first.value("Vessora.language"), std::nullopt);
}

} // namespace
} // namespace vessora
