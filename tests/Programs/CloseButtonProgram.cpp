// The main window's close button on a real X display, in a process of its
// own: the application's tests run on the offscreen platform, which has no
// window manager. CloseButtonGuiTests starts a private Xvfb and runs this
// program on it (QT_QPA_PLATFORM=xcb); the program sends the close request
// itself, exactly as a window manager does when the button is clicked (a
// WM_PROTOCOLS client message naming WM_DELETE_WINDOW, sent to the window).
#include "Vessora/App/AppShell.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace vessora {
namespace {

// A client of the display of its own, as the window manager is.
class WindowManagerStandIn {
public:
    WindowManagerStandIn() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~WindowManagerStandIn() { xcb_disconnect(connection_); }

    bool connected() const { return xcb_connection_has_error(connection_) == 0; }

    void clickCloseButton(WId window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = static_cast<xcb_window_t>(window);
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, static_cast<xcb_window_t>(window), XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

private:
    xcb_atom_t atom(const char* name) {
        const auto cookie =
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
        return reply ? reply->atom : XCB_ATOM_NONE;
    }

    xcb_connection_t* connection_;
};

class CloseButtonTest : public AppModelTest {
protected:
    void SetUp() override { UserDefaults::setStandard(defaults); }

    void TearDown() override {
        engine->releaseAll();
        shell_.reset();
        AppModelTest::TearDown();
        UserDefaults::setStandard(UserDefaults::inMemory());
    }

    AppShell& shell() {
        if (!shell_) {
            AppShell::Options options;
            options.model = this->options();
            options.updates.build = BuildInfo::developmentBuild();
            options.updates.defaults = defaults;
            options.updates.feed = std::make_shared<FakeReleaseFeed>();
            options.defaults = defaults;
            options.exit = [this] { ++exits; };
            shell_ = std::make_unique<AppShell>(std::move(options));
            shell_->start();
        }
        return *shell_;
    }

    std::string activityShown() {
        return shell().window().findChild<QLabel*>("activityText")->accessibleName().toStdString();
    }

    int exits = 0;
    std::unique_ptr<AppShell> shell_;
};

TEST_F(CloseButtonTest, TheCloseButtonAsksForTheQuitWhileASheetIsOpenAndAnActionRuns) {
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    WindowManagerStandIn windowManager;
    ASSERT_TRUE(windowManager.connected());
    MainWindow& window = shell().window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= 2; }));

    // A sheet's own close button still closes only that sheet.
    shell().model().setShowCreate(true);
    ASSERT_TRUE(waitFor([&] { return window.sheets().current() != nullptr; }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.sheets().current()));
    windowManager.clickCloseButton(window.sheets().current()->winId());
    ASSERT_TRUE(waitFor([&] { return window.sheets().current() == nullptr; }));
    EXPECT_FALSE(shell().model().showCreate());
    EXPECT_FALSE(shell().terminating());

    engine->hold("install");
    ASSERT_TRUE(shell().model().perform("Installing packages for Legacy…", false,
                                        [](AppEngine& e) { e.install("legacy"); }));
    ASSERT_TRUE(waitUntilHeld("install"));
    shell().model().setShowCreate(true);
    ASSERT_TRUE(waitFor([&] { return window.sheets().current() != nullptr; }));
    QDialog* sheet = window.sheets().current();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));

    windowManager.clickCloseButton(window.winId());
    ASSERT_TRUE(waitFor([&] { return shell().terminating(); }));
    EXPECT_EQ(activityShown(), "Stopping environments…");
    // A second click changes nothing; the sheet and the window stay.
    windowManager.clickCloseButton(window.winId());
    QTest::qWait(200);
    EXPECT_EQ(engine->calls("stopAll"), 0);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(window.sheets().current(), sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(window.isVisible());

    engine->hold("stopAll");
    engine->release("install");
    ASSERT_TRUE(waitUntilHeld("stopAll"));
    EXPECT_EQ(activityShown(), "Stopping environments…");
    engine->release("stopAll");
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_EQ(engine->calls("stopAll"), 1);
    const auto calls = engine->log();
    EXPECT_LT(std::find(calls.begin(), calls.end(), "install(legacy)"),
              std::find(calls.begin(), calls.end(), "stopAll"));
}

} // namespace
} // namespace vessora
