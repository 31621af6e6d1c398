// The desktop's own chooser answers through its callback without a nested
// event loop, and theme icons resolve even on the offscreen platform.
#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/Icons.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

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
    FileChooser::current().chooseFolder(&window, "Choose", std::filesystem::path("/tmp"),
                                        [&](std::optional<std::filesystem::path> path) {
                                            ++answers;
                                            chosen = path;
                                        });
    // open() returned at once: the dialog is up and nothing answered yet.
    auto* dialog = openDialog(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(dialog->testOption(QFileDialog::ReadOnly));
    dialog->reject();
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(chosen, std::nullopt);
}

TEST(FileChooserTest, FileChooserAnswersTheAcceptedFile) {
    QWidget window;
    window.show();
    std::optional<std::filesystem::path> chosen;
    FileChooser::current().chooseFile(
        &window, "Dump", {"SQL dump (*.sql)"},
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

TEST(IconsTest, ThemeNamesResolveOffscreenAndUnknownNamesGiveNone) {
    EXPECT_FALSE(Icons::named("list-add").isNull());
    EXPECT_FALSE(Icons::named("view-refresh").isNull());
    // Without dashes: a theme falls back along a name's dash-separated
    // prefixes, and "vessora-..." finds the installed application icon.
    EXPECT_TRUE(Icons::named("vessoranosuchicon").isNull());
}

} // namespace
} // namespace vessora
