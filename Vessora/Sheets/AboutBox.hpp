// The application menu's "About Vessora": the program's name, icon and the
// version the update check compares against (or "Development build"). An
// alert with one OK button, re-rendered when the interface language changes,
// and wide enough for its title in a window manager's title bar.
#pragma once

#include <QMessageBox>

namespace vessora {

class AppPreferences;
class AppUpdates;

class AboutBox : public QMessageBox {
    Q_OBJECT

public:
    AboutBox(const AppUpdates& updates, AppPreferences& preferences, QWidget* parent);

private:
    void render();
    void keepTitleRoom(const QString& title);

    const AppUpdates& updates_;
    QPushButton* ok_ = nullptr;
};

} // namespace vessora
