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
};

} // namespace vessora
