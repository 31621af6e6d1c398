// Base of the main window's tests: the model's fixture (fake engine, fake
// registration, in-memory defaults) plus preferences on the standard
// defaults, so a language chosen in a test is the one L10n::text reads, the
// update checks on a fake feed (a development build unless a test sets
// updatesBuild, so nothing is fetched unasked), and the window itself at
// its default size on the offscreen platform.
#pragma once

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QLabel>

#include <memory>
#include <string>

namespace vessora {

class MainWindowTest : public AppModelTest {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }

    void TearDown() override {
        feed->release();
        window_.reset();
        updates_.reset();
        preferences_.reset();
        AppModelTest::TearDown();
        UserDefaults::setStandard(UserDefaults::inMemory());
    }

    AppPreferences& preferences() {
        if (!preferences_)
            preferences_ = std::make_unique<AppPreferences>(defaults);
        return *preferences_;
    }

    AppUpdates& updates() {
        if (!updates_) {
            AppUpdates::Options options;
            options.build = updatesBuild;
            options.defaults = defaults;
            options.feed = feed;
            updates_ = std::make_unique<AppUpdates>(options);
        }
        return *updates_;
    }

    MainWindow& window() {
        if (!window_) {
            window_ = std::make_unique<MainWindow>(model(), preferences(), updates());
            window_->show();
        }
        return *window_;
    }

    // A widget of the window by its object name; fails the test when absent.
    template <typename Widget = QWidget>
    Widget* find(const char* name) {
        auto* widget = window().findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // What a label shows in full (elided labels keep it as their
    // accessible name).
    std::string labelText(const char* name) {
        auto* label = find<QLabel>(name);
        if (!label)
            return {};
        const QString full = label->accessibleName();
        return (full.isEmpty() ? label->text() : full).toStdString();
    }

    std::string buttonText(const char* name) {
        auto* button = find<QAbstractButton>(name);
        return button ? button->text().toStdString() : std::string();
    }

    // Clicks a button of the window, failing the test when it is disabled.
    void click(const char* name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }

    QDialog* sheet() { return window().sheets().current(); }

    // Waits until the window's sheet is one with this object name.
    bool waitForSheet(const char* name) {
        return waitFor([&] { return sheet() && sheet()->objectName() == name; });
    }

    BuildInfo updatesBuild = BuildInfo::developmentBuild();
    std::shared_ptr<FakeReleaseFeed> feed = std::make_shared<FakeReleaseFeed>();
    std::unique_ptr<AppPreferences> preferences_;
    std::unique_ptr<AppUpdates> updates_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace vessora
