// The update banner inside a window: when it shows, what its buttons do, and
// that it follows the interface language.
#include "Vessora/Windows/UpdateBanner.hpp"
#include "tests/Vessora/Support/AppUpdatesTest.hpp"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

namespace vessora {
namespace {

class UpdateBannerTest : public AppUpdatesTest {
protected:
    UpdateBanner& banner() {
        if (!banner_) {
            window_ = std::make_unique<QWidget>();
            auto* layout = new QVBoxLayout(window_.get());
            banner_ = new UpdateBanner(updates(), preferences(), window_.get());
            layout->addWidget(banner_);
            window_->show();
        }
        return *banner_;
    }

    bool shown() { return banner().isVisibleTo(window_.get()); }
    QString message() { return banner().findChild<QLabel*>("updateBannerMessage")->text(); }
    QPushButton* details() { return banner().findChild<QPushButton*>("updateBannerDetails"); }
    QToolButton* close() { return banner().findChild<QToolButton*>("updateBannerClose"); }

    void deliver(const AppRelease& release) {
        feed->answer(release);
        ASSERT_TRUE(checkAndWait());
        updates().setShowDetails(false);
    }

    void TearDown() override {
        window_.reset();
        AppUpdatesTest::TearDown();
    }

private:
    std::unique_ptr<QWidget> window_;
    UpdateBanner* banner_ = nullptr;
};

TEST_F(UpdateBannerTest, ShowsOnlyForANewerReleaseUntilClosedForIt) {
    EXPECT_FALSE(shown());
    deliver(FakeReleaseFeed::makeRelease("1.2.0", 6));
    EXPECT_FALSE(shown());

    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9));
    ASSERT_TRUE(shown());
    // The version text only, without the build.
    EXPECT_EQ(message(), "Vessora 1.3.0 is available.");
    EXPECT_EQ(close()->toolTip(), "Remind me next time");
    EXPECT_EQ(close()->accessibleName(), "Remind me next time");

    QTest::mouseClick(close(), Qt::LeftButton);
    EXPECT_TRUE(updates().dismissed());
    EXPECT_FALSE(shown());
    // The same release again keeps it closed; the next one brings it back.
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9));
    EXPECT_FALSE(shown());
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 10));
    EXPECT_TRUE(shown());
    EXPECT_FALSE(updates().dismissed());
}

TEST_F(UpdateBannerTest, AlsoShowsForAReleaseThisSystemCannotRun) {
    system = SystemVersion{15, 0, 9};
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9, true, "15.1"));
    ASSERT_EQ(updates().availability(), UpdateAvailability::requiresNewerMacOS);
    EXPECT_TRUE(shown());
    EXPECT_EQ(message(), "Vessora 1.3.0 is available.");
}

TEST_F(UpdateBannerTest, DetailsBringsTheWindowAndTheSheetForward) {
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9));
    QSignalSpy forward(&updates(), &AppUpdates::mainWindowRequested);
    QTest::mouseClick(details(), Qt::LeftButton);
    EXPECT_EQ(forward.count(), 1);
    EXPECT_TRUE(updates().showDetails());
    // Only the details: no new check.
    EXPECT_FALSE(updates().isChecking());
    EXPECT_EQ(feed->calls(), 1);
}

TEST_F(UpdateBannerTest, ADevelopmentBuildNeverShowsIt) {
    // A cache left by a packaged run.
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9));
    restart();
    build = BuildInfo::developmentBuild();
    EXPECT_TRUE(updates().latest());
    EXPECT_FALSE(shown());
}

TEST_F(UpdateBannerTest, ALanguageChangeRedrawsEveryText) {
    deliver(FakeReleaseFeed::makeRelease("1.3.0", 9));
    preferences().setLanguage(AppLanguage::german);
    EXPECT_EQ(message(), "Vessora 1.3.0 ist verfügbar.");
    EXPECT_EQ(details()->text(), "Details…");
    EXPECT_EQ(close()->toolTip(), "Beim nächsten Mal erinnern");
    EXPECT_EQ(close()->accessibleName(), "Beim nächsten Mal erinnern");
    preferences().setLanguage(AppLanguage::french);
    EXPECT_EQ(message(), "Vessora 1.3.0 est disponible.");
    EXPECT_EQ(details()->text(), "Détails…");
    EXPECT_EQ(close()->toolTip(), "Me le rappeler la prochaine fois");
}

} // namespace
} // namespace vessora
