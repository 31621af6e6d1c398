// The update details sheet over a window: each state's lines, its links and
// buttons, a check started from it, closing, and the interface language.
#include "Vessora/Sheets/UpdateDetailsSheet.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Updates/AppRelease.hpp"
#include "tests/Vessora/Support/AppUpdatesTest.hpp"
#include "tests/Vessora/Support/ClippedText.hpp"
#include "tests/Vessora/Support/RecordingDesktopServices.hpp"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include <cstdlib>
#include <ctime>
#include <map>

namespace vessora {
namespace {

class UpdateDetailsSheetTest : public AppUpdatesTest {
protected:
    void SetUp() override {
        AppUpdatesTest::SetUp();
        DesktopServices::setCurrent(desktop);
    }

    void TearDown() override {
        delete sheet_.data();
        window_.reset();
        DesktopServices::setCurrent(nullptr);
        AppUpdatesTest::TearDown();
    }

    // Opens the sheet as the main window does.
    UpdateDetailsSheet& sheet() {
        if (!sheet_) {
            if (!window_) {
                window_ = std::make_unique<QWidget>();
                window_->show();
            }
            sheet_ = new UpdateDetailsSheet(updates(), preferences(), window_.get());
            sheet_->open();
        }
        return *sheet_;
    }

    template <typename Widget = QLabel>
    Widget* find(const char* name) {
        auto* widget = sheet().findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shown(const char* name) { return find<QWidget>(name)->isVisibleTo(&sheet()); }
    QString label(const char* name) { return find(name)->text(); }
    QString button(const char* name) { return find<QAbstractButton>(name)->text(); }

    void deliver(const AppRelease& release) {
        feed->answer(release);
        ASSERT_TRUE(checkAndWait());
    }

    std::shared_ptr<RecordingDesktopServices> desktop =
        std::make_shared<RecordingDesktopServices>();

private:
    std::unique_ptr<QWidget> window_;
    QPointer<UpdateDetailsSheet> sheet_;
};

TEST_F(UpdateDetailsSheetTest, ANewerReleaseOffersTheDownloadAndHomebrew) {
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9, true));
    EXPECT_EQ(sheet().windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet().width(), 480);
    EXPECT_EQ(label("updateInstalled"), "Installed: 1.2.0 (6)");
    EXPECT_EQ(label("updateHeadline"), "Vessora 1.3.0 is available.");
    EXPECT_FALSE(shown("updateRequirementRow"));
    EXPECT_FALSE(shown("updateCheckingRow"));
    EXPECT_FALSE(shown("updateCurrentRow"));
    EXPECT_FALSE(shown("updatePackagedOnly"));
    EXPECT_FALSE(shown("updateError"));
    EXPECT_TRUE(shown("updateQuitNote"));

    QTest::mouseClick(find<QPushButton>("updateDownload"), Qt::LeftButton);
    ASSERT_EQ(desktop->requests.size(), 1u);
    EXPECT_EQ(desktop->requests[0], "url https://vessora.app/downloads/Vessora-1.3.0_" +
                                        AppRelease::packageArchitecture() + ".deb");

    // The Homebrew group starts collapsed; the command copies as plain text.
    auto* toggle = find<QToolButton>("updateHomebrewToggle");
    EXPECT_TRUE(shown("updateHomebrewToggle"));
    EXPECT_FALSE(shown("updateHomebrewBox"));
    const int collapsed = sheet().height();
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(shown("updateHomebrewBox"));
    EXPECT_GT(sheet().height(), collapsed);
    EXPECT_EQ(label("updateCommand"), "brew update\nbrew upgrade ornat77/vessora/vessora");
    QApplication::clipboard()->setText("something else");
    QTest::mouseClick(find<QPushButton>("updateCopyCommand"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "brew update\nbrew upgrade ornat77/vessora/vessora");

    QTest::mouseClick(find<QPushButton>("updateReleasePage"), Qt::LeftButton);
    EXPECT_EQ(desktop->requests.back(), "url https://vessora.app/#install");
}

TEST_F(UpdateDetailsSheetTest, WithoutHomebrewOnlyTheDownloadAndTheNote) {
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9, false));
    EXPECT_TRUE(shown("updateDownload"));
    EXPECT_TRUE(shown("updateQuitNote"));
    EXPECT_FALSE(shown("updateHomebrewToggle"));
    EXPECT_FALSE(shown("updateHomebrewBox"));
}

