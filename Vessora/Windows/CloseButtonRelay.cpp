#include "Vessora/Windows/CloseButtonRelay.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace vessora {

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : XCB_ATOM_NONE;
}

} // namespace

CloseButtonRelay::CloseButtonRelay(QWidget& window) : QObject(&window), window_(window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    protocols_ = internAtom(connection, "WM_PROTOCOLS");
    deleteWindow_ = internAtom(connection, "WM_DELETE_WINDOW");
    if (protocols_ == XCB_ATOM_NONE || deleteWindow_ == XCB_ATOM_NONE)
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    installed_ = true;
}

CloseButtonRelay::~CloseButtonRelay() {
    if (installed_)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool CloseButtonRelay::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* request = static_cast<const xcb_client_message_event_t*>(message);
    if (request->format != 32 || request->type != protocols_ ||
        request->data.data32[0] != deleteWindow_)
        return false;
    const WId id = window_.internalWinId();
    if (id == 0 || request->window != id)
        return false;
    // After this event is handled, as a click would be.
    QMetaObject::invokeMethod(
        &window_, [window = &window_] { window->close(); }, Qt::QueuedConnection);
    return true;
}

} // namespace vessora
