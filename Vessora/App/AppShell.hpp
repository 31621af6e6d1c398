// The application: its long-lived state (model, preferences, update checks),
// the main window, the settings window, and the one road out. The close
// button, the Quit command and the session's signals all call
// requestQuit(): the first request cancels the update check, refuses every
// new action, waits for the running one, stops every environment, and only
// then lets the window close and the event loop end; the window stays
// visible meanwhile with "Stopping environments…". Further requests change
// nothing. A server left running would outlive the program in its own
// process group. Before start() nothing can run yet, so a request then ends
// the program at once.
#pragma once

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/Windows/SettingsWindow.hpp"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace vessora {

class MainWindow;

class AppShell : public QObject {
    Q_OBJECT

public:
    struct Options {
        AppModel::Options model;
        AppUpdates::Options updates;
        // None: the standard user defaults.
        std::shared_ptr<UserDefaults> defaults;
        // Ends the event loop once everything has stopped; none:
        // QCoreApplication::exit(0), queued.
        std::function<void()> exit;

        // The program's: this build, the real engine, registration and
        // release feed, the standard defaults.
        static Options standard();
    };

    // Writes the interface language for the system ("AppleLanguages")
    // before any window exists, then opens the model and builds the window.
    explicit AppShell(Options options, QObject* parent = nullptr);
    ~AppShell() override;

    AppModel& model() { return *model_; }
    AppPreferences& preferences() { return *preferences_; }
    AppUpdates& updates() { return *updates_; }
    MainWindow& window() { return *window_; }
    // None until the settings are first opened, and after they close. A
    // window of its own that belongs to the main window.
    SettingsWindow* settingsWindow() const { return settings_; }

    // Shows the main window with the application icon and starts the
    // window's tasks: the monitor and the automatic update checks (again
    // whenever their preference changes). Does nothing once a quit was
    // asked for.
    void start();

    // The toolbar's language link and the Settings command.
    void openSettings();

    void requestQuit();
    bool terminating() const { return terminating_; }

signals:
    // Every environment has been stopped (or the stop has given up); the
    // event loop ends next.
    void quitFinished();

private:
    std::unique_ptr<AppPreferences> preferences_;
    std::unique_ptr<AppUpdates> updates_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<MainWindow> window_;
    QPointer<SettingsWindow> settings_;
    std::function<void()> exit_;
    bool started_ = false;
    bool terminating_ = false;
};

} // namespace vessora