TEST_F(UpdateDetailsSheetTest, AReleaseThatNeedsANewerSystemSaysWhyAndOffersNoDownload) {
    system = SystemVersion{15, 0, 9};
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9, true, "15.1"));
    EXPECT_EQ(label("updateHeadline"), "Vessora 1.3.0 is available.");
    EXPECT_TRUE(shown("updateRequirementRow"));
    EXPECT_EQ(label("updateRequirement"), "This release requires macOS 15.1 or later.");
    EXPECT_FALSE(shown("updateDownload"));
    EXPECT_FALSE(shown("updateHomebrewToggle"));
    EXPECT_FALSE(shown("updateQuitNote"));
}

TEST_F(UpdateDetailsSheetTest, ADevelopmentBuildExplainsItselfAndCannotCheck) {
    build = BuildInfo::developmentBuild();
    EXPECT_EQ(label("updateInstalled"), "Installed: Development build");
    EXPECT_TRUE(shown("updatePackagedOnly"));
    EXPECT_EQ(label("updatePackagedOnly"), "Update checks are available in packaged app builds.");
    EXPECT_FALSE(shown("updateCurrentRow"));
    EXPECT_FALSE(shown("updateHeadline"));
    EXPECT_FALSE(shown("updateLastChecked"));
    EXPECT_FALSE(find<QPushButton>("updateCheckAgain")->isEnabled());
    QTest::mouseClick(find<QPushButton>("updateReleasePage"), Qt::LeftButton);
    EXPECT_EQ(desktop->requests, std::vector<std::string>{"url https://vessora.app/#install"});
}

TEST_F(UpdateDetailsSheetTest, ACheckFromTheSheetShowsItsProgressThenItsResultInPlace) {
    deliver(FakeReleaseFeed::makeRelease("1.2.0", 6));
    EXPECT_TRUE(shown("updateCurrentRow"));
    EXPECT_EQ(label("updateCurrent"), "No newer published version is available.");
    EXPECT_FALSE(shown("updateCheckingRow"));

    feed->hold();
    feed->failTransport();
    auto* checkAgain = find<QPushButton>("updateCheckAgain");
    ASSERT_TRUE(checkAgain->isEnabled());
    QTest::mouseClick(checkAgain, Qt::LeftButton);
    EXPECT_TRUE(shown("updateCheckingRow"));
    EXPECT_EQ(label("updateChecking"), "Checking for updates…");
    EXPECT_FALSE(shown("updateCurrentRow"));
    EXPECT_FALSE(checkAgain->isEnabled());
    // The sheet stays up.
    EXPECT_TRUE(updates().showDetails());
    EXPECT_TRUE(sheet().isVisible());

    feed->release();
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(shown("updateCheckingRow"));
    EXPECT_TRUE(shown("updateError"));
    EXPECT_EQ(label("updateError"),
              "Could not check for updates. Check your internet connection and try again.");
    EXPECT_FALSE(shown("updateCurrentRow"));
    EXPECT_TRUE(checkAgain->isEnabled());

    now += std::chrono::seconds(60);
    deliver(FakeReleaseFeed::makeRelease("1.2.0", 6));
    EXPECT_FALSE(shown("updateError"));
    EXPECT_TRUE(shown("updateCurrentRow"));
}

TEST_F(UpdateDetailsSheetTest, TheLastCheckedLineUsesTheInterfaceLanguagesDateForm) {
    // The interface language decides the form, whatever the process's
    // region; the time is local (here UTC).
    const QLocale region;
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Switzerland));
    setenv("TZ", "UTC", 1);
    tzset();
    deliver(FakeReleaseFeed::makeRelease("1.2.0", 6));
    EXPECT_EQ(label("updateLastChecked"), "Last checked: Mar 15, 2025, 12:00 PM");
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(label("updateLastChecked"), "Zuletzt geprüft: 15. März 2025, 12:00");
    preferences().setLanguage(AppLanguage::french);
    EXPECT_EQ(label("updateLastChecked"), "Dernière vérification : 15 mars 2025, 12:00");
    QLocale::setDefault(region);
    unsetenv("TZ");
    tzset();
}

