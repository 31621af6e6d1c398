// The desktop's own chooser answers through its callback without a nested
// event loop, theme icons resolve even on the offscreen platform, tinted
// icons are drawn at the screen's scale, and the program's own images come
// from its bundle.
#include "Vessora/App/Branding.hpp"
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/App/TintedIconEngine.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace vessora {
namespace {

QFileDialog* openDialog(QWidget& window) {
    QApplication::processEvents();
    return window.findChild<QFileDialog*>();
}

TEST(FileChooserTest, FolderChooserIsWindowModalReadOnlyAndAnswersOnce) {
    QWidget window;
    window.show();
    int answers = 0;
    std::optional<std::filesystem::path> chosen{"unset"};
    FileChooser::current().chooseFolder(
        &window, "Choose", std::filesystem::path("/tmp"),
        [&](std::optional<std::filesystem::path> path) {
            ++answers;
            chosen = path;
        },
        "Choose folder");
    // open() returned at once: the dialog is up and nothing answered yet.
    auto* dialog = openDialog(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(dialog->testOption(QFileDialog::ReadOnly));
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Choose folder");
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), "/tmp");
    dialog->reject();
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(chosen, std::nullopt);
}

TEST(FileChooserTest, FileChooserAnswersTheAcceptedFile) {
    QWidget window;
    window.show();
    std::optional<std::filesystem::path> chosen;
    FileChooser::current().chooseFile(
        &window, "Dump", {"SQL dump (*.sql)"}, std::nullopt,
        [&](std::optional<std::filesystem::path> path) { chosen = path; });
    auto* dialog = openDialog(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"SQL dump (*.sql)"});
    // As a user types it.
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText("/etc/hostname");
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->filename(), "hostname");
}

// A chooser opens where the field points, else at home; never in the folder
// the program was started from.
TEST(FileChooserTest, ChoosersOpenAtTheFieldsValueElseAtHome) {
    const QString home = QDir::homePath();
    const QString started = QDir::currentPath();
    QDir::setCurrent("/usr");
    QWidget window;
    window.show();
    const auto directoryOfOpened = [&](auto open) {
        open();
        auto* dialog = openDialog(window);
        if (!dialog)
            return QString("no dialog");
        const QString directory = QDir(dialog->directory()).absolutePath();
        dialog->reject();
        QApplication::processEvents();
        return directory;
    };
    const auto folder = [&](std::optional<std::filesystem::path> start) {
        return directoryOfOpened([&] {
            FileChooser::current().chooseFolder(&window, "Choose", start,
                                                [](std::optional<std::filesystem::path>) {});
        });
    };
    const auto file = [&](std::optional<std::filesystem::path> start) {
        return directoryOfOpened([&] {
            FileChooser::current().chooseFile(&window, "Dump", {"SQL dump (*.sql)"}, start,
                                              [](std::optional<std::filesystem::path>) {});
        });
    };
    EXPECT_EQ(folder(std::nullopt), home);
    EXPECT_EQ(folder(std::filesystem::path("/nowhere/at/all")), home);
    EXPECT_EQ(folder(std::filesystem::path("relative/path")), home);
    EXPECT_EQ(folder(std::filesystem::path("/etc")), "/etc");
    EXPECT_EQ(file(std::nullopt), home);
    EXPECT_EQ(file(std::filesystem::path("/etc/hostname")), "/etc");
    EXPECT_EQ(file(std::filesystem::path("/etc/no-such-dump.sql")), "/etc");
    QDir::setCurrent(started);
}

TEST(IconsTest, ThemeNamesResolveOffscreenAndUnknownNamesGiveNone) {
    EXPECT_FALSE(Icons::named("list-add").isNull());
    EXPECT_FALSE(Icons::named("view-refresh").isNull());
    // No dash: a missing name falls back to its part before the last dash,
    // and "vessora" is the installed program's own icon.
    EXPECT_TRUE(Icons::named("vessoranosuchicon").isNull());
}

