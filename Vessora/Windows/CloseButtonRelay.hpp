// The window manager's close request for the main window, on X11. While a
// window-modal sheet is open Qt drops that request (a blocked window takes
// no close from the window system), so the close button would do nothing
// during a long import. This filter sees the request first and closes the
// window the way the program itself does, which reaches the window's close
// event and so the orderly quit, blocked or not. Other windows' requests
// (a sheet's own close button) go on to Qt unchanged. Does nothing on any
// other window system.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

class QWidget;

namespace vessora {

class CloseButtonRelay : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Installed for the application while `window` lives.
    explicit CloseButtonRelay(QWidget& window);
    ~CloseButtonRelay() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QWidget& window_;
    bool installed_ = false;
    std::uint32_t protocols_ = 0;
    std::uint32_t deleteWindow_ = 0;
};

} // namespace vessora
