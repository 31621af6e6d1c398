// The desktop integration installed with the program: a valid menu entry that
// starts the installed program, and the application icon at every hicolor
// size, each a PNG of its size.
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/LocalAddresses/HelperInstallation.hpp"
#include "VessoraCore/Process/Command.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>

using namespace vessora;
namespace fs = std::filesystem;

namespace {

const std::vector<int> iconSizes{16, 32, 48, 64, 128, 256, 512};

struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int colourType = -1;
};

// The image header of a PNG file; width 0 when the file is no PNG.
PngHeader pngHeader(const fs::path& path) {
    const std::string bytes = PrivateFile::read(path);
    if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return {};
    auto word = [&bytes](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    return {word(16), word(20), static_cast<unsigned char>(bytes[25])};
}

// The value of a key in the entry's [Desktop Entry] group.
std::string entryValue(const std::string& entry, const std::string& key) {
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "";
}

TEST(DesktopEntryTests, InstallPutsAValidEntryAndEveryIconInPlace) {
    TemporaryFolder prefix{"vessora-install"};
    const CommandResult install = Command::run(
        "/usr/bin/cmake", {"--install", VESSORA_BINARY_DIR, "--prefix", prefix.path().string()},
        {.timeout = 120});
    ASSERT_EQ(install.status, 0) << install.output;

    const fs::path entryFile = prefix.path() / "share/applications/vessora.desktop";
    const CommandResult validation =
        Command::run("/usr/bin/desktop-file-validate", {entryFile.string()});
    EXPECT_EQ(validation.status, 0) << validation.output;
    EXPECT_EQ(validation.output, ""); // no warnings or hints either

    const std::string entry = PrivateFile::read(entryFile);
    EXPECT_EQ(entryValue(entry, "Name"), "Vessora");
    // The program local host setup accepts: the one the build installs.
    EXPECT_EQ(entryValue(entry, "Exec"), HelperInstallation::installed().application.string());
    EXPECT_EQ(entryValue(entry, "Icon"), "vessora");

    for (int size : iconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const fs::path icon = prefix.path() / "share/icons/hicolor" / folder / "apps/vessora.png";
        const PngHeader header = pngHeader(icon);
        EXPECT_EQ(header.width, static_cast<std::uint32_t>(size)) << icon;
        EXPECT_EQ(header.height, static_cast<std::uint32_t>(size)) << icon;
        EXPECT_EQ(header.colourType, 6) << icon; // RGBA: transparent around the rounded square
    }
}

TEST(DesktopEntryTests, SidebarLogoIsASquarePng) {
    const PngHeader header =
        pngHeader(fs::path(VESSORA_SOURCE_DIR) / "Resources/Branding/vessora-icon-dark-v1.png");
    EXPECT_GE(header.width, 56u); // sharp at 28 points on a double-density screen
    EXPECT_EQ(header.height, header.width);
}

} // namespace