// A misspelt name would leave an icon-only button blank.
TEST(IconsTest, EveryNameTheInterfaceAsksForResolves) {
    const std::regex call(R"re(Icons::(named|symbolic)\("([^"]+)")re");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             std::filesystem::path(VESSORA_SOURCE_DIR) / "Vessora")) {
        if (entry.path().extension() != ".cpp")
            continue;
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        for (auto match = std::sregex_iterator(text.begin(), text.end(), call);
             match != std::sregex_iterator(); ++match)
            names.insert((*match)[2]);
    }
    EXPECT_GT(names.size(), 10u);
    for (const std::string& name : names)
        EXPECT_FALSE(Icons::named(name).isNull()) << name;
}

// A desktop theme without the name: the program's Adwaita answers.
TEST(IconsTest, ANameMissingFromTheDesktopsThemeFallsBack) {
    Icons::named("list-add");
    const QString theme = QIcon::themeName();
    QIcon::setThemeName("locolor");
    EXPECT_FALSE(Icons::named("network-wired").isNull());
    EXPECT_FALSE(Icons::named("preferences-desktop-locale").isNull());
    QIcon::setThemeName(theme);
}

// A theme of our own with one symbolic icon in two sizes.
class SymbolicIconsTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPaths = QIcon::themeSearchPaths();
        savedTheme = QIcon::themeName();
        for (const auto& [size, context] : {std::pair{16, "actions"}, std::pair{32, "status"}}) {
            const auto dir = folder.path() / "VessoraTest" /
                             (std::to_string(size) + "x" + std::to_string(size)) / context;
            std::filesystem::create_directories(dir);
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(Qt::black);
            ASSERT_TRUE(image.save(
                QString::fromStdString((dir / "vessora-probe-symbolic.symbolic.png").string())));
        }
        QIcon::setThemeSearchPaths({QString::fromStdString(folder.path().string())});
        QIcon::setThemeName("VessoraTest");
    }
    void TearDown() override {
        QIcon::setThemeSearchPaths(savedPaths);
        QIcon::setThemeName(savedTheme);
    }

    static QRgb centre(const QIcon& icon, int size) {
        const QImage image = icon.pixmap(size, size).toImage();
        return image.pixel(image.width() / 2, image.height() / 2);
    }

    TemporaryFolder folder{"vessora-icons"};
    QStringList savedPaths;
    QString savedTheme;
};

TEST_F(SymbolicIconsTest, EachColourIsDrawnFromTheImagesFoundOnceForTheName) {
    const QIcon red = Icons::symbolic("vessora-probe", Qt::red);
    const QIcon blue = Icons::symbolic("vessora-probe", Qt::blue);
    ASSERT_FALSE(red.isNull());
    EXPECT_EQ(red.availableSizes().size(), 2);
    EXPECT_EQ(centre(red, 16), QColor(Qt::red).rgba());
    EXPECT_EQ(centre(blue, 32), QColor(Qt::blue).rgba());

    // A further colour needs no new search: the theme's files are gone.
    std::filesystem::remove_all(folder.path() / "VessoraTest");
    const QIcon green = Icons::symbolic("vessora-probe", Qt::green);
    ASSERT_FALSE(green.isNull());
    EXPECT_EQ(green.availableSizes().size(), 2);
    EXPECT_EQ(centre(green, 16), QColor(Qt::green).rgba());
    EXPECT_TRUE(Icons::symbolic("vessoraabsentprobe", Qt::green).isNull());
}

// Folders read ahead on a thread give the same images as those read at the
// first look, and are not read again.
TEST_F(SymbolicIconsTest, FoldersReadAheadAnswerLikeThoseReadAtTheFirstLook) {
    Icons::prefetch();
    // A lookup elsewhere waits for the folders read ahead, and reads none of
    // this theme's.
    const TemporaryFolder elsewhere("vessora-other-icons");
    QIcon::setThemeSearchPaths({QString::fromStdString(elsewhere.path().string())});
    EXPECT_TRUE(Icons::symbolic("vessoraabsentprobe", Qt::red).isNull());
    QIcon::setThemeSearchPaths({QString::fromStdString(folder.path().string())});
    const auto late = folder.path() / "VessoraTest" / "24x24" / "actions";
    std::filesystem::create_directories(late);
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(Qt::black);
    ASSERT_TRUE(image.save(
        QString::fromStdString((late / "vessora-probe-symbolic.symbolic.png").string())));

    const QIcon red = Icons::symbolic("vessora-probe", Qt::red);
    ASSERT_FALSE(red.isNull());
    // 16 and 32 as listed ahead; the 24 came after its folder was read.
    EXPECT_EQ(red.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}}));
    EXPECT_EQ(centre(red, 16), QColor(Qt::red).rgba());
    EXPECT_EQ(centre(red, 32), QColor(Qt::red).rgba());
}

