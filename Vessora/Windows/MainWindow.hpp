// The one main window: a split view of the sidebar and the detail column
// (update banner, editor or empty state, error, install log, status bar), a
// toolbar with the local-addresses button and the link to the settings,
// the application menu, and the sheets and the delete confirmation, shown
// one at a time while their flags (the model's, and the update details'
// showDetails) are set. It holds no state of its
// own and no engine logic.
//
// Closing the window never closes it directly: it asks for the orderly quit
// (quitRequested), and the shell allows the close once every environment
// has stopped. The Quit keys (pressed in any of the window's windows), the
// Quit menu item and the close button ask for it also while a sheet blocks
// the window.
#pragma once

#include <QMainWindow>

#include <functional>

class QAction;
class QDialog;
class QMenu;
class QToolBar;

namespace vessora {

class AppModel;
class AppPreferences;
class AppUpdates;
class DetailPane;
class SheetPresenter;
class Sidebar;
class StatusBar;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AppModel& model, AppPreferences& preferences, AppUpdates& updates,
               QWidget* parent = nullptr);

    void render();

    // Once set, closing the window closes it.
    void setClosingAllowed(bool allowed) { closingAllowed_ = allowed; }

    SheetPresenter& sheets() const { return *sheets_; }
    DetailPane& detail() const { return *detail_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }

signals:
    // The close button and the Quit command.
    void quitRequested();
    // The toolbar's language link and the Settings command.
    void settingsRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    // Raises and activates the window, as the update details ask.
    void bringForward();
    void buildToolbar();
    // Tab follows the window from top to bottom: the status bar's buttons
    // come after the detail column, also once a new editor's widgets have
    // joined the focus chain at its end.
    void keepStatusBarLastInTabOrder();
    // Opens, queues or closes each sheet after its flag.
    void syncSheets();
    // Asks for the sheet of `key` while `wanted` holds, else dismisses it.
    void presentWhile(const QString& key, bool wanted, std::function<QDialog*(QWidget*)> make,
                      std::function<bool()> stillWanted, std::function<void()> closed);

    AppModel& model_;
    AppPreferences& preferences_;
    AppUpdates& updates_;
    Sidebar* sidebar_;
    DetailPane* detail_;
    StatusBar* statusBar_;
    QWidget* detailScroll_ = nullptr;
    SheetPresenter* sheets_;
    QMenu* appMenu_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* about_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    QAction* settings_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* localAddresses_ = nullptr;
    QAction* language_ = nullptr;
    bool closingAllowed_ = false;
};

} // namespace vessora
