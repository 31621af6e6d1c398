// The settings window: a window of its own, not modal, that holds the
// preferences view and follows its size. Its title follows the interface
// language. The shell opens one and brings it forward when asked again.
#pragma once

#include <QWidget>

namespace vessora {

class AppPreferences;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    // Takes `content` as its only child.
    SettingsWindow(AppPreferences& preferences, QWidget* content, QWidget* parent = nullptr);

    void render();

    // Moves the window over the centre of `window`, kept whole on that
    // window's screen. Call before it is first shown.
    void placeOver(const QWidget& window);
    // The top-left corner for a frame of `frame` centred over `over` and
    // then pushed inside `screen` (its top-left edge wins when too small).
    static QPoint placement(QSize frame, QRect over, QRect screen);
};

} // namespace vessora