// On a screen of scale 2 a 16-pixel icon is drawn from the 32-pixel image
// at 32 by 32 device pixels, not at four times the size and scaled down.
TEST(TintedIconEngineTest, DrawsAtTheScreensScaleFromTheImageOfThatSize) {
    TemporaryFolder folder("vessora-tinted");
    std::vector<TintedIconEngine::File> files;
    for (const int size : {16, 32, 64}) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::black);
        const QString path =
            QString::fromStdString((folder.path() / (std::to_string(size) + ".png")).string());
        ASSERT_TRUE(image.save(path));
        files.push_back({size, path});
    }
    const QIcon icon(new TintedIconEngine(files, Qt::red, std::nullopt));

    const QPixmap sharp = icon.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(sharp.width(), 32);
    EXPECT_EQ(sharp.height(), 32);
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(sharp.toImage().pixel(16, 16), QColor(Qt::red).rgba());

    const QPixmap plain = icon.pixmap(QSize(16, 16), 1.0);
    EXPECT_EQ(plain.width(), 16);
    EXPECT_EQ(plain.height(), 16);
    EXPECT_EQ(plain.devicePixelRatio(), 1.0);

    const QPixmap disabled = icon.pixmap(QSize(16, 16), 2.0, QIcon::Disabled);
    EXPECT_EQ(disabled.width(), 32);
    EXPECT_EQ(disabled.height(), 32);
    EXPECT_EQ(disabled.devicePixelRatio(), 2.0);
}

// The application icon is the bundle's own image at every size it ships,
// whatever an icon theme holds under the program's name.
TEST(BrandingTest, TheApplicationIconIsTheBundlesImageAtEverySize) {
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    TemporaryFolder themes("vessora-theme");
    const auto apps = themes.path() / "Other" / "48x48" / "apps";
    std::filesystem::create_directories(apps);
    {
        std::ofstream index(themes.path() / "Other" / "index.theme");
        index << "[Icon Theme]\nName=Other\nDirectories=48x48/apps\n\n"
                 "[48x48/apps]\nSize=48\nType=Fixed\n";
    }
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((apps / "vessora.png").string())));
    QIcon::setThemeSearchPaths({QString::fromStdString(themes.path().string())});
    QIcon::setThemeName("Other");

    Branding::prefetch();
    const QIcon& icon = Branding::appIcon();
    const auto shipped = std::filesystem::path(VESSORA_SOURCE_DIR) / "Resources" / "Branding";
    QList<QSize> sizes;
    for (const auto& entry : std::filesystem::directory_iterator(shipped / "hicolor")) {
        const QImage file(QString::fromStdString((entry.path() / "apps/vessora.png").string()));
        ASSERT_FALSE(file.isNull()) << entry.path();
        sizes.push_back(file.size());
        EXPECT_TRUE(icon.pixmap(file.size())
                        .toImage()
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                    file.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << entry.path();
    }
    std::sort(sizes.begin(), sizes.end(),
              [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
    EXPECT_GE(sizes.size(), 5);
    EXPECT_EQ(icon.availableSizes(), sizes);
    // The windows carry every size up to 256 pixels.
    sizes.removeIf([](const QSize& size) { return size.width() > 256; });
    EXPECT_EQ(Branding::windowIcon().availableSizes(), sizes);
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));

    const QImage logo(QString::fromStdString((shipped / "vessora-icon-dark-v1.png").string()));
    ASSERT_FALSE(logo.isNull());
    EXPECT_TRUE(Branding::icon().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                logo.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QIcon::setThemeSearchPaths(savedPaths);
    QIcon::setThemeName(savedTheme);
}

} // namespace
} // namespace vessora