TEST_F(UpdateDetailsSheetTest, ClosingClearsTheRequestAndALaterOneOpensItAgain) {
    updates().presentDetails();
    QPointer<UpdateDetailsSheet> first = &sheet();
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_FALSE(updates().showDetails());
    // It deletes itself once closed.
    ASSERT_TRUE(waitFor([&] { return first.isNull(); }));

    updates().presentDetails();
    EXPECT_TRUE(updates().showDetails());
    QTest::mouseClick(find<QPushButton>("updateDone"), Qt::LeftButton);
    EXPECT_FALSE(updates().showDetails());
}

TEST_F(UpdateDetailsSheetTest, ALanguageChangeRedrawsEveryTextAtOnce) {
    feed->answer(FakeReleaseFeed::makeRelease("1.3.0", 9, true));
    feed->failInvalid();
    ASSERT_TRUE(checkAndWait());
    feed->hold();
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));

    const auto german = [](std::string_view key, const std::vector<std::string>& arguments = {}) {
        return QString::fromStdString(L10n::text(key, arguments, AppLanguage::german));
    };
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(sheet().windowTitle(), german("Vessora updates"));
    const std::map<const char*, QString> texts{
        {"updateTitle", german("Vessora updates")},
        {"updateInstalled", german("Installed: %@", {"1.2.0 (6)"})},
        {"updateChecking", german("Checking for updates…")},
        {"updateHeadline", german("Vessora %@ is available.", {"1.3.0"})},
        {"updateQuitNote",
         german("Quit Vessora before replacing the app or running the upgrade. Its environments "
                "will stop; project files and databases are kept.")},
    };
    for (const auto& [name, expected] : texts)
        EXPECT_EQ(label(name), expected) << name;
    const std::map<const char*, QString> buttons{
        {"updateDownload", german("Download update")},
        {"updateHomebrewToggle", german("Update with Homebrew")},
        {"updateCopyCommand", german("Copy command")},
        {"updateReleasePage", german("Release page")},
        {"updateCheckAgain", german("Check again")},
        {"updateDone", german("Done")},
    };
    for (const auto& [name, expected] : buttons)
        EXPECT_EQ(button(name), expected) << name;
    EXPECT_EQ(label("updateHeadline"), "Vessora 1.3.0 ist verfügbar.");
    EXPECT_EQ(button("updateDone"), "Fertig");

    feed->release();
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(label("updateError"), german("Could not verify the release information. Try "
                                           "again later."));
}

// The fixed width holds every state in every language: texts wrap, none is
// cut off.
TEST_F(UpdateDetailsSheetTest, NoTextIsCutOffInAnyStateOrLanguage) {
    const auto check = [&](const char* state) {
        for (const AppLanguage language : AppLanguages::allCases) {
            preferences().setLanguage(language);
            SCOPED_TRACE(std::string(state) + " " + AppLanguages::id(language));
            EXPECT_EQ(sheet().width(), 480);
            EXPECT_EQ(clippedTexts(sheet()), std::vector<std::string>{});
        }
    };
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9, true));
    QTest::mouseClick(find<QToolButton>("updateHomebrewToggle"), Qt::LeftButton);
    check("available");

    feed->hold();
    feed->failTransport();
    updates().checkManually();
    ASSERT_TRUE(waitFor([&] { return feed->waiting(); }));
    check("checking");
    feed->release();
    ASSERT_TRUE(waitForIdle());
    check("failed");

    // The sheet goes before the model it shows.
    delete &sheet();
    system = SystemVersion{15, 0, 9};
    restart();
    deliver(FakeReleaseFeed::makeRelease("1.4.0", 10, true, "15.1"));
    check("needs a newer system");

    delete &sheet();
    build = BuildInfo::developmentBuild();
    restart();
    check("development build");
}

} // namespace
} // namespace vessora
