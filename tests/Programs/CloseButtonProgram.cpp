// The main window's close button on a real X display, in a process of its
// own: the application's tests run on the offscreen platform, which has no
// window manager. CloseButtonGuiTests starts a private Xvfb and runs this
// program on it (QT_QPA_PLATFORM=xcb); the program sends the close request
// itself, exactly as a window manager does when the button is clicked (a
// WM_PROTOCOLS client message naming WM_DELETE_WINDOW, sent to the window),
// along with the other protocol messages a window manager sends routinely.
#include "Vessora/App/AppShell.hpp"
#include "Vessora/Windows/MainWindow.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "tests/Vessora/Support/AppModelTest.hpp"
#include "tests/Vessora/Support/FakeReleaseFeed.hpp"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace vessora {
namespace {

// A client of the display of its own, as the window manager is. It watches
// the root window, where clients answer a window manager's ping.
class WindowManagerStandIn {
public:
    WindowManagerStandIn() : connection_(xcb_connect(nullptr, nullptr)) {
        if (!connected())
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        // Clients send their ping answers to the root window for either of
        // these; Qt names structure notices.
        const std::uint32_t rootEvents =
            XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootEvents);
        // A window of its own whose property changes carry the server's time.
        clock_ = xcb_generate_id(connection_);
        const std::uint32_t clockEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection_, 0, clock_, root_, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &clockEvents);
        xcb_flush(connection_);
    }
    ~WindowManagerStandIn() { xcb_disconnect(connection_); }

    bool connected() const { return xcb_connection_has_error(connection_) == 0; }

    void clickCloseButton(WId window) {
        sendProtocol(window, "WM_DELETE_WINDOW", XCB_CURRENT_TIME, 0);
    }
    // When the user clicks into the window.
    void takeFocus(WId window, std::uint32_t time) {
        sendProtocol(window, "WM_TAKE_FOCUS", time, 0);
    }
    // Asks whether the window still answers.
    void ping(WId window, std::uint32_t time) {
        sendProtocol(window, "_NET_WM_PING", time, static_cast<std::uint32_t>(window));
    }

    // The client's answer to ping(window, time) arrived on the root window.
    // Spins nothing itself: call it from QTest::qWaitFor.
    bool pingAnswered(WId window, std::uint32_t time) {
        return received([&](const xcb_generic_event_t& event) {
            if ((event.response_type & ~0x80) != XCB_CLIENT_MESSAGE)
                return false;
            const auto& answer = reinterpret_cast<const xcb_client_message_event_t&>(event);
            return answer.window == root_ && answer.type == atom("WM_PROTOCOLS") &&
                   answer.data.data32[0] == atom("_NET_WM_PING") && answer.data.data32[1] == time &&
                   answer.data.data32[2] == static_cast<std::uint32_t>(window);
        });
    }

    // The server's current time, as a window manager takes it for the
    // messages it sends: from the notice of a change to one of its own
    // windows. Zero when none arrives.
    std::uint32_t serverTime() {
        xcb_change_property(connection_, XCB_PROP_MODE_APPEND, clock_, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(connection_);
        std::uint32_t time = 0;
        const bool arrived = QTest::qWaitFor(
            [&] {
                return received([&](const xcb_generic_event_t& event) {
                    if ((event.response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
                        return false;
                    const auto& change =
                        reinterpret_cast<const xcb_property_notify_event_t&>(event);
                    if (change.window != clock_)
                        return false;
                    time = change.time;
                    return true;
                });
            },
            10000);
        return arrived ? time : 0;
    }

private:
    void sendProtocol(WId window, const char* protocol, std::uint32_t time, std::uint32_t extra) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = static_cast<xcb_window_t>(window);
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom(protocol);
        message.data.data32[1] = time;
        message.data.data32[2] = extra;
        xcb_send_event(connection_, 0, static_cast<xcb_window_t>(window), XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    // Reads every event that has arrived; true when one of them matches.
    template <typename Predicate>
    bool received(Predicate matches) {
        bool found = false;
        while (auto* next = xcb_poll_for_event(connection_)) {
            const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(next,
                                                                                   &std::free);
            found = found || matches(*event);
        }
        return found;
    }

    xcb_atom_t atom(const char* name) {
        const auto cookie =
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
        return reply ? reply->atom : XCB_ATOM_NONE;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_window_t clock_ = XCB_WINDOW_NONE;
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

// The window manager sends the main window more than its close request: the
// focus hand-over when the user clicks into it and the ping that checks it
// still answers; and a close request may be meant for another of the
// program's windows. None of them ends the program, the close request for
// the main window that follows does.
TEST_F(CloseButtonTest, OnlyTheMainWindowsCloseRequestAsksForTheQuit) {
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    WindowManagerStandIn windowManager;
    ASSERT_TRUE(windowManager.connected());
    MainWindow& window = shell().window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(waitFor([&] { return engine->calls("statuses") >= 2; }));
    shell().openSettings();
    SettingsWindow* settings = shell().settingsWindow();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));

    const std::uint32_t time = windowManager.serverTime();
    ASSERT_NE(time, 0u);
    windowManager.takeFocus(window.winId(), time);
    windowManager.clickCloseButton(settings->winId());
    windowManager.ping(window.winId(), time);
    // The program handles one client's messages in the order sent, so its
    // answer to the ping means the two before it were handled.
    ASSERT_TRUE(waitFor([&] { return windowManager.pingAnswered(window.winId(), time); }));
    ASSERT_TRUE(waitFor([&] { return shell().settingsWindow() == nullptr; }));
    // A close queued for any of those messages runs before this call.
    bool drained = false;
    QMetaObject::invokeMethod(
        &window, [&drained] { drained = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(waitFor([&] { return drained; }));
    EXPECT_FALSE(shell().terminating());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(engine->calls("stopAll"), 0);

    windowManager.clickCloseButton(window.winId());
    ASSERT_TRUE(waitFor([&] { return exits == 1; }));
    EXPECT_TRUE(shell().terminating());
    EXPECT_EQ(engine->calls("stopAll"), 1);
}

} // namespace
} // namespace vessora
